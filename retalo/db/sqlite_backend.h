// The pharmacy databases as three SQLite files, PM_DRUG.db, PM_BASE.db and PM_PRES.db, in one
// folder, attached under the names PM_DRUG, PM_BASE and PM_PRES to a connection whose main
// database is "master.db" in the same folder (created empty when missing; a file main
// database keeps a transaction over the three files atomic). The texts are T-SQL and run
// through the T-SQL compatibility layer. The files hold UTF-8; callers and results are CP949.
#pragma once

#include <sqlite3.h>

#include <memory>

#include "retalo/db/sql_backend.h"

namespace retalo {

// The three database files and the main file of a folder.
inline constexpr const char* kPharmacyDatabases[] = {"PM_DRUG", "PM_BASE", "PM_PRES"};
inline constexpr const char* kSqliteMainFile = "master.db";

class SqliteBackend final : public SqlBackend {
 public:
  SqliteBackend() = default;
  ~SqliteBackend() override = default;
  SqliteBackend(const SqliteBackend&) = delete;
  SqliteBackend& operator=(const SqliteBackend&) = delete;

  // Fails when the folder lacks any of the three database files (nothing is created then).
  bool Open(const ConnectionSettings& settings, std::string* error) override;
  bool Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) override;
  bool Begin(std::string* error) override;
  bool Commit(std::string* error) override;
  bool Rollback(std::string* error) override;
  void Close() override;

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  bool Exec(const char* sql, std::string* error);

  std::unique_ptr<sqlite3, Closer> db_;
};

}  // namespace retalo
