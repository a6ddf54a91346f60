#include "retalo/db/tsql/test_database.h"

#include <gtest/gtest.h>

namespace tsql::testing {

TestDatabase::TestDatabase() {
  EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
  Exec("ATTACH ':memory:' AS PM_DRUG; ATTACH ':memory:' AS PM_BASE; ATTACH ':memory:' AS PM_PRES;");
  std::string error;
  EXPECT_TRUE(RegisterFunctions(db_, &error)) << error;
}

TestDatabase::~TestDatabase() { sqlite3_close(db_); }

void TestDatabase::Exec(const std::string& sqlite_sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sqlite_sql.c_str(), nullptr, nullptr, &message);
  EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "") << "\nin: " << sqlite_sql;
  sqlite3_free(message);
}

BatchResult TestDatabase::Run(std::string_view tsql) {
  BatchResult result;
  std::string error;
  EXPECT_TRUE(RunBatch(db_, tsql, &result, &error)) << error << "\nin: " << tsql;
  return result;
}

std::string TestDatabase::Error(std::string_view tsql) {
  BatchResult result;
  std::string error;
  EXPECT_FALSE(RunBatch(db_, tsql, &result, &error)) << "ran: " << tsql;
  return error;
}

std::string TestDatabase::Value(std::string_view tsql) {
  BatchResult result = Run(tsql);
  if (result.result_sets.empty() || result.result_sets[0].rows.empty()) return "<no row>";
  const Cell& cell = result.result_sets[0].rows[0][0];
  return cell.is_null ? "NULL" : cell.text;
}

}  // namespace tsql::testing
