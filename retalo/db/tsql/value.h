// Values as they travel between SQLite and the SQL Server rules: conversions between the types
// (CAST/CONVERT, the implicit conversions of operators, storing into a column, assigning to a
// variable), their text forms, and the character counting of SQL Server's string functions.
#ifndef RETALO_DB_TSQL_VALUE_H_
#define RETALO_DB_TSQL_VALUE_H_

#include <sqlite3.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "retalo/db/tsql/types.h"

namespace tsql {

struct Value {
  enum class Kind { kNull, kInt, kReal, kText };
  Kind kind = Kind::kNull;
  long long integer = 0;
  double real = 0;
  std::string text;

  static Value Null() { return Value{}; }
  static Value Int(long long v) { return Value{Kind::kInt, v, 0, {}}; }
  static Value Real(double v) { return Value{Kind::kReal, 0, v, {}}; }
  static Value Text(std::string v) { return Value{Kind::kText, 0, 0, std::move(v)}; }
};

Value ValueFromSqlite(sqlite3_value* value);
void ResultValue(sqlite3_context* context, const Value& value);
void BindValue(sqlite3_stmt* stmt, int index, const Value& value);

enum class ConvertMode {
  kConvert,  // CAST/CONVERT and implicit conversions: a long text is cut silently
  kStore,    // into a column: a text that does not fit fails ("would be truncated")
};

// Converts `value`, whose static type is `from` (kUnknown: decided by the value's storage class),
// to `to`, with SQL Server's results and error messages. `style` is CONVERT's style (0 when none).
bool ConvertValue(const Value& value, const SqlType& from, const SqlType& to, int style,
                  ConvertMode mode, Value* out, std::string* error);

// The text SQL Server gives for a value when a string function or a concatenation needs one
// (numbers in decimal; a float in the six-digit form of CONVERT style 0).
std::string ImplicitText(const Value& value);

// The text of a float in CONVERT styles 0-3.
std::string FloatText(double value, int style);

// The UTF-8 text form of a value in a result row (a float that holds a whole number without
// a fraction, else up to 15 significant digits).
std::string CellText(const Value& value);

// Characters of UTF-8 text (an invalid byte counts as one character).
size_t CharCount(std::string_view utf8);
// Byte offset of character `index` (0-based); the text's size when it has fewer characters.
size_t CharOffset(std::string_view utf8, size_t index);
// Length of UTF-8 text in the pharmacy database's code page 949: one byte for ASCII, two for
// any other character.
size_t Cp949Length(std::string_view utf8);

// ASCII letters compared without case, other bytes as they are; used by the string functions,
// LIKE and the comparison collation, as the database's case-insensitive collation does.
char FoldCase(char c);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_VALUE_H_
