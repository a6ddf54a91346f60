// A thin object layer over the SQLite 3 C library: the local stores of Helvar and the hub's
// store-and-forward table use it. It owns database handles, statements and table results, and
// turns every SQLite failure into one exception type, CppSQLite3Exception, that carries the
// numeric code and a formatted message. This is the only layer of the system that throws; its
// callers catch the exception, close the database and report failure in their own terms.
//
// Objects are not shared between threads: every use creates, uses and closes its own
// CppSQLite3DB. Two processes using one file are ordered by SQLite's locking and the busy
// time-out (60,000 ms unless changed).
//
// The operations carry two spellings: the layer's own (OpenFile, ExecuteChange, ...) and the
// short ones callers of such layers are used to (open, execDML, ...). Both do the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The layer's own error code; its exceptions are named "CPPSQLITE_ERROR".
inline constexpr int CPPSQLITE_ERROR = 1000;

// The busy time-out every database starts with, in milliseconds.
inline constexpr int kCppSQLite3DefaultBusyTimeoutMs = 60000;

class CppSQLite3Exception {
 public:
  // The message is "<name>[<code>]: <detail>", where name is the code's name (SQLite's result
  // code names for 0-25, 100 and 101, "CPPSQLITE_ERROR" for 1000, "UNKNOWN_ERROR" otherwise).
  // A null detail is taken as empty.
  CppSQLite3Exception(int code, const char* detail);
  CppSQLite3Exception(const CppSQLite3Exception& other);
  CppSQLite3Exception(CppSQLite3Exception&& other) noexcept;
  CppSQLite3Exception& operator=(const CppSQLite3Exception& other);
  CppSQLite3Exception& operator=(CppSQLite3Exception&& other) noexcept;
  virtual ~CppSQLite3Exception();

  int errorCode() const { return code_; }
  // Never null: "" when the message could not be allocated.
  const char* errorMessage() const;

  // The name that begins the message of an exception with this code.
  static const char* errorCodeAsString(int code);

 private:
  int code_;
  char* message_;  // allocated by SQLite's formatter, released with sqlite3_free
};

// The rows of a query, read one at a time. Made by CppSQLite3DB::ExecuteQuery; it owns its
// statement and finalises it when finished or destroyed. The database must outlive it.
class CppSQLite3Query {
 public:
  CppSQLite3Query() = default;
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
  // Finish, ignoring any exception.
  virtual ~CppSQLite3Query();

  // True when there is no current row (the statement returned none, or all were read).
  bool Eof() const { return eof_; }
  int FieldCount() const { return columns_; }

  // Steps to the next row; at the end Eof() becomes true. A failing step finalises the
  // statement and raises.
  void NextRow();

  // Fields of the current row. They require a statement ("Null Results pointer"), a current
  // row ("Invalid row index requested") and 0 <= n < FieldCount() ("Invalid field index
  // requested"). A NULL field reads as "" (FieldIsNull tells it apart); FieldInt reads a
  // field's value as a number (0 for NULL or text that is not one).
  const char* FieldName(int n) const;
  const char* FieldText(int n) const;
  bool FieldIsNull(int n) const;
  int64_t FieldInt(int n) const;

  // Finalises the statement when this query owns it and forgets it; a non-zero result raises
  // with that code and the database's error message.
  void Finish();

  // Short spellings.
  bool eof() const { return Eof(); }
  void nextRow() { NextRow(); }
  int numFields() const { return FieldCount(); }
  const char* fieldValue(int n) const { return FieldText(n); }
  void finalize() { Finish(); }

 private:
  friend class CppSQLite3DB;
  CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool eof, bool owns_statement);
  void CheckField(int n) const;

  sqlite3* db_ = nullptr;  // borrowed
  sqlite3_stmt* statement_ = nullptr;
  bool eof_ = true;
  int columns_ = 0;
  bool owns_statement_ = false;
};

