// The ODBC driver of the T-SQL stand-in (standin_server.h): the calls unixODBC's driver
// manager makes into a driver, over the stand-in's connections. The wide-character entry
// points take and give UTF-16; the narrow ones that the manager itself uses (environment and
// connection attributes, diagnostics, information) take ASCII and UTF-8. Results are handed out
// as text (SQL_WVARCHAR columns), read with SQLGetData in pieces as the application asks.
//
// Every handle carries the diagnostic records of its last call, cleared when the next call on
// it begins, as ODBC has it. Only the names of standin_driver.map are exported.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "retalo/db/testing/standin_server.h"

namespace {

using retalo::standin::BatchPart;
using retalo::standin::ServerConnection;
using retalo::standin::ServerError;

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16");

constexpr uint32_t kHandleTag = 0x4f545344;  // marks our handles
constexpr std::string_view kOrigin = "[Ordella][T-SQL stand-in]";
constexpr SQLULEN kDefaultColumnSize = 4000;  // the column size reported for an empty column

struct DiagRecord {
  std::string sqlstate;
  SQLINTEGER native = 0;
  std::string message;  // UTF-8
};

struct Handle {
  explicit Handle(SQLSMALLINT handle_type) : type(handle_type) {}
  uint32_t tag = kHandleTag;
  SQLSMALLINT type;
  std::vector<DiagRecord> diags;
  SQLRETURN last_return = SQL_SUCCESS;

  SQLRETURN Return(SQLRETURN rc) { return last_return = rc; }
  SQLRETURN Fail(std::string_view sqlstate, std::string_view message, SQLINTEGER native = 0) {
    diags.push_back({std::string(sqlstate), native, std::string(kOrigin) + std::string(message)});
    return Return(SQL_ERROR);
  }
  SQLRETURN Fail(const ServerError& error) {
    diags.push_back({error.sqlstate, error.native, error.message});
    return Return(SQL_ERROR);
  }
  SQLRETURN Warn(std::string_view sqlstate, std::string_view message) {
    diags.push_back({std::string(sqlstate), 0, std::string(kOrigin) + std::string(message)});
    return Return(SQL_SUCCESS_WITH_INFO);
  }
};

struct Dbc;
struct Stmt;

struct Env : Handle {
  Env() : Handle(SQL_HANDLE_ENV) {}
  SQLINTEGER odbc_version = 0;
  std::vector<Dbc*> connections;
};

struct Dbc : Handle {
  explicit Dbc(Env* owner) : Handle(SQL_HANDLE_DBC), env(owner) {}
  Env* env;
  std::unique_ptr<ServerConnection> server;
  bool autocommit = true;  // until connected; then the server's
  SQLULEN login_timeout = 0;
  SQLULEN connection_timeout = 0;
  std::vector<Stmt*> statements;
};

struct Stmt : Handle {
  explicit Stmt(Dbc* owner) : Handle(SQL_HANDLE_STMT), dbc(owner) {}
  Dbc* dbc;
  std::vector<BatchPart> parts;  // the results of the last batch
  size_t part = 0;               // the current one
  bool open = false;             // a batch ran and its results are not used up
  std::optional<size_t> row;     // the fetched row of the current result set
  // SQLGetData's progress in the current row: the column being read and how far.
  SQLUSMALLINT read_column = 0;
  size_t read_offset = 0;
  bool read_done = false;

  const BatchPart* Current() const { return open && part < parts.size() ? &parts[part] : nullptr; }
  const tsql::ResultSet* Cursor() const {
    const BatchPart* current = Current();
    return current != nullptr && current->is_result_set ? &current->set : nullptr;
  }
  void Close() {
    parts.clear();
    part = 0;
    open = false;
    row.reset();
    read_column = 0;
  }
};

template <typename T>
T* As(SQLHANDLE handle, SQLSMALLINT type) {
  auto* h = static_cast<Handle*>(handle);
  if (h == nullptr || h->tag != kHandleTag || h->type != type) return nullptr;
  return static_cast<T*>(h);
}

// A handle for a call that begins: its records of the last call go.
template <typename T>
T* Begin(SQLHANDLE handle, SQLSMALLINT type) {
  T* h = As<T>(handle, type);
  if (h != nullptr) {
    h->diags.clear();
    h->last_return = SQL_SUCCESS;
  }
  return h;
}

Handle* AnyHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV:
      return As<Env>(handle, type);
    case SQL_HANDLE_DBC:
      return As<Dbc>(handle, type);
    case SQL_HANDLE_STMT:
      return As<Stmt>(handle, type);
    default:
      return nullptr;
  }
}

