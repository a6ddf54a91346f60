// SQL Server data types as far as the translation needs them: the declared types of the pharmacy
// database's columns, the targets of CAST/CONVERT and DECLARE, and the type rules that decide
// what an operator means (string + string concatenates, anything else adds).
#ifndef RETALO_DB_TSQL_TYPES_H_
#define RETALO_DB_TSQL_TYPES_H_

#include <string>
#include <string_view>

namespace tsql {

// Ordered by SQL Server's data type precedence, lowest first; kUnknown and kNull stand apart.
// The numeric values are passed to the registered conversion function, so they are fixed.
enum class TypeKind : int {
  kUnknown = 0,  // not decidable before the statement runs
  kNull = 1,     // the NULL literal: takes the type of whatever it meets
  kChar = 2,
  kVarChar = 3,
  kNChar = 4,
  kNVarChar = 5,
  kBit = 6,
  kInt = 7,
  kBigInt = 8,
  kDecimal = 9,
  kFloat = 10,
  kDateTime = 11,
};

struct SqlType {
  TypeKind kind = TypeKind::kUnknown;
  int length = 0;     // characters (n-types) or bytes (char/varchar); kMaxLength for (max)
  int precision = 0;  // decimal
  int scale = 0;      // decimal

  static constexpr int kMaxLength = 8000;
};

inline bool IsString(TypeKind k) { return k >= TypeKind::kChar && k <= TypeKind::kNVarChar; }
inline bool IsNumeric(TypeKind k) { return k >= TypeKind::kBit && k <= TypeKind::kFloat; }
inline bool IsExactInteger(TypeKind k) { return k >= TypeKind::kBit && k <= TypeKind::kBigInt; }
inline bool IsKnown(TypeKind k) { return k != TypeKind::kUnknown && k != TypeKind::kNull; }

inline SqlType Type(TypeKind kind, int length = 0, int precision = 0, int scale = 0) {
  return SqlType{kind, length, precision, scale};
}

// The type of higher precedence (SQL Server's rule for operands of different types). NULL
// yields to the other; Unknown wins, since the outcome is then only known at run time.
SqlType HigherType(const SqlType& a, const SqlType& b);

// Reads a type name as written in DECLARE/CAST or in a column's declared type ("VARCHAR(10)",
// "int", "numeric(12,2)", "datetime"). Declared types SQLite itself uses ("INTEGER", "TEXT",
// "REAL") are read as their SQL Server counterparts; an empty or unknown declared type gives
// kUnknown. `default_length` is the length of char/varchar written without one (30 in CAST and
// CONVERT, 1 in DECLARE and column definitions).
SqlType ParseTypeName(std::string_view name, int default_length);

// "varchar(10)", "int", ... for messages.
std::string TypeName(const SqlType& type);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_TYPES_H_
