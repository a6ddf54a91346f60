#include "helvar/pm2000_db.h"

#include <utility>

#include "helvar/helvar_log.h"
#include "platform/prefix.h"
#include "platform/profile.h"
#include "retalo/db/server_choice.h"

namespace helvar {
namespace {

constexpr size_t kServerNameBuffer = 101;  // 100 bytes and the terminator

std::string ReadIniPath(std::string_view section) {
  char buffer[kServerNameBuffer] = {};
  const size_t n = platform::GetPrivateProfileString(section, "PATH", "", buffer, sizeof buffer,
                                                     retalo::kPm2000Ini);
  return std::string(buffer, n);
}

// The connection target for the configured backend and `server`; nullopt when it cannot be
// placed (unknown backend, a folder outside the prefix, a server name that would change the
// connection string).
std::optional<Pm2000Target> TargetFor(std::string_view server) {
  const retalo::BackendSettings backend = retalo::ReadBackendSettings();
  Pm2000Target target;
  target.kind = backend.kind;
  switch (backend.kind) {
    case retalo::BackendKind::kSqlite: {
      std::optional<std::filesystem::path> dir = platform::MapPath(backend.sqlite_dir);
      if (!dir) return std::nullopt;
      target.settings.sqlite_dir = std::move(*dir);
      return target;
    }
    case retalo::BackendKind::kOdbc:
      target.settings.odbc_connection = retalo::OdbcConnectionString(backend.odbc_driver, server);
      if (target.settings.odbc_connection.empty()) return std::nullopt;
      return target;
    case retalo::BackendKind::kUnknown:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::string Pm2000ServerName() {
  std::string server = ReadIniPath(Cp949("Ordella게이트웨이"));
  if (server.empty()) server = ReadIniPath("DATAPATH");
  return server;
}

CPm2000Db::~CPm2000Db() { Disconnect(); }

bool CPm2000Db::Open() {
  const std::string server = Pm2000ServerName();
  if (server.empty()) {
    WriteLog("CPm2000Db", "szServerName FALSE");
    return false;
  }
  const std::optional<Pm2000Target> target = TargetFor(server);
  return target && Connect(*target);
}

bool CPm2000Db::Connect(const Pm2000Target& target) {
  Disconnect();
  std::unique_ptr<retalo::SqlBackend> backend = retalo::MakeBackend(target.kind);
  if (backend == nullptr) return false;
  connection_ = std::make_unique<retalo::CAdoConnection>(std::move(backend), target.settings);
  if (!connection_->OpenConnection()) {
    connection_.reset();
    return false;
  }
  return true;
}

bool CPm2000Db::Query(std::string_view sql) {
  columns_.clear();
  row_count_ = 0;
  if (connection_ == nullptr || !connection_->is_open()) return false;
  const int result = connection_->ExecuteSql(sql, /*want_rows=*/true);
  if (result == retalo::kSqlNoRows) return true;
  if (result != retalo::kSqlOk) return false;
  for (; !connection_->IsEof(); connection_->MoveNext()) {
    connection_->ClearFieldError();
    for (size_t column = 0;; ++column) {
      std::string value = connection_->GetFieldValueAt(column);
      if (connection_->field_error()) break;
      if (columns_.size() <= column) columns_.resize(column + 1);
      columns_[column].resize(row_count_);  // a short row leaves its missing cells empty
      columns_[column].push_back(std::move(value));
    }
    ++row_count_;
  }
  connection_->ClearFieldError();
  return true;
}

std::string CPm2000Db::ValueText(size_t row, size_t column) const {
  if (column >= columns_.size() || row >= columns_[column].size()) return {};
  return columns_[column][row];
}

bool CPm2000Db::Disconnect() {
  if (connection_ != nullptr) {
    connection_->End();
    connection_.reset();
  }
  return true;
}

}  // namespace helvar
