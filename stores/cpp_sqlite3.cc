#include "stores/cpp_sqlite3.h"

#include <sqlite3.h>

#include <array>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

constexpr char kDatabaseNotOpen[] = "Database not open";
constexpr char kNullResults[] = "Null Results pointer";
constexpr char kInvalidRow[] = "Invalid row index requested";
constexpr char kInvalidField[] = "Invalid field index requested";

// SQLite's names for its result codes 0-25.
constexpr std::array<const char*, 26> kResultCodeNames = {
    "SQLITE_OK",       "SQLITE_ERROR",   "SQLITE_INTERNAL", "SQLITE_PERM",     "SQLITE_ABORT",
    "SQLITE_BUSY",     "SQLITE_LOCKED",  "SQLITE_NOMEM",    "SQLITE_READONLY", "SQLITE_INTERRUPT",
    "SQLITE_IOERR",    "SQLITE_CORRUPT", "SQLITE_NOTFOUND", "SQLITE_FULL",     "SQLITE_CANTOPEN",
    "SQLITE_PROTOCOL", "SQLITE_EMPTY",   "SQLITE_SCHEMA",   "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
    "SQLITE_MISMATCH", "SQLITE_MISUSE",  "SQLITE_NOLFS",    "SQLITE_AUTH",     "SQLITE_FORMAT",
    "SQLITE_RANGE"};

struct SqliteFree {
  void operator()(char* text) const { sqlite3_free(text); }
};
using SqliteText = std::unique_ptr<char, SqliteFree>;

char* CopyText(const char* text) { return text == nullptr ? nullptr : sqlite3_mprintf("%s", text); }

// Raises with an error text that SQLite allocated for the caller, releasing it first.
[[noreturn]] void ThrowWithOwnedText(int code, char* text) {
  const SqliteText owned(text);
  throw CppSQLite3Exception(code, owned.get());
}

}  // namespace

// ---- CppSQLite3Exception ----

CppSQLite3Exception::CppSQLite3Exception(int code, const char* detail)
    : code_(code),
      message_(sqlite3_mprintf("%s[%d]: %s", errorCodeAsString(code), code,
                               detail == nullptr ? "" : detail)) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : code_(other.code_), message_(CopyText(other.message_)) {}

CppSQLite3Exception::CppSQLite3Exception(CppSQLite3Exception&& other) noexcept
    : code_(other.code_), message_(std::exchange(other.message_, nullptr)) {}

CppSQLite3Exception& CppSQLite3Exception::operator=(const CppSQLite3Exception& other) {
  if (this != &other) {
    sqlite3_free(message_);
    code_ = other.code_;
    message_ = CopyText(other.message_);
  }
  return *this;
}

CppSQLite3Exception& CppSQLite3Exception::operator=(CppSQLite3Exception&& other) noexcept {
  if (this != &other) {
    sqlite3_free(message_);
    code_ = other.code_;
    message_ = std::exchange(other.message_, nullptr);
  }
  return *this;
}

CppSQLite3Exception::~CppSQLite3Exception() { sqlite3_free(message_); }

const char* CppSQLite3Exception::errorMessage() const {
  return message_ == nullptr ? "" : message_;
}

const char* CppSQLite3Exception::errorCodeAsString(int code) {
  if (code >= 0 && code < static_cast<int>(kResultCodeNames.size())) {
    return kResultCodeNames[static_cast<size_t>(code)];
  }
  switch (code) {
    case SQLITE_ROW:
      return "SQLITE_ROW";
    case SQLITE_DONE:
      return "SQLITE_DONE";
    case CPPSQLITE_ERROR:
      return "CPPSQLITE_ERROR";
    default:
      return "UNKNOWN_ERROR";
  }
}

// ---- CppSQLite3Format ----

std::string CppSQLite3Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const SqliteText text(sqlite3_vmprintf(format, args));
  va_end(args);
  if (text == nullptr) throw CppSQLite3Exception(SQLITE_NOMEM, "");
  return std::string(text.get());
}

