#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/prefix.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  return testing::ReadFile(path);
}

TEST(TickCountTest, AdvancesAtLeastByTheTimeSlept) {
  uint32_t before = GetTickCount();
  SleepMs(30);
  uint32_t elapsed = GetTickCount() - before;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 30U);
}

TEST(ComputerNameTest, IsTheHostNameWithoutItsDomain) {
  std::string host = ReadText("/proc/sys/kernel/hostname");
  while (!host.empty() && host.back() == '\n') host.pop_back();
  std::string name = ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find('.'), std::string::npos);
  EXPECT_EQ(host.substr(0, host.find('.')), name);
}

TEST(AdapterAddressTest, IsTheAddressOfARealInterface) {
  std::set<std::string> hardware;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/net", error)) {
    if (entry.path().filename() == "lo") continue;
    std::string address = ReadText(entry.path() / "address");
    while (!address.empty() && address.back() == '\n') address.pop_back();
    if (address.size() == 17 && address != "00:00:00:00:00:00") hardware.insert(address);
  }
  std::optional<std::array<uint8_t, 6>> found = FirstAdapterAddress();
  if (!found) {
    EXPECT_TRUE(hardware.empty()) << "an adapter was missed";
    return;
  }
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", (*found)[0], (*found)[1],
                (*found)[2], (*found)[3], (*found)[4], (*found)[5]);
  EXPECT_EQ(hardware.count(text), 1U) << text;
}

TEST(FileVersionTest, ReadsTheStampedVersion) {
  testing::TempPrefix prefix;
  const std::string marker = std::string("ORDELLA_FILE_") + "VERSION=";
  const std::string nul(1, '\0');
  struct Case {
    std::string contents;
    std::optional<std::string> version;
  };
  const Case cases[] = {
      {"\x7F"
       "ELF junk" +
           nul + marker + "1.2.0.2" + nul + "more",
       "1.2.0.2"},
      {marker + "1.0.0.1" + nul, "1.0.0.1"},
      {marker + nul + "x" + marker + "3.4" + nul, "3.4"},  // an empty stamp is not a version
      {marker + "1.0 beta" + nul + marker + "2.0" + nul, "2.0"},
      {marker + "1.0.0.1", std::nullopt},  // no end
      {marker + ".1" + nul, std::nullopt},
      {"no stamp at all" + nul, std::nullopt},
      {"", std::nullopt},
  };
  fs::path dir = prefix.path() / "drive_c" / "tavenor";
  fs::create_directories(dir);
  for (const Case& c : cases) {
    std::ofstream(dir / "Ordella_VanExcute", std::ios::binary | std::ios::trunc) << c.contents;
    EXPECT_EQ(FileVersion((dir / "Ordella_VanExcute").string()), c.version) << c.contents;
    EXPECT_EQ(FileVersion("C:\\Tavenor\\Ordella_VanExcute"), c.version) << c.contents;
  }
  EXPECT_EQ(FileVersion("c:\\tavenor\\absent"), std::nullopt);
  EXPECT_EQ(FileVersion("c:\\tavenor"), std::nullopt);
}

TEST(FileVersionTest, AProgramWithoutAStampHasNone) {
  // This test program holds the search code but was not stamped.
  EXPECT_EQ(FileVersion((ProgramDir() / "platform_system_info_test").string()), std::nullopt);
}

}  // namespace
}  // namespace platform
