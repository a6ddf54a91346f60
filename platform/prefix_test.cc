#include "platform/prefix.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

class MapPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root() / "drive_c" / "PM2000V6");
    std::ofstream(root() / "drive_c" / "PM2000V6" / "PM2000V6.INI") << "[DATAPATH]\n";
    fs::create_directories(root() / "unc" / "Server" / "Share");
  }
  const fs::path& root() const { return prefix_.path(); }

  testing::TempPrefix prefix_;
};

TEST_F(MapPathTest, MapsWindowsPathsBelowThePrefix) {
  struct Case {
    const char* windows;
    const char* below_prefix;
  };
  const Case cases[] = {
      {"c:\\tavenor\\RetaloTemp.db", "drive_c/tavenor/RetaloTemp.db"},
      {"C:/tavenor/x", "drive_c/tavenor/x"},
      {"d:\\data", "drive_d/data"},
      {"c:", "drive_c"},
      {"C:\\PM2000V6\\PM2000V6.ini", "drive_c/PM2000V6/PM2000V6.INI"},
      {"c:\\pm2000v6\\pm2000v6.ini", "drive_c/PM2000V6/PM2000V6.INI"},
      {"c:\\pm2000v6\\TEMP\\new.txt", "drive_c/PM2000V6/TEMP/new.txt"},
      {"c:\\a\\.\\b\\..\\c\\\\d\\", "drive_c/a/c/d"},
      {"\\\\srv\\share\\PM2000V6\\TEMP\\SERVERIP.txt", "unc/srv/share/PM2000V6/TEMP/SERVERIP.txt"},
      {"\\\\SERVER\\share\\x", "unc/Server/Share/x"},
      {"\\\\?\\c:\\x", "drive_c/x"},
      {"\\tavenor\\x", "drive_c/tavenor/x"},
      {"tavenor\\log.txt", "tavenor/log.txt"},
      {"a\\..\\b", "b"},
  };
  for (const Case& c : cases) {
    std::optional<fs::path> mapped = MapPath(c.windows);
    ASSERT_TRUE(mapped.has_value()) << c.windows;
    EXPECT_EQ(*mapped, root() / c.below_prefix) << c.windows;
  }
}

TEST_F(MapPathTest, RefusesPathsThatLeaveTheirRoot) {
  const char* refused[] = {
      "c:\\..\\..\\etc\\passwd", "c:\\a\\..\\..\\x",      "..\\x",   "a\\..\\..\\x", "c:..\\x",
      "\\\\srv\\..\\x",          "\\\\srv\\share\\..\\x", "\\\\srv", "\\\\\\share",  "",
  };
  for (const char* path : refused) EXPECT_FALSE(MapPath(path).has_value()) << path;
  EXPECT_FALSE(MapPath(std::string_view("c:\\a\0b", 6)).has_value());
}

TEST_F(MapPathTest, SerialPortsUseTheDeviceLinkWhenPresent) {
  EXPECT_EQ(MapPath("COM3"), fs::path("/dev/ttyS2"));
  EXPECT_EQ(MapPath("com1:"), fs::path("/dev/ttyS0"));
  EXPECT_EQ(MapPath("\\\\.\\COM10"), fs::path("/dev/ttyS9"));

  fs::create_directories(root() / "dosdevices");
  fs::create_symlink("/dev/pts/7", root() / "dosdevices" / "com3");
  EXPECT_EQ(MapPath("Com3"), root() / "dosdevices" / "com3");
  EXPECT_EQ(MapPath("COM3"), root() / "dosdevices" / "com3") << "as asked before the link";
  // Not port names: ordinary relative files.
  EXPECT_EQ(MapPath("COM0"), root() / "COM0");
  EXPECT_EQ(MapPath("COM3.txt"), root() / "COM3.txt");
}

TEST_F(MapPathTest, MatchesCaseOnlyInAsciiLettersOfCp949Names) {
  // 0xB0 0x41 and 0xB0 0x61 are two different Hangul syllables whose second bytes look like
  // 'A' and 'a'; they must not be taken for each other.
  fs::create_directories(root() / "drive_c" / "\xB0\x61");
  EXPECT_EQ(MapPath("c:\\\xB0\x41"), root() / "drive_c" / "\xB0\x41");
  EXPECT_EQ(MapPath("c:\\\xB0\x61"), root() / "drive_c" / "\xB0\x61");
  fs::create_directories(root() / "drive_c" /
                         "\xC6\xC7"
                         "Data");
  EXPECT_EQ(MapPath("C:\\\xC6\xC7"
                    "DATA"),
            root() / "drive_c" /
                "\xC6\xC7"
                "Data");
}

