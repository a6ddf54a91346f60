#include "companions/connmap/ordella_connmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

// The record's fields as the hub reads them: offset and kind, with the room of each text.
struct Field {
  const char* name;
  int offset;
  int room;  // 0: a 32-bit integer
};
std::vector<Field> RecordFields() {
  std::vector<Field> fields = {
      {"server address", 2108, 20},
      {"server port", 2128, 10},
      {"relay peer address", 2138, 20},
      {"relay peer port", 2158, 20},
      {"pos listener", 2178, 10},
      {"first ack listener", 2188, 10},
      {"second ack listener", 2198, 10},
      {"tcp terminal port", 2208, 12},
      {"trade name", 2220, 124},
      {"telephone", 2344, 20},
      {"area code", 2364, 5},
      {"business number", 2369, 20},
      {"pharmacy code", 2389, 7},
      {"program index", 2396, 0},
      {"business address", 2405, 200},
      {"owner", 2605, 35},
      {"terminal count", 2640, 0},
      {"payment path", 2652, 0},
      {"second copy", 3072, 0},
      {"log flag", 3080, 0},
      {"convert print", 3104, 0},
  };
  for (int i = 0; i < 3; ++i) {
    const int slot = 2664 + 136 * i;
    fields.push_back({"terminal id", slot + 4, 20});
    fields.push_back({"field 21", slot + 24, 20});
    fields.push_back({"field 19", slot + 44, 28});
    fields.push_back({"serial port", slot + 72, 0});
    fields.push_back({"field 11", slot + 92, 20});
    fields.push_back({"field 10", slot + 112, 20});
  }
  return fields;
}

bool IsPortField(const Field& field) {
  const std::string name = field.name;
  return name.find("port") != std::string::npos || name.find("listener") != std::string::npos;
}

std::string Text(const char* record, int offset) { return record + offset; }

int32_t Int(const char* record, int offset) {
  int32_t value = 0;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

std::string FileText(const fs::path& file) {
  return platform::testing::ReadFile(file);
}

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

class PropertyMapTest : public testing::Test {
 protected:
  ~PropertyMapTest() override { ClosePropertyMap(); }
  fs::path SettingsFile() const {
    return prefix_.path() / "drive_c" / "tavenor" / "ordella_connmap.ini";
  }
  platform::testing::TempPrefix prefix_;
};

TEST_F(PropertyMapTest, MissingFileGivesTheDefaults) {
  ASSERT_EQ(CreatePropertyMap(), 1);
  const char* record = GetPropertyMap();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Text(record, 0), "c:\\tavenor");
  EXPECT_EQ(Text(record, 2108), "127.0.0.1");
  EXPECT_EQ(Text(record, 2128), "9100");
  EXPECT_EQ(Text(record, 2138), "0.0.0.0");
  for (int listener : {2178, 2188, 2198}) EXPECT_EQ(Text(record, listener), "0000");
  EXPECT_EQ(Int(record, 2396), 1);
  EXPECT_EQ(Int(record, 2640), 1);
  EXPECT_EQ(Int(record, 2652), 0);
  EXPECT_EQ(Int(record, 2664 + 72), 1) << "terminal 0 on COM1";
  EXPECT_EQ(Int(record, 3080), 1);
  EXPECT_FALSE(fs::exists(SettingsFile())) << "loading writes nothing";
  // Bytes that no field uses stay zero.
  EXPECT_EQ(record[2108 - 1], 0);
  EXPECT_EQ(record[4095], 0);
}

TEST_F(PropertyMapTest, ReadsTheFileOfTheInstallDirectoryFromTheRegistry) {
  ASSERT_EQ(platform::RegSetString("Software\\Tavenor\\Update", "path", "d:\\Pharmacy\\GW"),
            platform::RegStatus::kOk);
  WriteFile(prefix_.path() / "drive_d" / "Pharmacy" / "GW" / "ordella_connmap.ini",
            "# comment\r\n"
            "; another comment\r\n"
            "\r\n"
            "  server_address = 10.0.0.5  \r\n"
            "TERMINAL_COUNT=2\r\n"
            "trade_name = \xED\x95\x9C\xEB\xB9\x9B\xEC\x95\xBD\xEA\xB5\xAD # not a comment\r\n"
            "owner_name = \"  spaced  \"\r\n"
            "terminal1_port = 7\r\n"
            "terminal0_port = 0\r\n"
            "telephone =\r\n");
  ASSERT_EQ(CreatePropertyMap(), 1);
  const char* record = GetPropertyMap();
  EXPECT_EQ(Text(record, 0), "d:\\Pharmacy\\GW");
  EXPECT_EQ(Text(record, 2108), "10.0.0.5");
  EXPECT_EQ(Int(record, 2640), 2);
  // The file is UTF-8; the record holds CP949.
  EXPECT_EQ(Text(record, 2220), "\xC7\xD1\xBA\xFB\xBE\xE0\xB1\xB9 # not a comment");
  EXPECT_EQ(Text(record, 2605), "  spaced  ");
  EXPECT_EQ(Int(record, 2664 + 136 + 72), 7);
  EXPECT_EQ(Int(record, 2664 + 72), 0);
  EXPECT_EQ(Text(record, 2344), "");
  EXPECT_EQ(Text(record, 2128), "9100") << "keys not given keep their default";
}

