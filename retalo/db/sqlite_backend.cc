#include "retalo/db/sqlite_backend.h"

#include <optional>
#include <system_error>

#include "platform/text.h"
#include "retalo/db/tsql/tsql.h"

namespace retalo {
namespace {

constexpr int kBusyTimeoutMs = 5000;  // another program of the pharmacy may hold the files

std::string Message(sqlite3* db) { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }

// The first result set of a batch in CP949; nullopt when a text has no CP949 form.
std::optional<SqlRows> ToCp949(const tsql::ResultSet& set) {
  SqlRows rows;
  rows.columns.reserve(set.columns.size());
  for (const std::string& column : set.columns) {
    std::optional<std::string> name = platform::Utf8ToCp949(column);
    if (!name) return std::nullopt;
    rows.columns.push_back(std::move(*name));
  }
  rows.rows.reserve(set.rows.size());
  for (const auto& source : set.rows) {
    std::vector<SqlCell>& row = rows.rows.emplace_back();
    row.reserve(source.size());
    for (const tsql::Cell& cell : source) {
      if (cell.is_null) {
        row.push_back(SqlCell{true, {}});
        continue;
      }
      std::optional<std::string> text = platform::Utf8ToCp949(cell.text);
      if (!text) return std::nullopt;
      row.push_back(SqlCell{false, std::move(*text)});
    }
  }
  return rows;
}

}  // namespace

bool SqliteBackend::Open(const ConnectionSettings& settings, std::string* error) {
  Close();
  const std::filesystem::path& dir = settings.sqlite_dir;
  for (const char* name : kPharmacyDatabases) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(dir / (std::string(name) + ".db"), ec)) {
      *error = "missing database file " + (dir / (std::string(name) + ".db")).string();
      return false;
    }
  }
  sqlite3* raw = nullptr;
  const std::string main_file = (dir / kSqliteMainFile).string();
  int rc =
      sqlite3_open_v2(main_file.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) {
    *error = Message(raw);
    Close();
    return false;
  }
  sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
  for (const char* name : kPharmacyDatabases) {
    const std::string file = (dir / (std::string(name) + ".db")).string();
    char* attach = sqlite3_mprintf("ATTACH DATABASE %Q AS %s", file.c_str(), name);
    const bool attached = attach != nullptr && Exec(attach, error);
    sqlite3_free(attach);
    if (!attached) {
      Close();
      return false;
    }
  }
  if (!tsql::RegisterFunctions(db_.get(), error)) {
    Close();
    return false;
  }
  return true;
}

bool SqliteBackend::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message != nullptr ? message : Message(db_.get());
  sqlite3_free(message);
  return false;
}

bool SqliteBackend::Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) {
  *out = SqlOutcome{};
  if (!db_) {
    *error = "not open";
    return false;
  }
  std::optional<std::string> utf8 = platform::Cp949ToUtf8(cp949_text);
  if (!utf8) {
    *error = "the text is not valid CP949";
    return false;
  }
  tsql::BatchResult batch;
  if (!tsql::RunBatch(db_.get(), *utf8, &batch, error)) return false;
  out->rows_affected = batch.rows_affected;
  if (!batch.result_sets.empty()) {
    std::optional<SqlRows> rows = ToCp949(batch.result_sets.front());
    if (!rows) {
      *error = "a result has no CP949 form";
      return false;
    }
    out->has_result_set = true;
    out->result = std::move(*rows);
  }
  return true;
}

bool SqliteBackend::Begin(std::string* error) {
  if (!db_) {
    *error = "not open";
    return false;
  }
  // The write lock is taken at once, so two writers never deadlock upgrading their locks.
  return Exec("BEGIN IMMEDIATE", error);
}

bool SqliteBackend::Commit(std::string* error) {
  if (!db_) {
    *error = "not open";
    return false;
  }
  return Exec("COMMIT", error);
}

bool SqliteBackend::Rollback(std::string* error) {
  if (!db_) {
    *error = "not open";
    return false;
  }
  if (sqlite3_get_autocommit(db_.get()) != 0) return true;  // nothing open to roll back
  return Exec("ROLLBACK", error);
}

void SqliteBackend::Close() { db_.reset(); }

}  // namespace retalo