// The whole result of a query held in memory (SQLite's table interface): column names first,
// then the cells row by row, all as texts. Made by CppSQLite3DB::LoadTable.
class CppSQLite3Table {
 public:
  CppSQLite3Table() = default;
  CppSQLite3Table(const CppSQLite3Table&) = delete;
  CppSQLite3Table& operator=(const CppSQLite3Table&) = delete;
  CppSQLite3Table(CppSQLite3Table&& other) noexcept;
  CppSQLite3Table& operator=(CppSQLite3Table&& other) noexcept;
  virtual ~CppSQLite3Table();

  int ColumnCount() const { return columns_; }
  int RowCount() const { return rows_; }

  // Requires a result array ("Null Results pointer") and 0 <= n <= rows-1 ("Invalid row index
  // requested"); makes row n the current row.
  void SelectRow(int n);

  // Requires a result array and 0 <= n <= columns-1 ("Invalid field index requested"). The
  // text of column n of the current row; a NULL cell reads as "" (CellIsNull tells it apart).
  const char* CellText(int n) const;
  bool CellIsNull(int n) const;
  // The cell's leading decimal number, as the original read ids and codes (0 when none).
  int CellInt(int n) const;
  const char* ColumnName(int n) const;

  // Frees the result array; the table is then empty.
  void Release();

  // Short spellings.
  int numFields() const { return ColumnCount(); }
  int numRows() const { return RowCount(); }
  void setRow(int n) { SelectRow(n); }
  const char* fieldValue(int n) const { return CellText(n); }
  void finalize() { Release(); }

 private:
  friend class CppSQLite3DB;
  CppSQLite3Table(char** results, int rows, int columns);
  void CheckResults() const;
  void CheckColumn(int n) const;
  const char* Cell(int n) const;

  int columns_ = 0;
  int rows_ = 0;
  int current_row_ = 0;
  char** results_ = nullptr;  // from sqlite3_get_table, released with sqlite3_free_table
};

// A statement text built by SQLite's formatter (sqlite3_mprintf): "%q" doubles the single quotes
// of a text for use between quotes, "%Q" also adds the quotes (NULL for a null pointer), and
// integers take the C conversions ("%lld" for a long long). Raises SQLITE_NOMEM when the text
// cannot be allocated.
std::string CppSQLite3Format(const char* format, ...);

// One database connection: opened for one operation and closed before it returns.
class CppSQLite3DB {
 public:
  CppSQLite3DB() = default;
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
  CppSQLite3DB(CppSQLite3DB&& other) noexcept;
  CppSQLite3DB& operator=(CppSQLite3DB&& other) noexcept;
  // Closes the handle if open.
  virtual ~CppSQLite3DB();

  // Opens (creating when missing) the file named as SQLite takes it (a POSIX path, or
  // ":memory:"); Windows paths are mapped by the caller. Closes a handle already open. On
  // failure raises with SQLite's code and its message for the handle; on success sets the
  // busy time-out.
  void OpenFile(const std::string& file_name);
  // Opens an existing file for reading only: nothing is created or written, not even the
  // rolling back of a write a crash left unfinished (the first read then raises
  // SQLITE_READONLY). Raises like OpenFile, also when the file is missing.
  void OpenFileReadOnly(const std::string& file_name);
  void CloseFile();
  bool IsOpen() const { return db_ != nullptr; }

  // Sets the busy time-out for the open handle and for later opens.
  void SetBusyTimeout(int milliseconds);

  // Each of these requires an open database ("Database not open").
  // Runs the text (one or more statements) and returns the number of rows changed.
  int ExecuteChange(const std::string& sql);
  // Prepares the text's first statement and takes its first step.
  CppSQLite3Query ExecuteQuery(const std::string& sql);
  // Runs the text and holds its whole result.
  CppSQLite3Table LoadTable(const std::string& sql);
  // Whether the database holds a table of that name (any case).
  bool TableExists(const std::string& table);
  int64_t LastRowId();