TEST_F(PropertyMapTest, BadSettingsAreRefusedNamingTheKeyAndLine) {
  struct Case {
    std::string line;
    std::string expected;  // in the message
  };
  const Case cases[] = {
      {"colour = blue", "line 2: unknown key \"colour\""},
      {"server_address 10.0.0.1", "line 2: \"server_address 10.0.0.1\" has no '='"},
      {"terminal_count = two", "line 2, key \"terminal_count\": \"two\" is not a number"},
      {"terminal_count = 4", "line 2, key \"terminal_count\": 4 is outside 0-3"},
      {"terminal_count = -1", "outside 0-3"},
      {"program_index = 17", "key \"program_index\": 17 is outside 0-16"},
      {"payment_path = 3", "key \"payment_path\": 3 is outside 0-2"},
      {"terminal0_port = 1x", "key \"terminal0_port\": \"1x\" is not a number"},
      {"server_port = 70000", "key \"server_port\": \"70000\" is not a port number"},
      {"pos_listener_port = off", "key \"pos_listener_port\": \"off\" is not a port number"},
      // 20 bytes of room: 19 bytes of text and the zero.
      {"server_address = 12345678901234567890", "key \"server_address\": the text of 20 bytes"},
      {"area_code = 02345", "key \"area_code\": the text of 5 bytes does not fit its room of 4"},
      {"trade_name = \xFF\xFE", "key \"trade_name\": the value is not UTF-8"},
      {"LOG_FLAG = 0", "line 2, key \"log_flag\": given twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteFile(SettingsFile(), "log_flag = 1\n" + c.line + "\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreatePropertyMap(), 0);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find(c.expected), std::string::npos) << printed;
    EXPECT_NE(printed.find("ordella_connmap.ini"), std::string::npos) << printed;
    EXPECT_EQ(GetPropertyMap(), nullptr);
  }
  // A settings file that cannot be read is an error too, not a reason to take the defaults.
  fs::remove(SettingsFile());
  fs::create_directory(SettingsFile());
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreatePropertyMap(), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot read"), std::string::npos);

  // The errors went to the diagnostic log of the install directory too.
  const fs::path log_folder = prefix_.path() / "drive_c" / "tavenor" / "Log";
  ASSERT_TRUE(fs::exists(log_folder));
  const std::string logged = platform::testing::ReadFilesBelow(log_folder);
  EXPECT_NE(logged.find("[ConnMap] "), std::string::npos);
  EXPECT_NE(logged.find("[ConnMap] "), std::string::npos) << logged;
  EXPECT_NE(logged.find("key \"payment_path\": 3 is outside 0-2"), std::string::npos) << logged;
}

