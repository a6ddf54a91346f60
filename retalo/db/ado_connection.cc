#include "retalo/db/ado_connection.h"

#include <climits>
#include <cstdlib>

#include "platform/prefix.h"

namespace retalo {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace

CAdoConnection::CAdoConnection() : CAdoConnection(Options{}) {}

CAdoConnection::CAdoConnection(Options options) : options_(std::move(options)) {}

CAdoConnection::CAdoConnection(std::unique_ptr<SqlBackend> backend, ConnectionSettings settings)
    : backend_(std::move(backend)), fixed_settings_(std::move(settings)) {}

CAdoConnection::~CAdoConnection() { End(); }

std::optional<ConnectionSettings> CAdoConnection::Settings(const BackendSettings& backend) {
  ConnectionSettings settings;
  switch (backend.kind) {
    case BackendKind::kSqlite: {
      std::optional<std::filesystem::path> dir = platform::MapPath(backend.sqlite_dir);
      if (!dir) return std::nullopt;
      settings.sqlite_dir = *dir;
      return settings;
    }
    case BackendKind::kOdbc:
      settings.odbc_connection =
          OdbcConnectionString(backend.odbc_driver, ChooseServer(options_.server_lookup));
      if (settings.odbc_connection.empty()) return std::nullopt;
      return settings;
    case BackendKind::kUnknown:
      break;
  }
  return std::nullopt;
}

bool CAdoConnection::OpenConnection() {
  Close();
  std::optional<ConnectionSettings> settings = fixed_settings_;
  if (!fixed_settings_) {
    const BackendSettings backend = options_.read_settings();
    backend_ = options_.make_backend(backend.kind);
    if (backend_ == nullptr) {
      last_error_ = "unknown database backend setting";
      return false;
    }
    settings = Settings(backend);
    if (!settings) {
      last_error_ = "the database cannot be placed from the settings";
      return false;
    }
  }
  if (backend_ == nullptr) return false;
  open_ = backend_->Open(*settings, &last_error_);
  // The connection string is not kept once the connection has been tried.
  settings.reset();
  return open_;
}

bool CAdoConnection::OpenWithTransaction() {
  if (!OpenConnection()) return false;
  if (!backend_->Begin(&last_error_)) return false;
  in_transaction_ = true;
  return true;
}

bool CAdoConnection::Commit() {
  if (!open_ || !in_transaction_) return false;
  if (!backend_->Commit(&last_error_)) return false;
  in_transaction_ = false;
  return true;
}

bool CAdoConnection::Rollback() {
  if (!open_) return false;
  const bool ok = backend_->Rollback(&last_error_);
  in_transaction_ = false;
  return ok;
}

void CAdoConnection::Close() {
  main_ = Recordset{};
  temporary_ = Recordset{};
  if (backend_ != nullptr) backend_->Close();
  open_ = false;
  in_transaction_ = false;
}

void CAdoConnection::End() {
  if (in_transaction_) Rollback();
  Close();
}

int CAdoConnection::ExecuteSql(std::string_view sql, bool want_rows, bool use_temporary) {
  Recordset& slot = Slot(use_temporary);
  slot = Recordset{};
  if (!open_) {
    last_error_ = "not open";
    return kSqlFailed;
  }
  if (sql.empty()) {
    last_error_ = "empty statement";
    return kSqlFailed;
  }
  SqlOutcome outcome;
  if (!backend_->Execute(sql, &outcome, &last_error_)) return kSqlFailed;
  slot.open = outcome.has_result_set;
  slot.data = std::move(outcome.result);
  if (!want_rows) return kSqlOk;
  if (!slot.open || slot.data.rows.empty()) {
    slot = Recordset{};
    return kSqlNoRows;
  }
  return kSqlOk;
}

bool CAdoConnection::OpenTempRecordset() {
  temporary_ = Recordset{};
  return open_;
}

const SqlCell* CAdoConnection::CurrentCell(std::optional<size_t> column, bool use_temporary) {
  const Recordset& slot = Slot(use_temporary);
  if (!slot.open || slot.row >= slot.data.rows.size() || !column) return nullptr;
  const std::vector<SqlCell>& row = slot.data.rows[slot.row];
  return *column < row.size() ? &row[*column] : nullptr;
}

std::string CAdoConnection::GetFieldText(std::string_view name, bool use_temporary) {
  const Recordset& slot = Slot(use_temporary);
  std::optional<size_t> column;
  for (size_t i = 0; i < slot.data.columns.size(); ++i) {
    if (SameName(slot.data.columns[i], name)) {
      column = i;
      break;
    }
  }
  if (!column) {
    field_error_ = true;
    return {};
  }
  return GetFieldTextAt(*column, use_temporary);
}

std::string CAdoConnection::GetFieldTextAt(size_t column, bool use_temporary) {
  return std::string(Trim(GetFieldValueAt(column, use_temporary)));
}

std::string CAdoConnection::GetFieldValueAt(size_t column, bool use_temporary) {
  const SqlCell* cell = CurrentCell(column, use_temporary);
  if (cell == nullptr) {
    field_error_ = true;
    return {};
  }
  if (cell->is_null) return {};
  return cell->text;
}

int CAdoConnection::GetFieldInt(std::string_view name, bool use_temporary) {
  const std::string text = GetFieldText(name, use_temporary);
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double CAdoConnection::GetFieldReal(std::string_view name, bool use_temporary) {
  return std::strtod(GetFieldText(name, use_temporary).c_str(), nullptr);
}

bool CAdoConnection::IsEof(bool use_temporary) const {
  const Recordset& slot = Slot(use_temporary);
  return !slot.open || slot.row >= slot.data.rows.size();
}

void CAdoConnection::MoveNext(bool use_temporary) {
  Recordset& slot = Slot(use_temporary);
  if (slot.open && slot.row < slot.data.rows.size()) ++slot.row;
}

size_t CAdoConnection::RecordCount(bool use_temporary) const {
  const Recordset& slot = Slot(use_temporary);
  return slot.open ? slot.data.rows.size() : 0;
}

void CAdoConnection::CloseRecordset(bool use_temporary) { Slot(use_temporary) = Recordset{}; }

}  // namespace retalo
