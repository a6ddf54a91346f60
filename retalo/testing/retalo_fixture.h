// What the database writer's tests share: a temporary prefix with the fixture databases loaded
// and the day's log switched on, a way to look at (or prepare) the databases with plain SQLite,
// and the log read back without its time stamps.
//
// Every test of the writer runs on both backends, from one body: the embedded SQLite backend,
// and ODBC through unixODBC's driver manager to the T-SQL stand-in server on the same files
// (retalo/db/testing/README.md). A suite derives from RetaloTest, writes TEST_P, and ends with
// RETALO_ON_EVERY_BACKEND(Suite). Failures are placed with DropAt / DropAtCommit, which both
// backends follow alike.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/testing/standin_setup.h"
#include "retalo/testing/dropping_backend.h"
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

// The backends the writer's tests run on.
enum class Backend {
  kEmbedded,  // the SQLite files through the T-SQL layer, in the process
  kOdbc,      // the same files behind the T-SQL stand-in, through the driver manager
};

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kEmbedded ? "Embedded" : "Odbc";
}

#define RETALO_ON_EVERY_BACKEND(suite)                                                             \
  INSTANTIATE_TEST_SUITE_P(                                                                        \
      Backends, suite,                                                                             \
      ::testing::Values(::retalo::testing::Backend::kEmbedded, ::retalo::testing::Backend::kOdbc), \
      ::retalo::testing::BackendName)

class RetaloTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"),
              platform::RegStatus::kOk);
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    drop_.reset();
    if (odbc()) {
      ASSERT_TRUE(standin::InstallStandIn(fixture::DefaultDir(), &error)) << error;
    }
  }

  bool odbc() const { return GetParam() == Backend::kOdbc; }

  // The connections of the export calls that follow (made with the options returned) drop at
  // the `occurrence`-th statement holding `statement`, counted over the calls' connections.
  CAdoConnection::Options DropAt(std::string_view statement, int occurrence = 1) {
    standin::DropPlan plan;
    plan.statement = statement;
    plan.occurrence = occurrence;
    return Plan(plan);
  }
  // ... at the first commit.
  CAdoConnection::Options DropAtCommit() {
    standin::DropPlan plan;
    plan.at_commit = true;
    return Plan(plan);
  }
  // ... or refuse the `connection`-th connection (from 1) of the calls that follow.
  CAdoConnection::Options RefuseConnection(int connection) {
    standin::DropPlan plan;
    plan.refuse_connection = connection;
    return Plan(plan);
  }
  // True once the planned drop (or refusal) has happened.
  bool Dropped() const {
    return odbc() ? standin::ReadDropState().dropped : drop_ && drop_->state.dropped;
  }

  // Runs one plain SQLite statement (schema-qualified names) on the fixture databases; the
  // rows as UTF-8, cells joined by '|', rows by '\n'.
  static std::string Query(std::string_view sql) {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &error)) << error << "\n"
                                                                                  << sql;
    return rows;
  }

  // Makes the pharmacy databases unreachable: the embedded backend's folder has none, the
  // stand-in server cannot open its own.
  void MakeDatabaseUnreachable() {
    if (odbc()) {
      ASSERT_TRUE(standin::WriteControl(
          standin::ServerForThisPrefix(fixture::DefaultDir() / "nowhere"), standin::DropPlan{}));
      return;
    }
    ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "SqliteDir", "c:\\nowhere"),
              platform::RegStatus::kOk);
  }
  // ... and reachable again.
  void MakeDatabaseReachable() {
    if (odbc()) {
      ASSERT_TRUE(standin::WriteControl(standin::ServerForThisPrefix(fixture::DefaultDir()),
                                        standin::DropPlan{}));
      return;
    }
    platform::RegDeleteValue("Software\\Tavenor", "SqliteDir");
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

 private:
  CAdoConnection::Options Plan(const standin::DropPlan& plan) {
    if (odbc()) {
      EXPECT_TRUE(standin::WriteControl(standin::ServerForThisPrefix(fixture::DefaultDir()), plan));
      return CAdoConnection::Options{};
    }
    drop_ = std::make_shared<DropProgress>();
    drop_->plan = plan;
    return DropConnection(drop_);
  }

  std::shared_ptr<DropProgress> drop_;
};

}  // namespace retalo::testing