  // The handle, for calls this layer does not wrap; null when closed.
  sqlite3* Handle() const { return db_; }

  // Short spellings.
  void open(const std::string& file_name) { OpenFile(file_name); }
  void close() { CloseFile(); }
  void setBusyTimeout(int milliseconds) { SetBusyTimeout(milliseconds); }
  int execDML(const std::string& sql) { return ExecuteChange(sql); }
  CppSQLite3Query execQuery(const std::string& sql) { return ExecuteQuery(sql); }
  CppSQLite3Table getTable(const std::string& sql) { return LoadTable(sql); }
  bool tableExists(const std::string& table) { return TableExists(table); }

 private:
  void Open(const std::string& file_name, int flags);
  void CheckDB() const;
  sqlite3_stmt* Prepare(const std::string& sql);

  sqlite3* db_ = nullptr;
  int busy_timeout_ms_ = kCppSQLite3DefaultBusyTimeoutMs;
};

// Binary data as text that SQLite can hold between quotes: SQLite 2's blob-to-text encoding.
//
// The encoded text starts with an offset byte e (1-255, never 0x27), chosen as the first value
// that needs the fewest escapes; each byte b is then written as b - e (modulo 256), except that
// the three results that cannot stand in the text go as escape pairs:
//   b - e == 0x00  ->  0x01 0x01
//   b - e == 0x01  ->  0x01 0x02
//   b - e == 0x27  ->  0x01 0x03
// and a NUL ends the text. No input gives "x". The text never holds a quote or a NUL, so it
// can be placed in a statement with "%Q". The decoder also takes the pair 0x01 0x28 for
// b - e == 0x27, the form SQLite 2's own encoder writes, so texts from either encoder read
// back; anything else after 0x01 is refused.
class CppSQLite3BlobBuffer {
 public:
  CppSQLite3BlobBuffer() = default;
  CppSQLite3BlobBuffer(const CppSQLite3BlobBuffer&) = delete;
  CppSQLite3BlobBuffer& operator=(const CppSQLite3BlobBuffer&) = delete;
  CppSQLite3BlobBuffer(CppSQLite3BlobBuffer&& other) noexcept;
  CppSQLite3BlobBuffer& operator=(CppSQLite3BlobBuffer&& other) noexcept;
  virtual ~CppSQLite3BlobBuffer();

  // Frees any previous buffer and makes room to encode n bytes (n x 257 / 254 + 3), holding an
  // empty text; raises "Cannot allocate memory" when it cannot.
  void Reserve(size_t n);

  // Encodes the n bytes at data; the text is then Encoded(). Null data with n > 0 raises
  // "Null blob pointer".
  void Encode(const unsigned char* data, size_t n);
  // The encoded text (NUL-terminated); "" when nothing was encoded or set.
  const char* Encoded() const;

  // Takes an encoded text (as read from the database) to be decoded by Binary().
  void SetEncoded(const char* text);
  // Decodes the text (once; the buffer then holds the bytes) and returns the bytes, their
  // count in *length. Raises code 1000 "Cannot decode binary" when there is no text or it is
  // not an encoding (empty, or a bad escape); the text is then kept as it was.
  const unsigned char* Binary(size_t* length);

  // Frees the buffer.
  void Clear();

  // Short spellings.
  void setBinary(const unsigned char* data, size_t n) { Encode(data, n); }
  const char* getEncoded() const { return Encoded(); }
  void setEncoded(const char* text) { SetEncoded(text); }
  const unsigned char* getBinary(size_t* length) { return Binary(length); }

 private:
  std::unique_ptr<unsigned char[]> buffer_;
  size_t blob_length_ = 0;     // bytes of binary data (valid once encoded or decoded)
  size_t encoded_length_ = 0;  // room for the encoded text, its NUL included
  bool encoded_ = false;       // the buffer holds text (true) or decoded bytes (false)
};
