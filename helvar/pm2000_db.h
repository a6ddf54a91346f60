// CPm2000Db: the reader of PM2000's pharmacy database that Helvar's customer lists and
// guidance sheets use. One per request; it connects, runs a query into a column cache, and
// disconnects. The server is named by PM2000's settings file; the database is reached through
// the pharmacy database layer (retalo/db), whose backend setting (embedded SQLite or SQL Server
// over ODBC) applies here too.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/ado_connection.h"
#include "retalo/db/sql_backend.h"

namespace helvar {

// Where a connection goes: the backend and its settings.
struct Pm2000Target {
  retalo::BackendKind kind = retalo::BackendKind::kSqlite;
  retalo::ConnectionSettings settings;
};

// The server named in "C:\PM2000V6\PM2000V6.ini": section "Ordella게이트웨이", key "PATH" (up
// to 100 bytes), or when that is empty section "DATAPATH", key "PATH"; empty when neither is set.
std::string Pm2000ServerName();

class CPm2000Db {
 public:
  CPm2000Db() = default;
  ~CPm2000Db();
  CPm2000Db(const CPm2000Db&) = delete;
  CPm2000Db& operator=(const CPm2000Db&) = delete;

  // Reads the server name afresh and connects to its database ("<server>\PM2005" for SQL
  // Server). No server name: the record "CPm2000Db" "szServerName FALSE" and false.
  bool Open();
  // Connects to `target`; false when the database cannot be reached.
  bool Connect(const Pm2000Target& target);
  // Runs `sql` on the open connection and caches every column's values in row order.
  // False when not open or the statement fails.
  bool Query(std::string_view sql);
  // The value at (row, column) of the last query; empty for NULL, empty values and positions
  // outside the result.
  std::string ValueText(size_t row, size_t column) const;
  size_t row_count() const { return row_count_; }
  // Closes the connection; harmless when closed.
  bool Disconnect();

 private:
  std::unique_ptr<retalo::CAdoConnection> connection_;
  std::vector<std::vector<std::string>> columns_;  // columns_[column][row]
  size_t row_count_ = 0;
};

}  // namespace helvar
