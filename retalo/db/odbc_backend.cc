#include "retalo/db/odbc_backend.h"

#include <sqlucode.h>

#include <optional>

#include "platform/text.h"

namespace retalo {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16");

constexpr SQLULEN kLoginTimeoutSeconds = 15;
constexpr size_t kChunkChars = 1024;  // a value is read in pieces of this many characters

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// The diagnostic records of a handle, as UTF-8 for the developer's eyes.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLWCHAR state[6] = {};
    SQLWCHAR message[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message,
                                  static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    std::u16string text(reinterpret_cast<const char16_t*>(message));
    std::optional<std::string> cp949 = platform::Utf16ToCp949(text);
    std::optional<std::string> utf8 =
        cp949 ? platform::Cp949ToUtf8(*cp949) : std::optional<std::string>();
    if (!out.empty()) out += "; ";
    out += utf8.value_or("(unprintable diagnostic)");
  }
  return out.empty() ? "ODBC call failed" : out;
}

// Frees a statement handle when the work with it ends.
class Statement {
 public:
  explicit Statement(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_))) handle_ = SQL_NULL_HSTMT;
  }
  ~Statement() {
    if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  SQLHSTMT get() const { return handle_; }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

// One value of the current row as UTF-16, read in pieces; nullopt for NULL. `ok` turns false
// when the driver reports an error.
std::optional<std::u16string> ReadValue(SQLHSTMT stmt, SQLUSMALLINT column, bool* ok) {
  std::u16string value;
  SQLWCHAR buffer[kChunkChars + 1];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      *ok = false;
      return std::nullopt;
    }
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // A piece fills the buffer (less the terminator) unless it is the last one.
    size_t chars = kChunkChars;
    if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / sizeof(SQLWCHAR) < chars) {
      chars = static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
    }
    value.append(reinterpret_cast<const char16_t*>(buffer), chars);
    if (rc == SQL_SUCCESS) break;
  }
  return value;
}

bool ReadResultSet(SQLHSTMT stmt, SQLSMALLINT columns, SqlRows* rows, std::string* error) {
  for (SQLSMALLINT c = 1; c <= columns; ++c) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(c), name,
                                       static_cast<SQLSMALLINT>(std::size(name)), &name_length,
                                       &type, &size, &digits, &nullable))) {
      *error = Diagnostics(SQL_HANDLE_STMT, stmt);
      return false;
    }
    std::optional<std::string> text =
        platform::Utf16ToCp949(std::u16string(reinterpret_cast<const char16_t*>(name)));
    rows->columns.push_back(text.value_or(std::string()));
  }
  for (;;) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) return true;
    if (!SQL_SUCCEEDED(rc)) {
      *error = Diagnostics(SQL_HANDLE_STMT, stmt);
      return false;
    }
    std::vector<SqlCell>& row = rows->rows.emplace_back();
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      bool ok = true;
      std::optional<std::u16string> value = ReadValue(stmt, static_cast<SQLUSMALLINT>(c), &ok);
      if (!ok) {
        *error = Diagnostics(SQL_HANDLE_STMT, stmt);
        return false;
      }
      if (!value) {
        row.push_back(SqlCell{true, {}});
        continue;
      }
      std::optional<std::string> text = platform::Utf16ToCp949(*value);
      if (!text) {
        *error = "a value has no CP949 form";
        return false;
      }
      row.push_back(SqlCell{false, std::move(*text)});
    }
  }
}

}  // namespace

OdbcBackend::~OdbcBackend() { Close(); }

bool OdbcBackend::Open(const ConnectionSettings& settings, std::string* error) {
  Close();
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    env_ = SQL_NULL_HENV;
    *error = "no ODBC environment";
    return false;
  }
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    dbc_ = SQL_NULL_HDBC;
    *error = Diagnostics(SQL_HANDLE_ENV, env_);
    Close();
    return false;
  }
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  std::optional<std::u16string> text = platform::Cp949ToUtf16(settings.odbc_connection);
  if (!text) {
    *error = "the connection string is not valid CP949";
    Close();
    return false;
  }
  SQLSMALLINT out_length = 0;
  SQLRETURN rc =
      SQLDriverConnectW(dbc_, nullptr, Wide(*text), static_cast<SQLSMALLINT>(text->size()), nullptr,
                        0, &out_length, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    *error = Diagnostics(SQL_HANDLE_DBC, dbc_);
    Close();
    return false;
  }
  connected_ = true;
  return true;
}

bool OdbcBackend::Execute(std::string_view cp949_text, SqlOutcome* out, std::string* error) {
  *out = SqlOutcome{};
  if (!connected_) {
    *error = "not open";
    return false;
  }
  std::optional<std::u16string> text = platform::Cp949ToUtf16(cp949_text);
  if (!text) {
    *error = "the text is not valid CP949";
    return false;
  }
  Statement stmt(dbc_);
  if (stmt.get() == SQL_NULL_HSTMT) {
    *error = Diagnostics(SQL_HANDLE_DBC, dbc_);
    return false;
  }
  SQLRETURN rc = SQLExecDirectW(stmt.get(), Wide(*text), static_cast<SQLINTEGER>(text->size()));
  // Every result of the text is visited: the first result set is kept, the changed rows of
  // all statements are summed, and an error in any statement fails the whole text.
  while (rc != SQL_NO_DATA) {
    if (!SQL_SUCCEEDED(rc)) {
      *error = Diagnostics(SQL_HANDLE_STMT, stmt.get());
      return false;
    }
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &columns))) {
      *error = Diagnostics(SQL_HANDLE_STMT, stmt.get());
      return false;
    }
    if (columns > 0 && !out->has_result_set) {
      out->has_result_set = true;
      if (!ReadResultSet(stmt.get(), columns, &out->result, error)) return false;
    } else if (columns == 0) {
      SQLLEN count = 0;
      if (SQL_SUCCEEDED(SQLRowCount(stmt.get(), &count)) && count > 0) out->rows_affected += count;
    }
    rc = SQLMoreResults(stmt.get());
  }
  return true;
}

bool OdbcBackend::Begin(std::string* error) {
  if (!connected_) {
    *error = "not open";
    return false;
  }
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                       reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    *error = Diagnostics(SQL_HANDLE_DBC, dbc_);
    return false;
  }
  in_transaction_ = true;
  return true;
}

bool OdbcBackend::EndTransaction(SQLSMALLINT completion, std::string* error) {
  if (!connected_) {
    *error = "not open";
    return false;
  }
  if (!in_transaction_) return completion == SQL_ROLLBACK;  // nothing to end
  bool ok = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, completion));
  if (!ok) *error = Diagnostics(SQL_HANDLE_DBC, dbc_);
  if (ok || completion == SQL_ROLLBACK) {
    in_transaction_ = false;
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                      0);
  }
  return ok;
}

bool OdbcBackend::Commit(std::string* error) { return EndTransaction(SQL_COMMIT, error); }

bool OdbcBackend::Rollback(std::string* error) { return EndTransaction(SQL_ROLLBACK, error); }

void OdbcBackend::Close() {
  if (dbc_ != SQL_NULL_HDBC) {
    if (connected_) {
      if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      SQLDisconnect(dbc_);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
  }
  if (env_ != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    env_ = SQL_NULL_HENV;
  }
  connected_ = false;
  in_transaction_ = false;
}

}  // namespace retalo
