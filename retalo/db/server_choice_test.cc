#include "retalo/db/server_choice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>

#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"
#include "retalo/db/log_writer.h"

namespace retalo {
namespace {

void WriteFile(std::string_view windows_path, std::string_view bytes) {
  std::filesystem::path path = *platform::MapPath(windows_path);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

struct ChoiceCase {
  const char* what;
  std::string computer;
  std::optional<std::string> datapath;  // "DATAPATH"/"PATH"; nullopt: no such key
  std::string gateway;                  // "Ordella게이트웨이"/"PATH"
  std::map<std::string, std::string> addresses;
  std::optional<std::string> address_file;  // SERVERIP.txt of server "SERVER1"
  std::string expected;
  std::vector<std::string> expected_lookups;
};

TEST(ChooseServerTest, FollowsTheSettingsFileAndTheAddressFile) {
  const ChoiceCase cases[] = {
      {"no configured server: this computer, nothing resolved",
       "counter1",
       "",
       "",
       {},
       "10.0.0.5",
       "COUNTER1",
       {}},
      {"no DATAPATH key at all", "counter1", std::nullopt, "", {}, std::nullopt, "COUNTER1", {}},
      {"a name differing only in case is this computer",
       "Pharm01",
       "PHARM01",
       "",
       {},
       std::nullopt,
       "PHARM01",
       {}},
      {"a resolving name gives its address",
       "counter1",
       "server1",
       "",
       {{"SERVER1", "192.168.0.10"}},
       "10.0.0.5",
       "192.168.0.10",
       {"SERVER1"}},
      {"gateway path set: the address file is not read",
       "counter1",
       "server1",
       "C:\\GW",
       {},
       "10.0.0.5",
       "SERVER1",
       {"SERVER1"}},
      {"no gateway path: the address file's first line, trimmed",
       "counter1",
       "server1",
       "",
       {},
       "  10.0.0.5 \r\n10.0.0.6\r\n",
       "10.0.0.5",
       {"SERVER1"}},
      {"a blank first line keeps the name",
       "counter1",
       "server1",
       "",
       {},
       " \t\r\n10.0.0.6\r\n",
       "SERVER1",
       {"SERVER1"}},
      {"no address file keeps the name",
       "counter1",
       "server1",
       "",
       {},
       std::nullopt,
       "SERVER1",
       {"SERVER1"}},
      {"the configured name is read into 16 bytes",
       "counter1",
       "ABCDEFGHIJKLMNOPQ",
       "",
       {{"ABCDEFGHIJKLMNO", "10.1.1.1"}},
       std::nullopt,
       "10.1.1.1",
       {"ABCDEFGHIJKLMNO"}},
      {"so is the computer name",
       "verylongcomputername",
       "",
       "",
       {},
       std::nullopt,
       "VERYLONGCOMPUTE",
       {}},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.what);
    platform::testing::TempPrefix prefix;
    std::string ini;
    if (c.datapath) ini += "[DATAPATH]\r\nPATH=" + *c.datapath + "\r\n";
    if (!c.gateway.empty()) ini += Cp949("[Ordella게이트웨이]") + "\r\nPATH=" + c.gateway + "\r\n";
    WriteFile(kPm2000Ini, ini);
    if (c.address_file) WriteFile("\\\\SERVER1\\PM2000V6\\TEMP\\SERVERIP.txt", *c.address_file);

    std::vector<std::string> lookups;
    ServerLookup lookup{
        [&] { return c.computer; },
        [&](const std::string& name) {
          lookups.push_back(name);
          auto found = c.addresses.find(name);
          return found == c.addresses.end() ? std::string() : found->second;
        },
    };
    EXPECT_EQ(ChooseServer(lookup), c.expected);
    EXPECT_EQ(lookups, c.expected_lookups);
  }
}

TEST(OdbcConnectionStringTest, NamesTheInstanceAndTheServerInBothPlaces) {
  EXPECT_EQ(OdbcConnectionString("FreeTDS", "192.168.0.10"),
            "DRIVER={FreeTDS};SERVER=192.168.0.10\\PM2005;UID=sa;PWD={Vq7#mL2&xR};"
            "DATABASE=master;WSID=192.168.0.10");
  // A server text from a file must not add settings of its own to the string.
  EXPECT_EQ(OdbcConnectionString("FreeTDS", "10.0.0.5;DATABASE=x"), "");
  EXPECT_EQ(OdbcConnectionString("FreeTDS", "a}b"), "");
  EXPECT_EQ(OdbcConnectionString("FreeTDS", ""), "");
}

}  // namespace
}  // namespace retalo