// The text of a wide argument given with its length in characters (or SQL_NTS), as UTF-8.
std::optional<std::string> WideArgument(const SQLWCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return std::string();
  size_t chars = 0;
  if (length == SQL_NTS) {
    while (text[chars] != 0) ++chars;
  } else if (length >= 0) {
    chars = static_cast<size_t>(length);
  } else {
    return std::nullopt;
  }
  return platform::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), chars));
}

// Copies `text` into a character buffer of `capacity` units with its terminator, cut to fit;
// *length (when given) gets the whole text's length in units times `unit_bytes`. True when it
// was cut.
template <typename Unit>
bool CopyOut(std::basic_string_view<Unit> text, Unit* buffer, size_t capacity, void* length,
             size_t unit_bytes, bool length_is_int) {
  const size_t total = text.size() * unit_bytes;
  if (length != nullptr) {
    if (length_is_int) {
      *static_cast<SQLINTEGER*>(length) = static_cast<SQLINTEGER>(total);
    } else {
      *static_cast<SQLSMALLINT*>(length) = static_cast<SQLSMALLINT>(total);
    }
  }
  if (buffer == nullptr) return false;
  if (capacity == 0) return !text.empty();
  const size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
  return n < text.size();
}

// A text result of a narrow call: UTF-8 bytes, lengths in bytes.
bool OutNarrow(std::string_view text, SQLPOINTER buffer, SQLINTEGER bytes, void* length,
               bool length_is_int) {
  return CopyOut<char>(text, static_cast<char*>(buffer), bytes > 0 ? static_cast<size_t>(bytes) : 0,
                       length, 1, length_is_int);
}

// A text result of a wide call: UTF-16, the buffer's size and the length in bytes or characters.
bool OutWide(std::string_view utf8, SQLPOINTER buffer, SQLINTEGER size, void* length,
             bool size_in_bytes, bool length_is_int) {
  const std::u16string text = platform::Utf8ToUtf16(utf8).value_or(u"?");
  const size_t capacity =
      size <= 0 ? 0 : (size_in_bytes ? static_cast<size_t>(size) / 2 : static_cast<size_t>(size));
  return CopyOut<char16_t>(text, static_cast<char16_t*>(buffer), capacity, length,
                           size_in_bytes ? 2 : 1, length_is_int);
}

// ---- environment and connection ---------------------------------------------------------

SQLRETURN AllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  if (output == nullptr) return SQL_ERROR;
  *output = SQL_NULL_HANDLE;
  switch (type) {
    case SQL_HANDLE_ENV:
      *output = new Env();
      return SQL_SUCCESS;
    case SQL_HANDLE_DBC: {
      Env* env = Begin<Env>(input, SQL_HANDLE_ENV);
      if (env == nullptr) return SQL_INVALID_HANDLE;
      if (env->odbc_version == 0) return env->Fail("HY010", "Function sequence error");
      auto* dbc = new Dbc(env);
      env->connections.push_back(dbc);
      *output = dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Dbc* dbc = Begin<Dbc>(input, SQL_HANDLE_DBC);
      if (dbc == nullptr) return SQL_INVALID_HANDLE;
      if (!dbc->server) return dbc->Fail("08003", "Connection not open");
      auto* stmt = new Stmt(dbc);
      dbc->statements.push_back(stmt);
      *output = stmt;
      return SQL_SUCCESS;
    }
    default: {
      Handle* handle = static_cast<Handle*>(input);
      if (handle == nullptr || handle->tag != kHandleTag) return SQL_INVALID_HANDLE;
      return handle->Fail("HYC00", "Optional feature not implemented");
    }
  }
}

void FreeStatement(Stmt* stmt) {
  std::erase(stmt->dbc->statements, stmt);
  stmt->tag = 0;
  delete stmt;
}