TEST_F(PropertyMapTest, EveryFieldSurvivesASaveAndAReload) {
  ASSERT_EQ(CreatePropertyMap(), 1);
  char* record = GetPropertyMap();
  // Every field at its fullest: texts as long as their room allows (some Korean, some with
  // blanks at their ends), integers at the top of their range; the sign-on texts included.
  int n = 0;
  for (const Field& field : RecordFields()) {
    SCOPED_TRACE(field.name);
    ++n;
    if (field.room == 0) {
      const std::map<int, int32_t> largest = {{2396, 16}, {2640, 3}, {2652, 2},
                                              {3072, 1},  {3080, 1}, {3104, 1}};
      const auto top = largest.find(field.offset);
      const int32_t value = top != largest.end() ? top->second : 200 + n;
      std::memcpy(record + field.offset, &value, sizeof value);
      continue;
    }
    const size_t length = static_cast<size_t>(field.room) - 1;
    std::string text;
    if (IsPortField(field)) {
      text = std::to_string(10000 + n).substr(0, std::min<size_t>(length, 5));
    } else if (n % 3 == 0) {
      while (text.size() + 2 <= length) text += "\xB0\xA1";
      text.resize(length, 'k');
    } else {
      text = " " + std::string(length - 2, static_cast<char>('A' + n % 26)) + " ";
    }
    std::memset(record + field.offset, 0, static_cast<size_t>(field.room));
    std::memcpy(record + field.offset, text.data(), text.size());
  }
  std::vector<char> before(record, record + connmap::kPropertyMapSize);

  ASSERT_EQ(SavePropertyMap(), 1);
  for (const auto& entry : fs::directory_iterator(SettingsFile().parent_path())) {
    EXPECT_EQ(entry.path().filename(), "ordella_connmap.ini") << "no temporary file is left";
  }
  ClosePropertyMap();
  EXPECT_EQ(GetPropertyMap(), nullptr);
  ASSERT_EQ(CreatePropertyMap(), 1);
  const char* reloaded = GetPropertyMap();
  for (const Field& field : RecordFields()) {
    EXPECT_EQ(std::memcmp(reloaded + field.offset, before.data() + field.offset,
                          field.room == 0 ? 4 : static_cast<size_t>(field.room)),
              0)
        << field.name << " at " << field.offset;
  }
  EXPECT_EQ(std::memcmp(reloaded, before.data(), before.size()), 0) << "and nothing else";
}

TEST_F(PropertyMapTest, ASaveThatCannotBeFaithfulChangesNothing) {
  WriteFile(SettingsFile(), "server_address = 10.1.1.1\n");
  const std::string before = FileText(SettingsFile());
  ASSERT_EQ(CreatePropertyMap(), 1);
  char* record = GetPropertyMap();
  struct Case {
    const char* what;
    int offset;
    std::string bytes;
  };
  const Case cases[] = {
      {"text filling its room without a zero", 2389, std::string(7, '7')},
      {"control character", 2220, std::string("a\nb\0", 4)},
      {"integer out of range", 2640, std::string("\x09\0\0\0", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<char> saved(record + c.offset, record + c.offset + c.bytes.size());
    std::memcpy(record + c.offset, c.bytes.data(), c.bytes.size());
    testing::internal::CaptureStderr();
    EXPECT_EQ(SavePropertyMap(), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not saved"), std::string::npos);
    EXPECT_EQ(FileText(SettingsFile()), before);
    std::memcpy(record + c.offset, saved.data(), saved.size());
  }
  EXPECT_EQ(SavePropertyMap(), 1);
  ClosePropertyMap();
  EXPECT_EQ(SavePropertyMap(), 0) << "no record open";
}

TEST_F(PropertyMapTest, UnreadableRegistryStopsTheStart) {
  WriteFile(prefix_.path() / "registry.reg", "garbage\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreatePropertyMap(), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("registry"), std::string::npos);
}

TEST_F(PropertyMapTest, EveryKeyIsDocumentedWithItsDefault) {
  ASSERT_EQ(CreatePropertyMap(), 1);
  ASSERT_EQ(SavePropertyMap(), 1);
  const char* source = std::getenv("ORDELLA_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  // SETTINGS.md rows: | `key` | `default` or *(empty)* | ...; a terminal slot's keys are written
  // once, as terminalN_..., with a default that may depend on N.
  std::map<std::string, std::string> documented;
  std::istringstream doc(FileText(fs::path(source) / "companions/connmap/SETTINGS.md"));
  const std::regex row(R"(^\| `(\w+)` \| (?:`([^`]*)`|\*\(empty\)\*) \|)");
  for (std::string line; std::getline(doc, line);) {
    std::smatch match;
    if (std::regex_search(line, match, row)) documented[match[1]] = match[2];
  }
  std::istringstream saved(FileText(SettingsFile()));
  const std::regex setting(R"(^(\w+) =(?: (.*))?$)");
  const std::regex slot_key("^terminal[0-2]_");
  int keys = 0;
  for (std::string line; std::getline(saved, line);) {
    std::smatch match;
    if (!std::regex_match(line, match, setting)) continue;
    ++keys;
    const std::string key = std::regex_replace(match[1].str(), slot_key, "terminalN_");
    const auto found = documented.find(key);
    ASSERT_NE(found, documented.end()) << key << " is not documented";
    if (key != match[1].str() && found->second.find('N') != std::string::npos) continue;
    EXPECT_EQ(found->second, match[2].str()) << key;
  }
  EXPECT_EQ(keys, static_cast<int>(RecordFields().size())) << "one key per field";
}

}  // namespace
