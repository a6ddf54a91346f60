// What the database writer's tests share: a temporary prefix with the fixture databases loaded
// and the day's log switched on, a way to look at (or prepare) the databases with plain SQLite,
// and the log read back without its time stamps.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "retalo/db/log_writer.h"
#include "tests/fixtures/fixture.h"

namespace retalo::testing {

// UTF-8 text of this source as the CP949 bytes the exports take and give.
inline std::string Cp(std::string_view utf8) { return platform::Utf8ToCp949(utf8).value(); }
inline std::string Utf8(std::string_view cp949) {
  return platform::Cp949ToUtf8(cp949).value_or("(not CP949)");
}

// "‡", the separator of parameter texts, in CP949.
inline const std::string kSep = "\xA2\xD4";

// Joins UTF-8 fields with the parameter separator, as CP949.
inline std::string Params(std::initializer_list<std::string_view> fields) {
  std::string text;
  for (std::string_view field : fields) {
    if (!text.empty()) text += kSep;
    text += Cp(field);
  }
  return text;
}

class RetaloTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"),
              platform::RegStatus::kOk);
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
  }

  // Runs one plain SQLite statement (schema-qualified names) on the fixture databases; the
  // rows as UTF-8, cells joined by '|', rows by '\n'.
  static std::string Query(std::string_view sql) {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &error)) << error << "\n"
                                                                                  << sql;
    return rows;
  }

  // Points the database writer at a folder without databases.
  static void MakeDatabaseUnreachable() {
    ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "SqliteDir", "c:\\nowhere"),
              platform::RegStatus::kOk);
  }

  // Every log file of the prefix, as UTF-8 with LF line ends and without the time stamps.
  static std::string LogText() {
    const auto dir = platform::MapPath("c:\\tavenor\\log");
    const std::string all = dir ? platform::testing::ReadFilesBelow(*dir) : std::string();
    std::string lf;
    for (char c : all) {
      if (c != '\r') lf += c;
    }
    static const std::regex kStamp("(^|\n)[0-9]{2}:[0-9]{2}:[0-9]{2} ");
    return std::regex_replace(Utf8(lf), kStamp, "$1");
  }

  // The separator line that ends every log record.
  static std::string Rule() { return std::string(83, '-') + "\n"; }

  platform::testing::TempPrefix prefix_;
};

}  // namespace retalo::testing