SQLRETURN FreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      Env* env = Begin<Env>(handle, type);
      if (env == nullptr) return SQL_INVALID_HANDLE;
      if (!env->connections.empty()) return env->Fail("HY010", "Function sequence error");
      env->tag = 0;
      delete env;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Dbc* dbc = Begin<Dbc>(handle, type);
      if (dbc == nullptr) return SQL_INVALID_HANDLE;
      if (dbc->server) return dbc->Fail("HY010", "Function sequence error");
      std::erase(dbc->env->connections, dbc);
      dbc->tag = 0;
      delete dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Stmt* stmt = Begin<Stmt>(handle, type);
      if (stmt == nullptr) return SQL_INVALID_HANDLE;
      FreeStatement(stmt);
      return SQL_SUCCESS;
    }
    default:
      return SQL_INVALID_HANDLE;
  }
}

SQLRETURN SetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value) {
  Dbc* dbc = Begin<Dbc>(handle, SQL_HANDLE_DBC);
  if (dbc == nullptr) return SQL_INVALID_HANDLE;
  const auto number = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT: {
      const bool on = number != SQL_AUTOCOMMIT_OFF;
      if (dbc->server) {
        ServerError error;
        if (!dbc->server->SetAutocommit(on, &error)) return dbc->Fail(error);
      }
      dbc->autocommit = on;
      return SQL_SUCCESS;
    }
    case SQL_ATTR_LOGIN_TIMEOUT:
      dbc->login_timeout = number;
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT:
      dbc->connection_timeout = number;
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
    case SQL_ATTR_PACKET_SIZE:
    case SQL_ATTR_TXN_ISOLATION:
    case SQL_ATTR_QUIET_MODE:
      return SQL_SUCCESS;  // taken, without effect on the stand-in
    default:
      return dbc->Fail("HYC00", "Optional feature not implemented");
  }
}

SQLRETURN GetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value) {
  Dbc* dbc = Begin<Dbc>(handle, SQL_HANDLE_DBC);
  if (dbc == nullptr) return SQL_INVALID_HANDLE;
  if (value == nullptr) return dbc->Fail("HY009", "Invalid use of null pointer");
  SQLUINTEGER result = 0;
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT:
      result = (dbc->server ? dbc->server->autocommit() : dbc->autocommit) ? SQL_AUTOCOMMIT_ON
                                                                           : SQL_AUTOCOMMIT_OFF;
      break;
    case SQL_ATTR_LOGIN_TIMEOUT:
      result = static_cast<SQLUINTEGER>(dbc->login_timeout);
      break;
    case SQL_ATTR_CONNECTION_TIMEOUT:
      result = static_cast<SQLUINTEGER>(dbc->connection_timeout);
      break;
    case SQL_ATTR_CONNECTION_DEAD:
      result = (!dbc->server || dbc->server->dead()) ? SQL_CD_TRUE : SQL_CD_FALSE;
      break;
    case SQL_ATTR_TXN_ISOLATION:
      result = SQL_TXN_READ_COMMITTED;
      break;
    default:
      return dbc->Fail("HYC00", "Optional feature not implemented");
  }
  *static_cast<SQLUINTEGER*>(value) = result;
  return SQL_SUCCESS;
}

SQLRETURN EndTran(Dbc* dbc, SQLSMALLINT completion) {
  if (!dbc->server) return dbc->Fail("08003", "Connection not open");
  if (completion != SQL_COMMIT && completion != SQL_ROLLBACK) {
    return dbc->Fail("HY012", "Invalid transaction operation code");
  }
  for (Stmt* stmt : dbc->statements) stmt->Close();
  ServerError error;
  if (!dbc->server->EndTransaction(completion == SQL_COMMIT, &error)) return dbc->Fail(error);
  return SQL_SUCCESS;
}

// ---- statements and results -------------------------------------------------------------

SQLRETURN Execute(Stmt* stmt, const std::optional<std::string>& text) {
  stmt->Close();
  if (!stmt->dbc->server) return stmt->Fail("08003", "Connection not open");
  if (!text) return stmt->Fail("22018", "The statement text is not valid UTF-16");
  ServerError error;
  if (!stmt->dbc->server->Execute(*text, &stmt->parts, &error)) {
    stmt->parts.clear();
    return stmt->Fail(error);
  }
  stmt->open = true;
  // A batch that only changed no rows has no result to show (ODBC 3).
  if (stmt->parts.size() == 1 && !stmt->parts[0].is_result_set && stmt->parts[0].row_count == 0) {
    stmt->Close();
    return stmt->Return(SQL_NO_DATA);
  }
  return SQL_SUCCESS;
}