// ---- CppSQLite3Query ----

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool eof,
                                 bool owns_statement)
    : db_(db),
      statement_(statement),
      eof_(eof),
      columns_(statement == nullptr ? 0 : sqlite3_column_count(statement)),
      owns_statement_(owns_statement) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : db_(other.db_),
      statement_(std::exchange(other.statement_, nullptr)),
      eof_(std::exchange(other.eof_, true)),
      columns_(std::exchange(other.columns_, 0)),
      owns_statement_(std::exchange(other.owns_statement_, false)) {}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
  if (this != &other) {
    try {
      Finish();
    } catch (const CppSQLite3Exception&) {
      // The statement is gone either way; its last error is of no use here.
    }
    db_ = other.db_;
    statement_ = std::exchange(other.statement_, nullptr);
    eof_ = std::exchange(other.eof_, true);
    columns_ = std::exchange(other.columns_, 0);
    owns_statement_ = std::exchange(other.owns_statement_, false);
  }
  return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
  try {
    Finish();
  } catch (const CppSQLite3Exception&) {
    // A destructor never throws.
  }
}

void CppSQLite3Query::NextRow() {
  if (statement_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullResults);
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_DONE) {
    eof_ = true;
  } else if (rc == SQLITE_ROW) {
    eof_ = false;
  } else {
    const int finalize_rc = sqlite3_finalize(std::exchange(statement_, nullptr));
    eof_ = true;
    throw CppSQLite3Exception(finalize_rc, sqlite3_errmsg(db_));
  }
}

void CppSQLite3Query::CheckField(int n) const {
  if (statement_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullResults);
  if (eof_) throw CppSQLite3Exception(CPPSQLITE_ERROR, kInvalidRow);
  if (n < 0 || n > columns_ - 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kInvalidField);
}

const char* CppSQLite3Query::FieldName(int n) const {
  if (statement_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullResults);
  if (n < 0 || n > columns_ - 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kInvalidField);
  const char* name = sqlite3_column_name(statement_, n);
  return name == nullptr ? "" : name;
}

