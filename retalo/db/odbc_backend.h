// The pharmacy's SQL Server reached through unixODBC, with the wide-character API: texts go
// to the server unchanged (T-SQL) as UTF-16 and values come back as UTF-16, converted from and
// to CP949 at this edge. The driver is named in the connection string (OdbcConnectionString).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "retalo/db/sql_backend.h"

namespace retalo {

class OdbcBackend final : public SqlBackend {
 public:
  OdbcBackend() = default;
  ~OdbcBackend() override;
  OdbcBackend(const OdbcBackend&) = delete;
  OdbcBackend& operator=(const OdbcBackend&) = delete;

  bool Open(const ConnectionSettings& settings, std::string* error) override;
  bool Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) override;
  bool Begin(std::string* error) override;
  bool Commit(std::string* error) override;
  bool Rollback(std::string* error) override;
  void Close() override;

 private:
  bool EndTransaction(SQLSMALLINT completion, std::string* error);

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool in_transaction_ = false;
};

}  // namespace retalo
