// The embedded databases' connections of this process, kept open from one export call to the
// next: opening one (the main file, three ATTACHes, the T-SQL functions) and translating the
// texts anew would cost an export call several times its work.
//
// A call borrows a connection for the folder it is configured with and gives it back when it
// ends. A kept connection serves the next call only when
// - it is for the same folder (the setting that names the folder is read at every open, and a
//   kept connection of another folder is closed);
// - the folder's files are still the files it opened: none replaced, moved or removed (a file
//   replaced in place is SQLite's to notice, as for any reader);
// - its last call ended without an error from SQLite or the T-SQL layer, and the transaction
//   that call left open, if any, was rolled back.
// Translations are dropped when a file's declarations changed since the last call.
//
// Threads: a connection belongs to the one call that borrowed it, so two threads never use one
// connection at the same time (SQLite's multi-thread mode); a mutex guards only the list of idle
// connections. Two calls at once on two threads get two connections, as they did when every call
// opened its own. A child process does not use what it inherited from its parent: it opens its
// own connections and leaves the parent's untouched.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "retalo/db/tsql/tsql.h"

namespace retalo {

class SqliteConnection {
 public:
  // The folder's main file (created when missing) with the three databases attached and the
  // T-SQL functions registered. nullptr with *error when a database file is missing or SQLite
  // refuses.
  static std::unique_ptr<SqliteConnection> Open(const std::filesystem::path& dir,
                                                std::string* error);
  ~SqliteConnection();  // the session's statements, then the connection
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  sqlite3* db() const { return db_; }
  tsql::Session& session() { return *session_; }
  const std::filesystem::path& dir() const { return dir_; }

  // Runs SQL without results; false with *error (SQLite's message).
  bool Exec(const char* sql, std::string* error);

  // A file as the folder holds it now: absent, or that file (device and inode).
  struct FileId {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
  };
  // The three database files, then the main file.
  using FolderIds = std::array<FileId, 4>;
  static FolderIds ReadIds(const std::filesystem::path& dir);
  // The files this connection opened.
  const FolderIds& ids() const { return ids_; }

  // The folder itself: which directory the path names and when an entry of it last changed.
  // While it is the same, so are the files named in it (replacing, moving or removing a file
  // changes the folder; SQLite's journals change it with every write, too).
  struct FolderStamp {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    long long modified_ns = 0;
    bool operator==(const FolderStamp&) const = default;
  };
  static FolderStamp ReadStamp(const std::filesystem::path& dir);
  // True when the folder's files are still those this connection opened; looks at the files
  // themselves only when the folder changed since the last look, which `stamp` (read before)
  // then becomes.
  bool FilesUnchanged(const FolderStamp& stamp);

  // Drops the session's translations when a database's declarations changed since the last
  // look; false when the versions cannot be read (the connection is then not to be used).
  bool ForgetChangedDeclarations();

 private:
  static constexpr int kSchemas = 4;  // the three databases and the main one
  SqliteConnection(std::filesystem::path dir, FolderStamp stamp, FolderIds ids);
  bool ReadSchemaVersions(std::array<long long, kSchemas>* versions);

  std::filesystem::path dir_;
  FolderStamp stamp_;
  FolderIds ids_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<tsql::Session> session_;
  std::array<sqlite3_stmt*, kSchemas> schema_version_statements_{};
  std::array<long long, kSchemas> schema_versions_{};
};

// The process's idle connections.
class SqlitePool {
 public:
  static SqlitePool& Instance();

  // A connection for `dir`: a kept one that may serve, or a new one. nullptr with *error when
  // the folder cannot be connected to ("missing database file <path>" when a file is missing).
  std::unique_ptr<SqliteConnection> Borrow(const std::filesystem::path& dir, std::string* error);
  // Takes a connection back at the end of a call. It is kept for the next call when `clean`
  // (no error during the call) and its transaction, if one is open, rolls back; else closed.
  void Return(std::unique_ptr<SqliteConnection> connection, bool clean);

 private:
  struct State;
  SqlitePool();
  ~SqlitePool();
  std::unique_ptr<State> state_;
};

}  // namespace retalo
