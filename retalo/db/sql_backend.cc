#include "retalo/db/sql_backend.h"

#include "platform/registry.h"
#include "retalo/db/odbc_backend.h"
#include "retalo/db/sqlite_backend.h"

namespace retalo {
namespace {

// The text of a setting, or empty when it is unset.
std::string ReadSetting(std::string_view name) {
  platform::RegValue value;
  if (platform::RegGetValue(kSettingsKey, name, &value) != platform::RegStatus::kOk ||
      value.type != platform::RegType::kString) {
    return {};
  }
  return value.text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

BackendSettings ReadBackendSettings() {
  BackendSettings settings;
  const std::string kind = ReadSetting(kBackendValue);
  if (kind.empty() || EqualsIgnoringCase(kind, "sqlite")) {
    settings.kind = BackendKind::kSqlite;
  } else if (EqualsIgnoringCase(kind, "odbc")) {
    settings.kind = BackendKind::kOdbc;
  } else {
    settings.kind = BackendKind::kUnknown;
  }
  if (settings.kind == BackendKind::kOdbc) {
    if (std::string driver = ReadSetting(kOdbcDriverValue); !driver.empty()) {
      settings.odbc_driver = driver;
    }
  } else if (settings.kind == BackendKind::kSqlite) {
    if (std::string dir = ReadSetting(kSqliteDirValue); !dir.empty()) settings.sqlite_dir = dir;
  }
  return settings;
}

std::unique_ptr<SqlBackend> MakeBackend(BackendKind kind) {
  switch (kind) {
    case BackendKind::kSqlite:
      return std::make_unique<SqliteBackend>();
    case BackendKind::kOdbc:
      return std::make_unique<OdbcBackend>();
    case BackendKind::kUnknown:
      break;
  }
  return nullptr;
}

}  // namespace retalo
