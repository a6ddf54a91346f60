#include "retalo/db/tsql/types.h"

#include <cctype>
#include <cstdlib>

#include "retalo/db/tsql/lexer.h"

namespace tsql {
namespace {

struct NamedKind {
  std::string_view name;
  TypeKind kind;
};

constexpr NamedKind kTypeNames[] = {
    {"CHAR", TypeKind::kChar},
    {"CHARACTER", TypeKind::kChar},
    {"VARCHAR", TypeKind::kVarChar},
    {"TEXT", TypeKind::kVarChar},
    {"NCHAR", TypeKind::kNChar},
    {"NVARCHAR", TypeKind::kNVarChar},
    {"NTEXT", TypeKind::kNVarChar},
    {"BIT", TypeKind::kBit},
    {"TINYINT", TypeKind::kInt},
    {"SMALLINT", TypeKind::kInt},
    {"INT", TypeKind::kInt},
    {"INTEGER", TypeKind::kInt},
    {"BIGINT", TypeKind::kBigInt},
    {"DECIMAL", TypeKind::kDecimal},
    {"NUMERIC", TypeKind::kDecimal},
    {"MONEY", TypeKind::kDecimal},
    {"SMALLMONEY", TypeKind::kDecimal},
    {"FLOAT", TypeKind::kFloat},
    {"REAL", TypeKind::kFloat},
    {"DOUBLE", TypeKind::kFloat},
    {"DATETIME", TypeKind::kDateTime},
    {"SMALLDATETIME", TypeKind::kDateTime},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) s.remove_suffix(1);
  return s;
}

// Reads "(a)" or "(a, b)" or "(max)" after a type's name; false when the text is something else.
bool ReadArguments(std::string_view rest, int* first, int* second, bool* present) {
  rest = Trim(rest);
  *present = false;
  if (rest.empty()) return true;
  if (rest.front() != '(' || rest.back() != ')') return false;
  rest = Trim(rest.substr(1, rest.size() - 2));
  *present = true;
  if (SameName(rest, "MAX")) {
    *first = SqlType::kMaxLength;
    return true;
  }
  size_t comma = rest.find(',');
  std::string a(Trim(rest.substr(0, comma)));
  char* end = nullptr;
  long value = std::strtol(a.c_str(), &end, 10);
  if (a.empty() || *end != '\0' || value < 0 || value > SqlType::kMaxLength) return false;
  *first = static_cast<int>(value);
  if (comma != std::string_view::npos) {
    std::string b(Trim(rest.substr(comma + 1)));
    value = std::strtol(b.c_str(), &end, 10);
    if (b.empty() || *end != '\0' || value < 0 || value > 38) return false;
    *second = static_cast<int>(value);
  }
  return true;
}

}  // namespace

SqlType HigherType(const SqlType& a, const SqlType& b) {
  if (a.kind == TypeKind::kUnknown || b.kind == TypeKind::kUnknown) return SqlType{};
  if (a.kind == TypeKind::kNull) return b;
  if (b.kind == TypeKind::kNull) return a;
  if (a.kind == b.kind) {
    SqlType merged = a;
    if (a.length < b.length) merged.length = b.length;
    if (a.scale < b.scale) merged.scale = b.scale;
    if (a.precision < b.precision) merged.precision = b.precision;
    return merged;
  }
  return static_cast<int>(a.kind) > static_cast<int>(b.kind) ? a : b;
}

SqlType ParseTypeName(std::string_view name, int default_length) {
  name = Trim(name);
  size_t word_end = 0;
  while (word_end < name.size() &&
         (std::isalnum(static_cast<unsigned char>(name[word_end])) != 0 || name[word_end] == '_')) {
    ++word_end;
  }
  std::string_view word = name.substr(0, word_end);
  std::string_view rest = name.substr(word_end);
  // "DOUBLE PRECISION", "CHARACTER VARYING", "UNSIGNED BIG INT" and the like are not SQL Server
  // declarations; the first word alone decides, the arguments must then follow directly.
  SqlType type;
  for (const NamedKind& entry : kTypeNames) {
    if (SameName(word, entry.name)) type.kind = entry.kind;
  }
  if (type.kind == TypeKind::kUnknown) return type;
  int first = 0;
  int second = 0;
  bool present = false;
  if (!ReadArguments(rest, &first, &second, &present)) return SqlType{};
  switch (type.kind) {
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
      type.length = present ? first : default_length;
      if (SameName(word, "TEXT") || SameName(word, "NTEXT")) type.length = SqlType::kMaxLength;
      if (type.length == 0) return SqlType{};
      break;
    case TypeKind::kDecimal:
      type.precision = present ? first : 18;
      type.scale = present ? second : 0;
      if (SameName(word, "MONEY") || SameName(word, "SMALLMONEY")) {
        type.precision = 19;
        type.scale = 4;
      }
      if (type.precision < 1 || type.precision > 38 || type.scale > type.precision) {
        return SqlType{};
      }
      break;
    default:
      break;
  }
  return type;
}

std::string TypeName(const SqlType& type) {
  auto with_length = [&](const char* base) {
    if (type.length >= SqlType::kMaxLength) return std::string(base) + "(max)";
    return std::string(base) + "(" + std::to_string(type.length) + ")";
  };
  switch (type.kind) {
    case TypeKind::kUnknown:
      return "unknown";
    case TypeKind::kNull:
      return "null";
    case TypeKind::kChar:
      return with_length("char");
    case TypeKind::kVarChar:
      return with_length("varchar");
    case TypeKind::kNChar:
      return with_length("nchar");
    case TypeKind::kNVarChar:
      return with_length("nvarchar");
    case TypeKind::kBit:
      return "bit";
    case TypeKind::kInt:
      return "int";
    case TypeKind::kBigInt:
      return "bigint";
    case TypeKind::kDecimal:
      return "numeric(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
    case TypeKind::kFloat:
      return "float";
    case TypeKind::kDateTime:
      return "datetime";
  }
  return "unknown";
}

}  // namespace tsql
