// Test support: an in-memory pharmacy database (three attached in-memory databases PM_DRUG,
// PM_BASE and PM_PRES) with the SQL Server functions registered, and helpers to run T-SQL on it.
// The tests of the system's texts lay the fixture schema (tests/fixtures/schema.sql) on it.
#ifndef RETALO_DB_TSQL_TEST_DATABASE_H_
#define RETALO_DB_TSQL_TEST_DATABASE_H_

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "retalo/db/tsql/tsql.h"

namespace tsql::testing {

class TestDatabase {
 public:
  TestDatabase();
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  sqlite3* db() const { return db_; }

  // Runs native SQLite text (schema, rows); a failure fails the test.
  void Exec(const std::string& sqlite_sql);
  // Runs a T-SQL batch that must succeed.
  BatchResult Run(std::string_view tsql);
  // Runs a T-SQL batch that must fail and returns its message.
  std::string Error(std::string_view tsql);
  // The first cell of the first result set of a batch that must succeed ("NULL" for NULL).
  std::string Value(std::string_view tsql);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace tsql::testing

#endif  // RETALO_DB_TSQL_TEST_DATABASE_H_