// Mappings are kept between calls; each must still give what the directories hold now.
TEST_F(MapPathTest, SeesWhatChangedInTheDirectoriesSinceTheLastMapping) {
  const fs::path dir = root() / "drive_c" / "PM2000V6";
  struct Step {
    const char* what;
    std::function<void()> change;
    const char* windows;
    const char* below_prefix;
  };
  const std::vector<Step> steps = {
      {"as found", [] {}, "c:\\pm2000v6\\temp\\new.txt", "drive_c/PM2000V6/temp/new.txt"},
      {"a folder created", [&] { fs::create_directories(dir / "TEMP"); },
       "c:\\pm2000v6\\temp\\new.txt", "drive_c/PM2000V6/TEMP/new.txt"},
      {"a file created", [&] { std::ofstream(dir / "TEMP" / "NEW.TXT") << "x"; },
       "c:\\pm2000v6\\temp\\new.txt", "drive_c/PM2000V6/TEMP/NEW.TXT"},
      {"a parent renamed", [&] { fs::rename(dir, root() / "drive_c" / "Pm2000v6"); },
       "c:\\pm2000v6\\temp\\new.txt", "drive_c/Pm2000v6/TEMP/NEW.TXT"},
      {"a file removed",
       [&] { fs::remove(root() / "drive_c" / "Pm2000v6" / "TEMP" / "NEW.TXT"); },
       "c:\\pm2000v6\\temp\\new.txt", "drive_c/Pm2000v6/TEMP/new.txt"},
      {"a file replaced under another spelling",
       [&] {
         fs::remove(root() / "drive_c" / "Pm2000v6" / "PM2000V6.INI");
         std::ofstream(root() / "drive_c" / "Pm2000v6" / "pm2000v6.Ini") << "[DATAPATH]\n";
       },
       "C:\\PM2000V6\\PM2000V6.ini", "drive_c/Pm2000v6/pm2000v6.Ini"},
      {"the drive removed", [&] { fs::remove_all(root() / "drive_c"); },
       "C:\\PM2000V6\\PM2000V6.ini", "drive_c/PM2000V6/PM2000V6.ini"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(MapPath(step.windows), root() / step.below_prefix);
    EXPECT_EQ(MapPath(step.windows), root() / step.below_prefix) << "asked again";
  }
}

TEST(NamesEqualIgnoringCaseTest, FoldsOnlyAsciiLetters) {
  struct Case {
    std::string_view a, b;
    bool equal;
  };
  const Case cases[] = {
      {"PM2000V6.INI", "pm2000v6.ini", true},
      {"Helvar.exe", "HELVAR.EXE", true},
      {"a", "ab", false},
      {"[", "{", false},
      {"\xB0\x41", "\xB0\x61", false},
      {"\xC6\xC7x", "\xC6\xC7X", true},
      {"\xC3\x89", "\xC3\xA9", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamesEqualIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

TEST(PrefixRootTest, FollowsTheEnvironmentAndCreatesTheDirectory) {
  testing::TempPrefix outer;
  fs::path nested = outer.path() / "a" / "b";
  setenv("ORDELLA_PREFIX", nested.c_str(), 1);
  EXPECT_EQ(PrefixRoot(), nested);
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_EQ(RunDir(), nested / "run");
  EXPECT_TRUE(fs::is_directory(nested / "run"));

  const char* home = getenv("HOME");
  std::string saved_home = home != nullptr ? home : "";
  setenv("HOME", outer.path().c_str(), 1);
  unsetenv("ORDELLA_PREFIX");
  EXPECT_EQ(PrefixRoot(), outer.path() / ".ordella");
  EXPECT_TRUE(fs::is_directory(outer.path() / ".ordella"));
  setenv("HOME", saved_home.c_str(), 1);
}

TEST(ResolvePathTest, TakesPosixPathsAsTheyAre) {
  testing::TempPrefix prefix;
  EXPECT_EQ(ResolvePath("/usr/lib/../bin/true"), fs::path("/usr/bin/true"));
  EXPECT_EQ(ResolvePath("c:\\x"), prefix.path() / "drive_c" / "x");
  EXPECT_EQ(ResolvePath("//srv/share/x"), prefix.path() / "unc" / "srv" / "share" / "x");
  EXPECT_EQ(ResolvePath("/a\\b"), prefix.path() / "drive_c" / "a" / "b");
}

TEST(ProgramDirTest, IsWhereTheRunningProgramLives) {
  EXPECT_TRUE(fs::exists(ProgramDir() / "platform_prefix_test"));
}

}  // namespace
}  // namespace platform