const char* CppSQLite3Query::FieldText(int n) const {
  CheckField(n);
  const unsigned char* text = sqlite3_column_text(statement_, n);
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

bool CppSQLite3Query::FieldIsNull(int n) const {
  CheckField(n);
  return sqlite3_column_type(statement_, n) == SQLITE_NULL;
}

int64_t CppSQLite3Query::FieldInt(int n) const {
  CheckField(n);
  return sqlite3_column_int64(statement_, n);
}

void CppSQLite3Query::Finish() {
  if (statement_ == nullptr) return;
  sqlite3_stmt* statement = std::exchange(statement_, nullptr);
  eof_ = true;
  if (!owns_statement_) return;
  const int rc = sqlite3_finalize(statement);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
}

// ---- CppSQLite3Table ----

CppSQLite3Table::CppSQLite3Table(char** results, int rows, int columns)
    : columns_(columns), rows_(rows), current_row_(0), results_(results) {}

CppSQLite3Table::CppSQLite3Table(CppSQLite3Table&& other) noexcept
    : columns_(std::exchange(other.columns_, 0)),
      rows_(std::exchange(other.rows_, 0)),
      current_row_(std::exchange(other.current_row_, 0)),
      results_(std::exchange(other.results_, nullptr)) {}

CppSQLite3Table& CppSQLite3Table::operator=(CppSQLite3Table&& other) noexcept {
  if (this != &other) {
    Release();
    columns_ = std::exchange(other.columns_, 0);
    rows_ = std::exchange(other.rows_, 0);
    current_row_ = std::exchange(other.current_row_, 0);
    results_ = std::exchange(other.results_, nullptr);
  }
  return *this;
}

CppSQLite3Table::~CppSQLite3Table() { Release(); }

void CppSQLite3Table::Release() {
  if (results_ != nullptr) sqlite3_free_table(results_);
  results_ = nullptr;
  columns_ = 0;
  rows_ = 0;
  current_row_ = 0;
}

void CppSQLite3Table::CheckResults() const {
  if (results_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullResults);
}

void CppSQLite3Table::CheckColumn(int n) const {
  CheckResults();
  if (n < 0 || n > columns_ - 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kInvalidField);
}

void CppSQLite3Table::SelectRow(int n) {
  CheckResults();
  if (n < 0 || n > rows_ - 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kInvalidRow);
  current_row_ = n;
}

// The cell of column n in the current row. A table without rows has no current row: its
// array holds the column names only, so reading a cell would run past it.
const char* CppSQLite3Table::Cell(int n) const {
  CheckColumn(n);
  if (rows_ < 1) throw CppSQLite3Exception(CPPSQLITE_ERROR, kInvalidRow);
  const auto index = static_cast<size_t>(current_row_ + 1) * static_cast<size_t>(columns_) +
                     static_cast<size_t>(n);
  return results_[index];
}

const char* CppSQLite3Table::CellText(int n) const {
  const char* cell = Cell(n);
  return cell == nullptr ? "" : cell;
}

bool CppSQLite3Table::CellIsNull(int n) const { return Cell(n) == nullptr; }

int CppSQLite3Table::CellInt(int n) const {
  const char* cell = Cell(n);
  if (cell == nullptr) return 0;
  const long value = std::strtol(cell, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

const char* CppSQLite3Table::ColumnName(int n) const {
  CheckColumn(n);
  return results_[n];
}

// ---- CppSQLite3DB ----

CppSQLite3DB::CppSQLite3DB(CppSQLite3DB&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), busy_timeout_ms_(other.busy_timeout_ms_) {}

CppSQLite3DB& CppSQLite3DB::operator=(CppSQLite3DB&& other) noexcept {
  if (this != &other) {
    CloseFile();
    db_ = std::exchange(other.db_, nullptr);
    busy_timeout_ms_ = other.busy_timeout_ms_;
  }
  return *this;
}

CppSQLite3DB::~CppSQLite3DB() { CloseFile(); }

void CppSQLite3DB::OpenFile(const std::string& file_name) {
  Open(file_name, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void CppSQLite3DB::OpenFileReadOnly(const std::string& file_name) {
  Open(file_name, SQLITE_OPEN_READONLY);
}

void CppSQLite3DB::Open(const std::string& file_name, int flags) {
  CloseFile();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file_name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    // SQLite hands out a handle even for a failed open; it carries the message.
    const CppSQLite3Exception error(rc, db == nullptr ? nullptr : sqlite3_errmsg(db));
    sqlite3_close(db);
    throw error;
  }
  db_ = db;
  SetBusyTimeout(busy_timeout_ms_);
}

void CppSQLite3DB::CloseFile() {
  if (db_ == nullptr) return;
  // A query still alive keeps the connection until its statement is finalised.
  sqlite3_close_v2(std::exchange(db_, nullptr));
}

void CppSQLite3DB::SetBusyTimeout(int milliseconds) {
  busy_timeout_ms_ = milliseconds;
  if (db_ != nullptr) sqlite3_busy_timeout(db_, busy_timeout_ms_);
}

void CppSQLite3DB::CheckDB() const {
  if (db_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kDatabaseNotOpen);
}

int CppSQLite3DB::ExecuteChange(const std::string& sql) {
  CheckDB();
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) ThrowWithOwnedText(rc, error);
  sqlite3_free(error);
  return sqlite3_changes(db_);
}

sqlite3_stmt* CppSQLite3DB::Prepare(const std::string& sql) {
  CheckDB();
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "");
  return statement;
}

CppSQLite3Query CppSQLite3DB::ExecuteQuery(const std::string& sql) {
  sqlite3_stmt* statement = Prepare(sql);
  // A text without a statement (blank or only a comment) has no rows.
  if (statement == nullptr) return CppSQLite3Query(db_, nullptr, true, false);
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) return CppSQLite3Query(db_, statement, true, true);
  if (rc == SQLITE_ROW) return CppSQLite3Query(db_, statement, false, true);
  const int finalize_rc = sqlite3_finalize(statement);
  throw CppSQLite3Exception(finalize_rc, sqlite3_errmsg(db_));
}

CppSQLite3Table CppSQLite3DB::LoadTable(const std::string& sql) {
  CheckDB();
  char** results = nullptr;
  int rows = 0;
  int columns = 0;
  char* error = nullptr;
  const int rc = sqlite3_get_table(db_, sql.c_str(), &results, &rows, &columns, &error);
  if (rc != SQLITE_OK) {
    sqlite3_free_table(results);
    ThrowWithOwnedText(rc, error);
  }
  sqlite3_free(error);
  return CppSQLite3Table(results, rows, columns);
}

bool CppSQLite3DB::TableExists(const std::string& table) {
  CheckDB();
  const SqliteText sql(sqlite3_mprintf(
      "select count(*) from sqlite_master where type='table' and name=%Q collate nocase",
      table.c_str()));
  if (sql == nullptr) throw CppSQLite3Exception(SQLITE_NOMEM, "");
  CppSQLite3Query query = ExecuteQuery(sql.get());
  return !query.Eof() && query.FieldInt(0) > 0;
}

int64_t CppSQLite3DB::LastRowId() {
  CheckDB();
  return sqlite3_last_insert_rowid(db_);
}
