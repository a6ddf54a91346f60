// The pharmacy databases as three SQLite files, PM_DRUG.db, PM_BASE.db and PM_PRES.db, in one
// folder, attached under the names PM_DRUG, PM_BASE and PM_PRES to a connection whose main
// database is "master.db" in the same folder (created empty when missing; a file main
// database keeps a transaction over the three files atomic). The texts are T-SQL and run
// through the T-SQL compatibility layer. The files hold UTF-8; callers and results are CP949.
//
// The connection is borrowed from the process's pool at Open and given back at Close
// (sqlite_pool.h): what an export call sees is what a fresh connection would show, but the
// files stay open and the translations stay made from one call to the next.
#pragma once

#include <memory>

#include "retalo/db/sql_backend.h"

namespace retalo {

// The three database files and the main file of a folder.
inline constexpr const char* kPharmacyDatabases[] = {"PM_DRUG", "PM_BASE", "PM_PRES"};
inline constexpr const char* kSqliteMainFile = "master.db";

class SqliteConnection;

class SqliteBackend final : public SqlBackend {
 public:
  SqliteBackend();
  ~SqliteBackend() override;  // runs Close()
  SqliteBackend(const SqliteBackend&) = delete;
  SqliteBackend& operator=(const SqliteBackend&) = delete;

  // Fails when the folder lacks any of the three database files (nothing is created then).
  bool Open(const ConnectionSettings& settings, std::string* error) override;
  bool Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) override;
  bool Begin(std::string* error) override;
  bool Commit(std::string* error) override;
  bool Rollback(std::string* error) override;
  // Gives the connection back: kept for the next call unless an operation failed on it, with
  // a transaction still open rolled back.
  void Close() override;

 private:
  bool Exec(const char* sql, std::string* error);
  // Notes the outcome of an operation; a failure keeps the connection from the next call.
  bool Outcome(bool ok);

  std::unique_ptr<SqliteConnection> connection_;
  bool failed_ = false;
};

}  // namespace retalo
