// The T-SQL stand-in for the pharmacy's SQL Server: what one ODBC connection to it does, apart
// from the ODBC calls (standin_driver.cc) that reach it. It answers as the server and instance,
// login and password the prefix's settings name (standin_control.h), holds the three
// pharmacy databases as SQLite files, and runs every batch it is sent through the T-SQL layer
// the embedded backend uses. Texts are UTF-8 here; the driver converts from and to UTF-16.
//
// Transactions follow SQL Server's ODBC behaviour: each statement commits on its own until
// autocommit is switched off; then the first statement opens a transaction that lasts until
// SQLEndTran, and switching autocommit on again commits what is open. Disconnecting rolls an
// open transaction back, as the server does when a session ends.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/testing/standin_control.h"
#include "retalo/db/tsql/tsql.h"

namespace retalo {
class SqliteConnection;
}

namespace retalo::standin {

// A diagnostic record as the server reports it.
struct ServerError {
  std::string sqlstate;  // five characters
  int native = 0;
  std::string message;
};

// One result of a batch: a result set, or the count of rows the batch changed.
struct BatchPart {
  bool is_result_set = false;
  tsql::ResultSet set;
  long long row_count = -1;  // -1 for a result set
};

class ServerConnection {
 public:
  // Connects with the attributes of an ODBC connection string (SERVER, UID, PWD, DATABASE).
  // nullptr with *error: 08001 when no stand-in answers as that server or its databases cannot
  // be opened, 28000 when the login is refused, 42000 for a catalogue other than master.
  static std::unique_ptr<ServerConnection> Connect(std::string_view connection_string,
                                                   ServerError* error);
  ~ServerConnection();  // rolls back what is open
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Runs one batch; its results in order. False with *error when a statement failed (the
  // statements before it stay done) or the connection is gone.
  bool Execute(std::string_view batch, std::vector<BatchPart>* parts, ServerError* error);
  bool SetAutocommit(bool on, ServerError* error);
  bool autocommit() const { return autocommit_; }
  bool EndTransaction(bool commit, ServerError* error);
  // True once the connection has dropped.
  bool dead() const { return dropped_; }

 private:
  explicit ServerConnection(std::unique_ptr<SqliteConnection> db);
  // Counts `batch` against the drop plan; true when the connection drops at it.
  bool DropsAt(std::string_view batch);
  void Drop();
  bool Lost(ServerError* error) const;
  bool Run(const char* sql, ServerError* error);

  std::unique_ptr<SqliteConnection> db_;
  DropPlan plan_;
  bool autocommit_ = true;
  bool in_transaction_ = false;
  bool dropped_ = false;
};

// The attribute `key` of an ODBC connection string (keys compare without case; a value in
// braces may hold ';' and doubles a closing brace); empty when absent.
std::string ConnectionAttribute(std::string_view connection_string, std::string_view key);

}  // namespace retalo::standin
