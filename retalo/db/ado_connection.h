// The connection of one database export call: opened, used for the call's statements and
// ended before the call returns. It keeps the operations and outcomes the exports are written
// against: ExecuteSql gives 0, -1 (failed) or -2 (rows wanted, none came); a main and a
// temporary result set with a cursor; fields read by name, trimmed, NULL read as "".
//
// Which database it reaches is chosen at every OpenConnection from the registry settings
// (sql_backend.h): the embedded SQLite databases by default, or the pharmacy's SQL Server over
// ODBC, whose server is chosen as server_choice.h describes. The embedded databases' SQLite
// connection itself outlives the call, in the process's pool (sqlite_pool.h); the call sees
// nothing of the calls before it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "retalo/db/server_choice.h"
#include "retalo/db/sql_backend.h"

namespace retalo {

// ExecuteSql outcomes.
inline constexpr int kSqlOk = 0;
inline constexpr int kSqlFailed = -1;
inline constexpr int kSqlNoRows = -2;

class CAdoConnection {
 public:
  // Everything outside the connection that it consults; replaceable in tests.
  struct Options {
    ServerLookup server_lookup = SystemServerLookup();
    std::function<BackendSettings()> read_settings = ReadBackendSettings;
    std::function<std::unique_ptr<SqlBackend>(BackendKind)> make_backend = MakeBackend;
  };

  CAdoConnection();
  explicit CAdoConnection(Options options);
  // A connection over a given backend with fixed settings (tests, benchmarks and tools that
  // reach a database other than the configured one).
  CAdoConnection(std::unique_ptr<SqlBackend> backend, ConnectionSettings settings);
  ~CAdoConnection();  // runs End()
  CAdoConnection(const CAdoConnection&) = delete;
  CAdoConnection& operator=(const CAdoConnection&) = delete;

  // Opens the connection (closing an open one first). False when the database cannot be
  // reached, for whatever reason; the connection string is never kept.
  bool OpenConnection();
  // OpenConnection, then a transaction.
  bool OpenWithTransaction();
  // Commits the open transaction. A failed commit leaves the transaction to End's rollback.
  bool Commit();
  bool Rollback();
  // Closes both result sets and the connection.
  void Close();
  // Rolls back a transaction still open, then Close. Every export runs it last.
  void End();

  bool is_open() const { return open_; }
  bool in_transaction() const { return in_transaction_; }

  // Runs one text (CP949, as FillSql gives it). The result set goes to the main slot, or the
  // temporary one when `use_temporary`, replacing what was there. Returns kSqlOk, kSqlFailed
  // (the text failed, is empty, or the connection is not open) or kSqlNoRows (rows were wanted
  // and none came; the slot is then closed). With rows, the cursor stands on the first row.
  int ExecuteSql(std::string_view sql, bool want_rows, bool use_temporary = false);
  // Prepares the temporary slot (empty and closed). False when the connection is not open.
  bool OpenTempRecordset();

  // The current row's field of that name (names compare case-insensitively), trimmed of
  // white space on both sides; "" for NULL. A missing field or no current row gives "" and
  // sets field_error(), which the reading step treats as its failure.
  std::string GetFieldText(std::string_view name, bool use_temporary = false);
  int GetFieldInt(std::string_view name, bool use_temporary = false);      // atoi rules
  double GetFieldReal(std::string_view name, bool use_temporary = false);  // atof rules
  // The same by position, counted from 0.
  std::string GetFieldTextAt(size_t column, bool use_temporary = false);
  // The field by position as it came, not trimmed ("" for NULL); for readers that hand values
  // on unchanged.
  std::string GetFieldValueAt(size_t column, bool use_temporary = false);

  bool IsEof(bool use_temporary = false) const;
  void MoveNext(bool use_temporary = false);
  // Rows of the result set; 0 when it is closed.
  size_t RecordCount(bool use_temporary = false) const;
  void CloseRecordset(bool use_temporary = false);

  // True once a field read failed; cleared by ClearFieldError.
  bool field_error() const { return field_error_; }
  void ClearFieldError() { field_error_ = false; }

  // The provider's message for the last failure, for developers; never logged.
  const std::string& last_error() const { return last_error_; }

 private:
  struct Recordset {
    bool open = false;
    SqlRows data;
    size_t row = 0;
  };
  Recordset& Slot(bool use_temporary) { return use_temporary ? temporary_ : main_; }
  const Recordset& Slot(bool use_temporary) const { return use_temporary ? temporary_ : main_; }
  // The connection settings for this open; nullopt when the backend cannot be placed.
  std::optional<ConnectionSettings> Settings(const BackendSettings& backend);
  const SqlCell* CurrentCell(std::optional<size_t> column, bool use_temporary);

  Options options_;
  std::unique_ptr<SqlBackend> backend_;
  std::optional<ConnectionSettings> fixed_settings_;
  Recordset main_;
  Recordset temporary_;
  bool open_ = false;
  bool in_transaction_ = false;
  bool field_error_ = false;
  std::string last_error_;
};

}  // namespace retalo
