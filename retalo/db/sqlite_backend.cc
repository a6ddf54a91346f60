#include "retalo/db/sqlite_backend.h"

#include <optional>
#include <system_error>

#include "platform/text.h"
#include "retalo/db/sqlite_pool.h"

namespace retalo {
namespace {

// The first result set of a batch in CP949; nullopt when a text has no CP949 form.
std::optional<SqlRows> RowsToCp949(const tsql::ResultSet& set) {
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

SqliteBackend::SqliteBackend() = default;

SqliteBackend::~SqliteBackend() { Close(); }

bool SqliteBackend::Open(const ConnectionSettings& settings, std::string* error) {
  Close();
  connection_ = SqlitePool::Instance().Borrow(settings.sqlite_dir, error);
  return connection_ != nullptr;
}

bool SqliteBackend::Outcome(bool ok) {
  failed_ = failed_ || !ok;
  return ok;
}

bool SqliteBackend::Exec(const char* sql, std::string* error) {
  if (!connection_) {
    *error = "not open";
    return false;
  }
  return Outcome(connection_->Exec(sql, error));
}

bool SqliteBackend::Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) {
  *out = SqlOutcome{};
  if (!connection_) {
    *error = "not open";
    return false;
  }
  std::optional<std::string> utf8 = platform::Cp949ToUtf8(cp949_text);
  if (!utf8) {
    *error = "the text is not valid CP949";
    return false;
  }
  tsql::BatchResult batch;
  if (!Outcome(connection_->session().Run(*utf8, &batch, error))) return false;
  out->rows_affected = batch.rows_affected;
  if (!batch.result_sets.empty()) {
    std::optional<SqlRows> rows = RowsToCp949(batch.result_sets.front());
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
  // The write lock is taken at once, so two writers never deadlock upgrading their locks.
  return Exec("BEGIN IMMEDIATE", error);
}

bool SqliteBackend::Commit(std::string* error) { return Exec("COMMIT", error); }

bool SqliteBackend::Rollback(std::string* error) {
  if (connection_ && sqlite3_get_autocommit(connection_->db()) != 0) {
    return true;  // nothing open to roll back
  }
  return Exec("ROLLBACK", error);
}

void SqliteBackend::Close() {
  if (connection_) SqlitePool::Instance().Return(std::move(connection_), !failed_);
  failed_ = false;
}

}  // namespace retalo
