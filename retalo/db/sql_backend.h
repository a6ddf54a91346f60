// The pharmacy database as the database writer sees it: one connection that runs SQL texts
// and reports rows, an affected-row count or an error, with transactions. Two realisations:
// the embedded SQLite databases (sqlite_backend.h) and a SQL Server reached through ODBC
// (odbc_backend.h). Which one a pharmacy uses is a registry setting (SETTINGS.md).
//
// Texts given and returned are CP949 bytes; each backend converts at its own edge.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace retalo {

struct SqlCell {
  bool is_null = false;
  std::string text;  // CP949; empty for NULL
};

// The rows of the first result set of one text.
struct SqlRows {
  std::vector<std::string> columns;
  std::vector<std::vector<SqlCell>> rows;
};

struct SqlOutcome {
  bool has_result_set = false;  // the text produced a result set (possibly without rows)
  SqlRows result;               // the first result set
  long long rows_affected = 0;  // rows changed by the statements of the text
};

// Where to connect. Only the member of the chosen backend is used.
struct ConnectionSettings {
  std::string odbc_connection;       // ODBC: the full connection string
  std::filesystem::path sqlite_dir;  // SQLite: the folder of PM_DRUG.db, PM_BASE.db, PM_PRES.db
};

class SqlBackend {
 public:
  virtual ~SqlBackend() = default;

  // Connects; may be called again after Close. `error` receives the provider's message.
  virtual bool Open(const ConnectionSettings& settings, std::string* error) = 0;
  // Runs one text (one or more statements). REQUIRES: open.
  virtual bool Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) = 0;
  virtual bool Begin(std::string* error) = 0;
  virtual bool Commit(std::string* error) = 0;
  virtual bool Rollback(std::string* error) = 0;
  // Disconnects; harmless when not open.
  virtual void Close() = 0;
};

// The settings under "Software\Tavenor" that choose and place the backend (SETTINGS.md).
inline constexpr std::string_view kSettingsKey = "Software\\Tavenor";
inline constexpr std::string_view kBackendValue = "DbBackend";      // "sqlite" or "odbc"
inline constexpr std::string_view kOdbcDriverValue = "OdbcDriver";  // ODBC driver name
inline constexpr std::string_view kSqliteDirValue = "SqliteDir";    // Windows path
inline constexpr std::string_view kDefaultOdbcDriver = "FreeTDS";
inline constexpr std::string_view kDefaultSqliteDir = "c:\\tavenor\\pmdb";

enum class BackendKind { kSqlite, kOdbc, kUnknown };

struct BackendSettings {
  BackendKind kind = BackendKind::kSqlite;
  std::string odbc_driver{kDefaultOdbcDriver};
  std::string sqlite_dir{kDefaultSqliteDir};  // Windows path, mapped through the prefix
};

// Reads the settings afresh; unset values take their defaults, an unrecognised "DbBackend"
// gives kUnknown (the connection then fails rather than guessing). Only the value of the chosen
// backend is read (each read opens the registry file); the other keeps its default.
BackendSettings ReadBackendSettings();

// A new, unopened backend of that kind; nullptr for kUnknown.
std::unique_ptr<SqlBackend> MakeBackend(BackendKind kind);

}  // namespace retalo
