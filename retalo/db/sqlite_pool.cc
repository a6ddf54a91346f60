#include "retalo/db/sqlite_pool.h"

#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "retalo/db/sqlite_backend.h"

namespace retalo {
namespace {

constexpr int kBusyTimeoutMs = 5000;  // another program of the pharmacy may hold the files
constexpr size_t kMaxIdle = 4;        // more only when that many calls ran at once

std::string Message(sqlite3* db) { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }

std::filesystem::path DatabaseFile(const std::filesystem::path& dir, const char* name) {
  return dir / (std::string(name) + ".db");
}

// The schemas whose versions tell that declarations changed, in FolderIds' order.
constexpr const char* kSchemaNames[] = {"PM_DRUG", "PM_BASE", "PM_PRES", "main"};
constexpr const char* kSchemaVersionSql[] = {
    "PRAGMA PM_DRUG.schema_version", "PRAGMA PM_BASE.schema_version",
    "PRAGMA PM_PRES.schema_version", "PRAGMA main.schema_version"};

// The schema version (the "schema cookie") of an attached database read straight from its file
// header, without the read transaction PRAGMA schema_version costs. A writer changes it in place
// when it commits; an uncommitted value read here can only drop translations for nothing. Not
// for a database in WAL mode, whose header lags behind its log: nullopt then, and when the file
// cannot be read.
std::optional<long long> HeaderSchemaVersion(sqlite3* db, const char* schema) {
  constexpr int kFormatOffset = 18;  // 2 in the read and write versions: WAL mode
  constexpr int kCookieOffset = 40;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, schema, SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr) {
    return std::nullopt;
  }
  unsigned char header[kCookieOffset + 4] = {};
  const int rc = file->pMethods->xRead(file, header, sizeof header, 0);
  if (rc == SQLITE_IOERR_SHORT_READ) return 0;  // a new, empty file: zero-filled
  if (rc != SQLITE_OK || header[kFormatOffset] == 2 || header[kFormatOffset + 1] == 2) {
    return std::nullopt;
  }
  const unsigned char* cookie = header + kCookieOffset;
  return (static_cast<long long>(cookie[0]) << 24) | (cookie[1] << 16) | (cookie[2] << 8) |
         cookie[3];
}

}  // namespace

SqliteConnection::FolderIds SqliteConnection::ReadIds(const std::filesystem::path& dir) {
  FolderIds ids{};
  auto read = [](const std::filesystem::path& file) {
    struct stat info {};
    FileId id;
    if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      id = FileId{true, info.st_dev, info.st_ino};
    }
    return id;
  };
  for (size_t i = 0; i < std::size(kPharmacyDatabases); ++i) {
    ids[i] = read(DatabaseFile(dir, kPharmacyDatabases[i]));
  }
  ids[3] = read(dir / kSqliteMainFile);
  return ids;
}

SqliteConnection::FolderStamp SqliteConnection::ReadStamp(const std::filesystem::path& dir) {
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0) return FolderStamp{};
  return FolderStamp{true, info.st_dev, info.st_ino,
                     info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
}

bool SqliteConnection::FilesUnchanged(const FolderStamp& stamp) {
  if (stamp.present && stamp == stamp_) return true;
  if (ReadIds(dir_) != ids_) return false;
  stamp_ = stamp;
  return true;
}

SqliteConnection::SqliteConnection(std::filesystem::path dir, FolderStamp stamp, FolderIds ids)
    : dir_(std::move(dir)), stamp_(stamp), ids_(ids) {}