// The text of the current row's cell `column` (from 1); nullptr for NULL. REQUIRES: a row.
const std::string* Cell(const Stmt& stmt, SQLUSMALLINT column) {
  const tsql::Cell& cell = stmt.Cursor()->rows[*stmt.row][column - 1];
  return cell.is_null ? nullptr : &cell.text;
}

SQLRETURN GetData(Stmt* stmt, SQLUSMALLINT column, SQLSMALLINT target, SQLPOINTER buffer,
                  SQLLEN size, SQLLEN* indicator) {
  const tsql::ResultSet* cursor = stmt->Cursor();
  if (cursor == nullptr || !stmt->row || *stmt->row >= cursor->rows.size()) {
    return stmt->Fail("24000", "Invalid cursor state");
  }
  if (column == 0 || column > cursor->columns.size()) {
    return stmt->Fail("07009", "Invalid descriptor index");
  }
  const bool wide = target == SQL_C_WCHAR;
  if (!wide && target != SQL_C_CHAR && target != SQL_C_DEFAULT) {
    return stmt->Fail("HYC00", "Only character targets are implemented");
  }
  if (column != stmt->read_column) {
    stmt->read_column = column;
    stmt->read_offset = 0;
    stmt->read_done = false;
  }
  if (stmt->read_done) return stmt->Return(SQL_NO_DATA);
  const std::string* text = Cell(*stmt, column);
  if (text == nullptr) {
    if (indicator == nullptr)
      return stmt->Fail("22002", "Indicator variable required but not supplied");
    *indicator = SQL_NULL_DATA;
    stmt->read_done = true;
    return SQL_SUCCESS;
  }
  // The value in the target's units, from where the last piece ended.
  const size_t unit = wide ? sizeof(char16_t) : 1;
  std::u16string utf16;
  size_t total = text->size();
  if (wide) {
    utf16 = platform::Utf8ToUtf16(*text).value_or(u"");
    total = utf16.size();
  }
  const size_t remaining = total - stmt->read_offset;
  if (indicator != nullptr) *indicator = static_cast<SQLLEN>(remaining * unit);
  const size_t room = size > 0 ? static_cast<size_t>(size) / unit : 0;
  const size_t n = room > 0 ? std::min(remaining, room - 1) : 0;
  if (buffer != nullptr && room > 0) {
    if (wide) {
      auto* out = static_cast<char16_t*>(buffer);
      std::copy_n(utf16.data() + stmt->read_offset, n, out);
      out[n] = 0;
    } else {
      auto* out = static_cast<char*>(buffer);
      std::copy_n(text->data() + stmt->read_offset, n, out);
      out[n] = 0;
    }
  }
  stmt->read_offset += n;
  if (stmt->read_offset < total) return stmt->Warn("01004", "String data, right truncated");
  stmt->read_done = true;
  return SQL_SUCCESS;
}

SQLRETURN DescribeCol(Stmt* stmt, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT name_max,
                      SQLSMALLINT* name_length, SQLSMALLINT* type, SQLULEN* size,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  const tsql::ResultSet* cursor = stmt->Cursor();
  if (cursor == nullptr)
    return stmt->Fail("07005", "Prepared statement not a cursor-specification");
  if (column == 0 || column > cursor->columns.size()) {
    return stmt->Fail("07009", "Invalid descriptor index");
  }
  const bool cut = OutWide(cursor->columns[column - 1], name, name_max, name_length, false, false);
  if (type != nullptr) *type = SQL_WVARCHAR;
  if (size != nullptr) {
    // The longest value of the column, in characters, as a server reports a varchar's length.
    SQLULEN longest = 0;
    for (const auto& row : cursor->rows) {
      const tsql::Cell& cell = row[column - 1];
      if (!cell.is_null) {
        longest = std::max<SQLULEN>(longest, platform::Utf8ToUtf16(cell.text).value_or(u"").size());
      }
    }
    *size = longest > 0 ? longest : kDefaultColumnSize;
  }
  if (digits != nullptr) *digits = 0;
  if (nullable != nullptr) *nullable = SQL_NULLABLE_UNKNOWN;
  if (cut) return stmt->Warn("01004", "String data, right truncated");
  return SQL_SUCCESS;
}

// ---- diagnostics and information --------------------------------------------------------

SQLRETURN GetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLPOINTER state,
                     SQLINTEGER* native, SQLPOINTER message, SQLSMALLINT message_max,
                     SQLSMALLINT* message_length, bool wide) {
  Handle* h = AnyHandle(type, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  if (record < 1 || message_max < 0) return SQL_ERROR;
  if (static_cast<size_t>(record) > h->diags.size()) return SQL_NO_DATA;
  const DiagRecord& diag = h->diags[static_cast<size_t>(record) - 1];
  if (native != nullptr) *native = diag.native;
  bool cut = false;
  if (wide) {
    OutWide(diag.sqlstate, state, 6, nullptr, false, false);
    cut = OutWide(diag.message, message, message_max, message_length, false, false);
  } else {
    OutNarrow(diag.sqlstate, state, 6, nullptr, false);
    cut = OutNarrow(diag.message, message, message_max, message_length, false);
  }
  if (cut) return SQL_SUCCESS_WITH_INFO;
  return SQL_SUCCESS;
}

SQLRETURN GetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER value, SQLSMALLINT size, SQLSMALLINT* length, bool wide) {
  Handle* h = AnyHandle(type, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  auto text = [&](std::string_view s) -> SQLRETURN {
    const bool cut = wide ? OutWide(s, value, size, length, true, false)
                          : OutNarrow(s, value, size, length, false);
    if (cut) return SQL_SUCCESS_WITH_INFO;
    return SQL_SUCCESS;
  };
  // Header fields.
  switch (field) {
    case SQL_DIAG_NUMBER:
      if (value != nullptr)
        *static_cast<SQLINTEGER*>(value) = static_cast<SQLINTEGER>(h->diags.size());
      return SQL_SUCCESS;
    case SQL_DIAG_RETURNCODE:
      if (value != nullptr) *static_cast<SQLRETURN*>(value) = h->last_return;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT: {
      const Stmt* stmt = As<Stmt>(handle, type);
      if (stmt == nullptr) return SQL_ERROR;
      const BatchPart* part = stmt->Current();
      SQLLEN count = 0;
      if (part != nullptr) {
        count = part->is_result_set ? static_cast<SQLLEN>(part->set.rows.size()) : part->row_count;
      }
      if (value != nullptr) *static_cast<SQLLEN*>(value) = count;
      return SQL_SUCCESS;
    }
    case SQL_DIAG_DYNAMIC_FUNCTION:
      return text("");
    default:
      break;
  }
  if (record < 1) return SQL_ERROR;
  if (static_cast<size_t>(record) > h->diags.size()) return SQL_NO_DATA;
  const DiagRecord& diag = h->diags[static_cast<size_t>(record) - 1];
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return text(diag.sqlstate);
    case SQL_DIAG_NATIVE:
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = diag.native;
      return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT:
      return text(diag.message);
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return text(diag.sqlstate.starts_with("IM") || diag.sqlstate.starts_with("HY") ? "ODBC 3.0"
                                                                                     : "ISO 9075");
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      return text("");
    case SQL_DIAG_ROW_NUMBER:
      if (value != nullptr) *static_cast<SQLLEN*>(value) = SQL_ROW_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DIAG_COLUMN_NUMBER:
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = SQL_COLUMN_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

SQLRETURN GetInfo(SQLHDBC handle, SQLUSMALLINT info, SQLPOINTER value, SQLSMALLINT size,
                  SQLSMALLINT* length, bool wide) {
  Dbc* dbc = Begin<Dbc>(handle, SQL_HANDLE_DBC);
  if (dbc == nullptr) return SQL_INVALID_HANDLE;
  auto text = [&](std::string_view s) -> SQLRETURN {
    const bool cut = wide ? OutWide(s, value, size, length, true, false)
                          : OutNarrow(s, value, size, length, false);
    if (cut) return dbc->Warn("01004", "String data, right truncated");
    return SQL_SUCCESS;
  };
  auto number = [&](auto n) -> SQLRETURN {
    if (value != nullptr) std::memcpy(value, &n, sizeof n);
    if (length != nullptr) *length = static_cast<SQLSMALLINT>(sizeof n);
    return SQL_SUCCESS;
  };
  switch (info) {
    case SQL_DRIVER_NAME:
      return text("libordella_tsql_odbc.so");
    case SQL_DRIVER_VER:
      return text("01.00.0000");
    case SQL_DRIVER_ODBC_VER:
      return text("03.80");
    case SQL_ODBC_VER:
      return text("03.80.0000");
    case SQL_DBMS_NAME:
      return text("T-SQL stand-in");
    case SQL_DBMS_VER:
      return text("01.00.0000");
    case SQL_XOPEN_CLI_YEAR:
      return text("1995");
    case SQL_DATA_SOURCE_NAME:
    case SQL_SERVER_NAME:
    case SQL_USER_NAME:
      return text("");
    case SQL_DATABASE_NAME:
      return text("master");
    case SQL_MAX_CONCURRENT_ACTIVITIES:
    case SQL_MAX_DRIVER_CONNECTIONS:
      return number(SQLUSMALLINT{0});
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR:
      return number(SQLUSMALLINT{SQL_CB_CLOSE});
    case SQL_TXN_CAPABLE:
      return number(SQLUSMALLINT{SQL_TC_ALL});
    case SQL_GETDATA_EXTENSIONS:
      return number(SQLUINTEGER{SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER});
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_TXN_ISOLATION_OPTION:
      return number(SQLUINTEGER{SQL_TXN_READ_COMMITTED});
    case SQL_MULT_RESULT_SETS:
      return text("Y");
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1:
      return number(SQLUINTEGER{SQL_CA1_NEXT});
    default:
      return dbc->Fail("HY096", "Information type out of range");
  }
}

}  // namespace

// ---- the entry points ---------------------------------------------------------------------

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  return AllocHandle(type, input, output);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  return FreeHandle(type, handle);
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  switch (option) {
    case SQL_CLOSE:
      stmt->Close();
      return SQL_SUCCESS;
    case SQL_DROP:
      FreeStatement(stmt);
      return SQL_SUCCESS;
    case SQL_UNBIND:
    case SQL_RESET_PARAMS:
      return SQL_SUCCESS;  // nothing is ever bound
    default:
      return stmt->Fail("HY092", "Invalid attribute/option identifier");
  }
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT handle) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  if (!stmt->open) return stmt->Fail("24000", "Invalid cursor state");
  stmt->Close();
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER) {
  Env* env = Begin<Env>(handle, SQL_HANDLE_ENV);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      env->odbc_version = static_cast<SQLINTEGER>(reinterpret_cast<intptr_t>(value));
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_POOLING:
    case SQL_ATTR_CP_MATCH:
    case SQL_ATTR_OUTPUT_NTS:
      return SQL_SUCCESS;
    default:
      return env->Fail("HY092", "Invalid attribute/option identifier");
  }
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                SQLINTEGER* length) {
  Env* env = Begin<Env>(handle, SQL_HANDLE_ENV);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  if (value == nullptr) return env->Fail("HY009", "Invalid use of null pointer");
  SQLINTEGER result = 0;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      result = env->odbc_version;
      break;
    case SQL_ATTR_OUTPUT_NTS:
      result = SQL_TRUE;
      break;
    case SQL_ATTR_CONNECTION_POOLING:
      result = SQL_CP_OFF;
      break;
    default:
      return env->Fail("HY092", "Invalid attribute/option identifier");
  }
  *static_cast<SQLINTEGER*>(value) = result;
  if (length != nullptr) *length = sizeof result;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER) {
  return SetConnectAttr(handle, attribute, value);
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER) {
  return SetConnectAttr(handle, attribute, value);
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER, SQLINTEGER* length) {
  if (length != nullptr) *length = sizeof(SQLUINTEGER);
  return GetConnectAttr(handle, attribute, value);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER, SQLINTEGER* length) {
  if (length != nullptr) *length = sizeof(SQLUINTEGER);
  return GetConnectAttr(handle, attribute, value);
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC handle, SQLHWND, SQLWCHAR* in, SQLSMALLINT in_length,
                                    SQLWCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                                    SQLUSMALLINT) {
  Dbc* dbc = Begin<Dbc>(handle, SQL_HANDLE_DBC);
  if (dbc == nullptr) return SQL_INVALID_HANDLE;
  if (dbc->server) return dbc->Fail("08002", "Connection name in use");
  const std::optional<std::string> text = WideArgument(in, in_length);
  if (!text) return dbc->Fail("HY090", "Invalid string or buffer length");
  ServerError error;
  std::unique_ptr<ServerConnection> server = ServerConnection::Connect(*text, &error);
  if (!server) return dbc->Fail(error);
  if (!dbc->autocommit && !server->SetAutocommit(false, &error)) return dbc->Fail(error);
  dbc->server = std::move(server);
  // The completed connection string is the one given: nothing was prompted for.
  if (OutWide(*text, out, out_max, out_length, false, false)) {
    return dbc->Warn("01004", "String data, right truncated");
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle) {
  Dbc* dbc = Begin<Dbc>(handle, SQL_HANDLE_DBC);
  if (dbc == nullptr) return SQL_INVALID_HANDLE;
  if (!dbc->server) return dbc->Fail("08003", "Connection not open");
  // The statements of a connection end with it; the session rolls back what it left open.
  while (!dbc->statements.empty()) FreeStatement(dbc->statements.back());
  dbc->server.reset();
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (type == SQL_HANDLE_DBC) {
    Dbc* dbc = Begin<Dbc>(handle, SQL_HANDLE_DBC);
    if (dbc == nullptr) return SQL_INVALID_HANDLE;
    return EndTran(dbc, completion);
  }
  Env* env = Begin<Env>(handle, SQL_HANDLE_ENV);
  if (type != SQL_HANDLE_ENV || env == nullptr) return SQL_INVALID_HANDLE;
  SQLRETURN rc = SQL_SUCCESS;
  for (Dbc* dbc : env->connections) {
    if (dbc->server && EndTran(dbc, completion) != SQL_SUCCESS) rc = env->Return(SQL_ERROR);
  }
  return rc;
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  return Execute(stmt, WideArgument(text, length));
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  const tsql::ResultSet* cursor = stmt->Cursor();
  if (count != nullptr) *count = cursor ? static_cast<SQLSMALLINT>(cursor->columns.size()) : 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT handle, SQLUSMALLINT column, SQLWCHAR* name,
                                  SQLSMALLINT name_max, SQLSMALLINT* name_length, SQLSMALLINT* type,
                                  SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  return DescribeCol(stmt, column, name, name_max, name_length, type, size, digits, nullable);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT handle) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  const tsql::ResultSet* cursor = stmt->Cursor();
  if (cursor == nullptr) return stmt->Fail("24000", "Invalid cursor state");
  stmt->row = stmt->row ? *stmt->row + 1 : 0;
  stmt->read_column = 0;
  if (*stmt->row >= cursor->rows.size()) {
    stmt->row = cursor->rows.size();
    return stmt->Return(SQL_NO_DATA);
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT target,
                             SQLPOINTER buffer, SQLLEN size, SQLLEN* indicator) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  return GetData(stmt, column, target, buffer, size, indicator);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  const BatchPart* part = stmt->Current();
  if (count != nullptr) *count = part != nullptr ? part->row_count : -1;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle) {
  Stmt* stmt = Begin<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  if (!stmt->open || stmt->part + 1 >= stmt->parts.size()) {
    stmt->Close();
    return stmt->Return(SQL_NO_DATA);
  }
  ++stmt->part;
  stmt->row.reset();
  stmt->read_column = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT message_max, SQLSMALLINT* message_length) {
  return GetDiagRec(type, handle, record, state, native, message, message_max, message_length,
                    false);
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                 SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* message,
                                 SQLSMALLINT message_max, SQLSMALLINT* message_length) {
  return GetDiagRec(type, handle, record, state, native, message, message_max, message_length,
                    true);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT size,
                                  SQLSMALLINT* length) {
  return GetDiagField(type, handle, record, field, value, size, length, false);
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                   SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT size,
                                   SQLSMALLINT* length) {
  return GetDiagField(type, handle, record, field, value, size, length, true);
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC handle, SQLUSMALLINT info, SQLPOINTER value, SQLSMALLINT size,
                             SQLSMALLINT* length) {
  return GetInfo(handle, info, value, size, length, false);
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT info, SQLPOINTER value, SQLSMALLINT size,
                              SQLSMALLINT* length) {
  return GetInfo(handle, info, value, size, length, true);
}

}  // extern "C"