SqliteConnection::~SqliteConnection() {
  session_.reset();
  for (sqlite3_stmt* stmt : schema_version_statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

std::unique_ptr<SqliteConnection> SqliteConnection::Open(const std::filesystem::path& dir,
                                                         std::string* error) {
  // The folder and its files are identified before they are opened: a file replaced in between
  // makes the connection look stale at the next call, never the other way round.
  const FolderStamp stamp = ReadStamp(dir);
  FolderIds ids = ReadIds(dir);
  for (size_t i = 0; i < std::size(kPharmacyDatabases); ++i) {
    if (!ids[i].present) {
      *error = "missing database file " + DatabaseFile(dir, kPharmacyDatabases[i]).string();
      return nullptr;
    }
  }
  std::unique_ptr<SqliteConnection> connection(new SqliteConnection(dir, stamp, ids));
  const std::string main_file = (dir / kSqliteMainFile).string();
  const int rc =
      sqlite3_open_v2(main_file.c_str(), &connection->db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *error = Message(connection->db_);
    return nullptr;
  }
  sqlite3* db = connection->db_;
  // The main file was created just now when it was missing; the folder changed with it.
  if (!ids[3].present) {
    connection->stamp_ = FolderStamp{};
    connection->ids_[3] = ReadIds(dir)[3];
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // The look-ups' GROUP BY and subqueries sort in temporary tables. In memory, a table's pages
  // come from the connection's cache; as temporary files, each statement allocates and releases
  // a fresh page cache, which costs a look-up several times its work. The system's results are
  // a few rows.
  if (!connection->Exec("PRAGMA temp_store = MEMORY", error)) return nullptr;
  for (const char* name : kPharmacyDatabases) {
    char* attach =
        sqlite3_mprintf("ATTACH DATABASE %Q AS %s", DatabaseFile(dir, name).c_str(), name);
    const bool attached = attach != nullptr && connection->Exec(attach, error);
    sqlite3_free(attach);
    if (!attached) return nullptr;
  }
  if (!tsql::RegisterFunctions(db, error)) return nullptr;
  for (int i = 0; i < kSchemas; ++i) {
    if (sqlite3_prepare_v3(db, kSchemaVersionSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                           &connection->schema_version_statements_[i], nullptr) != SQLITE_OK) {
      *error = Message(db);
      return nullptr;
    }
  }
  if (!connection->ReadSchemaVersions(&connection->schema_versions_)) {
    *error = Message(db);
    return nullptr;
  }
  connection->session_ = std::make_unique<tsql::Session>(db);
  return connection;
}

bool SqliteConnection::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message != nullptr ? message : Message(db_);
  sqlite3_free(message);
  return false;
}

bool SqliteConnection::ReadSchemaVersions(std::array<long long, kSchemas>* versions) {
  for (int i = 0; i < kSchemas; ++i) {
    if (std::optional<long long> version = HeaderSchemaVersion(db_, kSchemaNames[i])) {
      (*versions)[i] = *version;
      continue;
    }
    sqlite3_stmt* stmt = schema_version_statements_[i];
    const bool read = sqlite3_step(stmt) == SQLITE_ROW;
    if (read) (*versions)[i] = sqlite3_column_int64(stmt, 0);
    sqlite3_reset(stmt);
    if (!read) return false;
  }
  return true;
}

bool SqliteConnection::ForgetChangedDeclarations() {
  std::array<long long, kSchemas> versions{};
  if (!ReadSchemaVersions(&versions)) return false;
  if (versions != schema_versions_) {
    session_->ForgetTranslations();
    schema_versions_ = versions;
  }
  return true;
}

namespace {

// Forks of this process so far, counted in the child; cheaper to compare than asking for the
// process id at every call.
std::atomic<unsigned> forks{0};

}  // namespace

struct SqlitePool::State {
  std::mutex mutex;
  unsigned forks_seen = forks.load();
  std::vector<std::unique_ptr<SqliteConnection>> idle;

  // In a child process the inherited connections are the parent's: their files' locks are not
  // the child's, so they are neither used nor closed here. REQUIRES: mutex held.
  void LeaveInheritedConnections() {
    if (forks_seen == forks.load()) return;
    // Kept where they can still be reached, never destroyed.
    static auto* const inherited = new std::vector<std::unique_ptr<SqliteConnection>>();
    for (std::unique_ptr<SqliteConnection>& connection : idle) {
      inherited->push_back(std::move(connection));
    }
    idle.clear();
    forks_seen = forks.load();
  }
};

SqlitePool::SqlitePool() : state_(std::make_unique<State>()) {
  pthread_atfork(nullptr, nullptr, [] { forks.fetch_add(1); });
}

SqlitePool::~SqlitePool() = default;

SqlitePool& SqlitePool::Instance() {
  static SqlitePool pool;
  return pool;
}

std::unique_ptr<SqliteConnection> SqlitePool::Borrow(const std::filesystem::path& dir,
                                                     std::string* error) {
  const SqliteConnection::FolderStamp stamp = SqliteConnection::ReadStamp(dir);
  std::unique_ptr<SqliteConnection> kept;
  std::vector<std::unique_ptr<SqliteConnection>> others;
  {
    std::lock_guard lock(state_->mutex);
    state_->LeaveInheritedConnections();
    for (std::unique_ptr<SqliteConnection>& connection : state_->idle) {
      if (connection->dir() != dir) {
        others.push_back(std::move(connection));
      } else if (!kept) {
        kept = std::move(connection);
      }
    }
    std::erase(state_->idle, nullptr);
  }
  others.clear();  // closed outside the lock
  if (kept && kept->FilesUnchanged(stamp) && kept->ForgetChangedDeclarations()) return kept;
  kept.reset();
  return SqliteConnection::Open(dir, error);
}

void SqlitePool::Return(std::unique_ptr<SqliteConnection> connection, bool clean) {
  if (!connection) return;
  sqlite3* db = connection->db();
  std::string ignored;
  if (clean && sqlite3_get_autocommit(db) == 0) clean = connection->Exec("ROLLBACK", &ignored);
  // Every statement of the session is reset when its run ends; nothing else may stay running.
  for (sqlite3_stmt* stmt = sqlite3_next_stmt(db, nullptr); clean && stmt != nullptr;
       stmt = sqlite3_next_stmt(db, stmt)) {
    clean = sqlite3_stmt_busy(stmt) == 0;
  }
  if (clean) {
    std::lock_guard lock(state_->mutex);
    state_->LeaveInheritedConnections();
    if (state_->idle.size() < kMaxIdle) {
      state_->idle.push_back(std::move(connection));
      return;
    }
  }
  connection.reset();
}

}  // namespace retalo
