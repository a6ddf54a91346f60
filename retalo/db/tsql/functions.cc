#include "retalo/db/tsql/functions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/tsql/value.h"

namespace tsql {
namespace {

// ---- argument helpers ---------------------------------------------------------------------

Value Arg(sqlite3_value** argv, int i) { return ValueFromSqlite(argv[i]); }

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  }
  return false;
}

void Error(sqlite3_context* context, const std::string& message) {
  sqlite3_result_error(context, message.c_str(), static_cast<int>(message.size()));
}

// An integer argument (a length or a position); texts are read as SQL Server reads them.
bool IntArg(sqlite3_context* context, sqlite3_value* arg, long long* out) {
  Value value = ValueFromSqlite(arg);
  if (value.kind == Value::Kind::kInt) {
    *out = value.integer;
    return true;
  }
  Value converted;
  std::string error;
  if (!ConvertValue(value, SqlType{}, Type(TypeKind::kBigInt), 0, ConvertMode::kConvert, &converted,
                    &error)) {
    Error(context, error);
    return false;
  }
  *out = converted.integer;
  return true;
}

void ResultText(sqlite3_context* context, std::string_view text) {
  // An empty view may have no data at all, which SQLite would take for NULL.
  sqlite3_result_text64(context, text.empty() ? "" : text.data(), text.size(), SQLITE_TRANSIENT,
                        SQLITE_UTF8);
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// a + b, held at the largest or smallest number where it would pass them: positions and lengths
// past the end of any text all mean its end.
long long SaturatingAdd(long long a, long long b) {
  long long sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
}

// Characters of `text` from 0-based character `first`, at most `count` of them.
std::string_view Chars(std::string_view text, long long first, long long count) {
  if (count <= 0 || first < 0) return {};
  size_t begin = CharOffset(text, static_cast<size_t>(first));
  std::string_view rest = text.substr(begin);
  return rest.substr(0, CharOffset(rest, static_cast<size_t>(count)));
}

// Byte offset of the first case-insensitive occurrence of `needle` at or after `from`.
size_t FindFolded(std::string_view haystack, std::string_view needle, size_t from) {
  if (needle.empty() || needle.size() > haystack.size()) return std::string_view::npos;
  for (size_t at = from; at + needle.size() <= haystack.size(); ++at) {
    size_t i = 0;
    while (i < needle.size() && FoldCase(haystack[at + i]) == FoldCase(needle[i])) ++i;
    if (i == needle.size()) return at;
  }
  return std::string_view::npos;
}

// ---- conversion and arithmetic ------------------------------------------------------------

// tsql_convert(value, to_kind, to_length, to_precision, to_scale, style, from_kind, from_scale,
// mode)
void ConvertFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  auto int_at = [&](int i) { return sqlite3_value_int(argv[i]); };
  SqlType to{static_cast<TypeKind>(int_at(1)), int_at(2), int_at(3), int_at(4)};
  SqlType from{static_cast<TypeKind>(int_at(6)), 0, 38, int_at(7)};
  ConvertMode mode = int_at(8) == 1 ? ConvertMode::kStore : ConvertMode::kConvert;
  Value out;
  std::string error;
  if (!ConvertValue(Arg(argv, 0), from, to, int_at(5), mode, &out, &error)) {
    Error(context, error);
    return;
  }
  ResultValue(context, out);
}

const char* OperatorName(char op) {
  switch (op) {
    case '+':
      return "add";
    case '-':
      return "subtract";
    case '*':
      return "multiply";
    case '/':
      return "divide";
    default:
      return "modulo";
  }
}

// Brings a text operand to the kind of the numeric one, as SQL Server's precedence does.
bool NumberOperand(const Value& value, const Value& other, Value* out, std::string* error) {
  if (value.kind != Value::Kind::kText) {
    *out = value;
    return true;
  }
  SqlType target = Type(other.kind == Value::Kind::kInt ? TypeKind::kInt : TypeKind::kFloat);
  return ConvertValue(value, Type(TypeKind::kVarChar), target, 0, ConvertMode::kConvert, out,
                      error);
}

// Integer arithmetic in the result's type: int (bit too) or bigint, failing as SQL Server does
// when the result leaves its range.
bool IntegerArith(char op, long long a, long long b, TypeKind type, Value* out,
                  std::string* error) {
  long long result = 0;
  bool overflow = false;
  switch (op) {
    case '+':
      overflow = __builtin_add_overflow(a, b, &result);
      break;
    case '-':
      overflow = __builtin_sub_overflow(a, b, &result);
      break;
    case '*':
      overflow = __builtin_mul_overflow(a, b, &result);
      break;
    default:
      if (b == 0) {
        *error = "Divide by zero error encountered.";
        return false;
      }
      overflow = a == std::numeric_limits<long long>::min() && b == -1;
      if (!overflow) result = op == '/' ? a / b : a % b;
      break;
  }
  const bool bigint = type == TypeKind::kBigInt;
  if (!bigint &&
      (result < std::numeric_limits<int>::min() || result > std::numeric_limits<int>::max())) {
    overflow = true;
  }
  if (overflow) {
    *error = std::string("Arithmetic overflow error converting expression to data type ") +
             (bigint ? "bigint." : "int.");
    return false;
  }
  *out = Value::Int(result);
  return true;
}

// The arithmetic operators: + concatenates two texts; otherwise a text operand takes the other
// operand's numeric type. Two integers are added in `type` (bigint when the types are only
// known at run time).
bool Arith(char op, const Value& a, const Value& b, TypeKind type, Value* out, std::string* error) {
  if (a.kind == Value::Kind::kNull || b.kind == Value::Kind::kNull) {
    *out = Value::Null();
    return true;
  }
  if (a.kind == Value::Kind::kText && b.kind == Value::Kind::kText) {
    if (op == '+') {
      *out = Value::Text(a.text + b.text);
      return true;
    }
    *error = std::string("The data types varchar and varchar are incompatible in the ") +
             OperatorName(op) + " operator.";
    return false;
  }
  Value x;
  Value y;
  if (!NumberOperand(a, b, &x, error) || !NumberOperand(b, a, &y, error)) return false;
  if (x.kind == Value::Kind::kInt && y.kind == Value::Kind::kInt) {
    return IntegerArith(op, x.integer, y.integer, type, out, error);
  }
  double p = x.kind == Value::Kind::kInt ? static_cast<double>(x.integer) : x.real;
  double q = y.kind == Value::Kind::kInt ? static_cast<double>(y.integer) : y.real;
  if ((op == '/' || op == '%') && q == 0) {
    *error = "Divide by zero error encountered.";
    return false;
  }
  switch (op) {
    case '+':
      *out = Value::Real(p + q);
      break;
    case '-':
      *out = Value::Real(p - q);
      break;
    case '*':
      *out = Value::Real(p * q);
      break;
    case '/':
      *out = Value::Real(p / q);
      break;
    default:
      *out = Value::Real(std::fmod(p, q));
      break;
  }
  return true;
}

// tsql_arith(operator, a, b)
void ArithFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  const unsigned char* op = sqlite3_value_text(argv[0]);
  Value out;
  std::string error;
  if (op == nullptr || !Arith(static_cast<char>(op[0]), Arg(argv, 1), Arg(argv, 2),
                              TypeKind::kBigInt, &out, &error)) {
    Error(context, error.empty() ? "tsql_arith: no operator" : error);
    return;
  }
  ResultValue(context, out);
}

// tsql_int_arith(steps, x0, x1, ...): x0, then per step of `steps` (an operator, then 'i' or 'b'
// for the result's type, int or bigint) that operator with the next value.
void IntegerChainFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  const std::string steps = argc >= 2 ? ImplicitText(Arg(argv, 0)) : std::string();
  if (argc < 2 || steps.size() != 2 * static_cast<size_t>(argc - 2)) {
    return Error(context, "tsql_int_arith: the steps do not fit the values");
  }
  Value value = Arg(argv, 1);
  std::string error;
  for (size_t k = 0; k < steps.size(); k += 2) {
    const TypeKind type = steps[k + 1] == 'b' ? TypeKind::kBigInt : TypeKind::kInt;
    Value next;
    if (!Arith(steps[k], value, Arg(argv, static_cast<int>(k / 2) + 2), type, &next, &error)) {
      return Error(context, error);
    }
    value = std::move(next);
  }
  ResultValue(context, value);
}

// ---- string functions ---------------------------------------------------------------------

// LEN(text): characters, blanks at the end not counted.
void LenFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(context);
  std::string text = ImplicitText(Arg(argv, 0));
  sqlite3_result_int64(context, static_cast<long long>(CharCount(TrimTrailingBlanks(text))));
}

void LeftRight(sqlite3_context* context, sqlite3_value** argv, bool left) {
  if (AnyNull(2, argv)) return sqlite3_result_null(context);
  long long count = 0;
  if (!IntArg(context, argv[1], &count)) return;
  if (count < 0) {
    return Error(context, std::string("Invalid length parameter passed to the ") +
                              (left ? "left" : "right") + " function.");
  }
  std::string text = ImplicitText(Arg(argv, 0));
  long long total = static_cast<long long>(CharCount(text));
  ResultText(context,
             left ? Chars(text, 0, count) : Chars(text, std::max(0LL, total - count), count));
}

void LeftFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  LeftRight(context, argv, true);
}

void RightFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  LeftRight(context, argv, false);
}

// SUBSTRING(text, start, length): characters start .. start + length - 1, counted from 1;
// positions before the first character count but yield nothing.
void SubstringFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (AnyNull(3, argv)) return sqlite3_result_null(context);
  long long start = 0;
  long long length = 0;
  if (!IntArg(context, argv[1], &start) || !IntArg(context, argv[2], &length)) return;
  if (length < 0) {
    return Error(context, "Invalid length parameter passed to the substring function.");
  }
  std::string text = ImplicitText(Arg(argv, 0));
  long long first = std::max(start, 1LL);
  long long last = SaturatingAdd(start, length);  // one past the last position
  ResultText(context, last > first ? Chars(text, first - 1, last - first) : "");
}

// CHARINDEX(find, text [, start]): 1-based character position, 0 when absent.
void CharIndexFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  long long start = 1;
  if (argc == 3 && !IntArg(context, argv[2], &start)) return;
  std::string needle = ImplicitText(Arg(argv, 0));
  std::string haystack = ImplicitText(Arg(argv, 1));
  size_t from = CharOffset(haystack, static_cast<size_t>(std::max(start, 1LL) - 1));
  size_t found = FindFolded(haystack, needle, from);
  long long position =
      found == std::string_view::npos
          ? 0
          : static_cast<long long>(CharCount(std::string_view(haystack).substr(0, found))) + 1;
  sqlite3_result_int64(context, position);
}

// STUFF(text, start, length, insert): NULL when start is outside the text or length negative.
void StuffFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (AnyNull(3, argv)) return sqlite3_result_null(context);
  long long start = 0;
  long long length = 0;
  if (!IntArg(context, argv[1], &start) || !IntArg(context, argv[2], &length)) return;
  std::string text = ImplicitText(Arg(argv, 0));
  long long total = static_cast<long long>(CharCount(text));
  if (start < 1 || start > total || length < 0) return sqlite3_result_null(context);
  std::string insert = ImplicitText(Arg(argv, 3));
  std::string result(Chars(text, 0, start - 1));
  result += insert;
  result += Chars(text, SaturatingAdd(start - 1, length), total);
  ResultText(context, result);
}

// STR(number [, length [, decimals]]): right-aligned in `length` (10) characters, rounded to
// `decimals` (0) places, fewer when they do not fit; '*' * length when the number does not.
void StrFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  long long length = 10;
  long long decimals = 0;
  if (argc >= 2 && !IntArg(context, argv[1], &length)) return;
  if (argc >= 3 && !IntArg(context, argv[2], &decimals)) return;
  if (length < 1 || length > 8000 || decimals < 0) return sqlite3_result_null(context);
  Value number;
  std::string error;
  if (!ConvertValue(Arg(argv, 0), SqlType{}, Type(TypeKind::kFloat), 0, ConvertMode::kConvert,
                    &number, &error)) {
    return Error(context, error);
  }
  std::string text;
  for (long long places = std::min(decimals, 16LL); places >= 0; --places) {
    double factor = std::pow(10.0, static_cast<double>(places));
    // A number too large to scale has no fraction left to round.
    double scaled = number.real * factor;
    double rounded = std::isfinite(scaled) ? std::round(scaled) / factor : number.real;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(places), rounded);
    if (static_cast<long long>(std::char_traits<char>::length(buffer)) <= length) {
      text = buffer;
      break;
    }
  }
  if (text.empty()) text.assign(static_cast<size_t>(length), '*');
  text.insert(0, static_cast<size_t>(length) - text.size(), ' ');
  ResultText(context, text);
}

// REPLACE(text, find, replacement), finding without regard to ASCII case.
void ReplaceFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (AnyNull(3, argv)) return sqlite3_result_null(context);
  std::string text = ImplicitText(Arg(argv, 0));
  std::string find = ImplicitText(Arg(argv, 1));
  std::string replacement = ImplicitText(Arg(argv, 2));
  if (find.empty()) return ResultText(context, text);
  std::string result;
  size_t at = 0;
  for (size_t hit; (hit = FindFolded(text, find, at)) != std::string_view::npos;
       at = hit + find.size()) {
    result.append(text, at, hit - at);
    result += replacement;
  }
  result.append(text, at, std::string::npos);
  ResultText(context, result);
}

// Comparison of texts as the database's collation does it: ASCII case and trailing blanks do
// not count.
int CompareFolded(void* /*unused*/, int a_size, const void* a, int b_size, const void* b) {
  std::string_view x =
      TrimTrailingBlanks({static_cast<const char*>(a), static_cast<size_t>(a_size)});
  std::string_view y =
      TrimTrailingBlanks({static_cast<const char*>(b), static_cast<size_t>(b_size)});
  size_t common = std::min(x.size(), y.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char p = static_cast<unsigned char>(FoldCase(x[i]));
    unsigned char q = static_cast<unsigned char>(FoldCase(y[i]));
    if (p != q) return p < q ? -1 : 1;
  }
  return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

// ---- LIKE ---------------------------------------------------------------------------------

struct PatternPart {
  enum class Kind { kAny, kOne, kSet, kLiteral };
  Kind kind = Kind::kLiteral;
  std::string_view literal;                                           // one character
  std::vector<std::pair<std::string_view, std::string_view>> ranges;  // kSet
  bool negated = false;
};

size_t CharLength(std::string_view text, size_t at) { return CharOffset(text.substr(at), 1); }

std::vector<PatternPart> ParsePattern(std::string_view pattern, int escape) {
  std::vector<PatternPart> parts;
  size_t at = 0;
  while (at < pattern.size()) {
    PatternPart part;
    char c = pattern[at];
    size_t length = CharLength(pattern, at);
    if (escape >= 0 && static_cast<unsigned char>(c) == escape && at + 1 < pattern.size()) {
      at += 1;
      part.literal = pattern.substr(at, CharLength(pattern, at));
      at += part.literal.size();
    } else if (c == '%') {
      part.kind = PatternPart::Kind::kAny;
      ++at;
    } else if (c == '_') {
      part.kind = PatternPart::Kind::kOne;
      ++at;
    } else if (c == '[' && pattern.find(']', at + 1) != std::string_view::npos) {
      part.kind = PatternPart::Kind::kSet;
      size_t close = pattern.find(']', at + 1);
      std::string_view set = pattern.substr(at + 1, close - at - 1);
      if (!set.empty() && set[0] == '^') {
        part.negated = true;
        set.remove_prefix(1);
      }
      for (size_t i = 0; i < set.size();) {
        std::string_view low = set.substr(i, CharLength(set, i));
        i += low.size();
        std::string_view high = low;
        if (i + 1 < set.size() && set[i] == '-') {
          high = set.substr(i + 1, CharLength(set, i + 1));
          i += 1 + high.size();
        }
        part.ranges.emplace_back(low, high);
      }
      at = close + 1;
    } else {
      part.literal = pattern.substr(at, length);
      at += length;
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

int CompareChar(std::string_view a, std::string_view b) {
  if (a.size() == 1 && b.size() == 1) {
    return static_cast<unsigned char>(FoldCase(a[0])) - static_cast<unsigned char>(FoldCase(b[0]));
  }
  return a.compare(b);
}

bool PartMatches(const PatternPart& part, std::string_view ch) {
  switch (part.kind) {
    case PatternPart::Kind::kOne:
      return true;
    case PatternPart::Kind::kLiteral:
      return CompareChar(part.literal, ch) == 0;
    case PatternPart::Kind::kSet: {
      bool in = false;
      for (const auto& [low, high] : part.ranges) {
        if (CompareChar(low, ch) <= 0 && CompareChar(ch, high) <= 0) in = true;
      }
      return in != part.negated;
    }
    default:
      return false;
  }
}

// Wildcard matching with one back-tracking point per '%'; positions are byte offsets of whole
// characters, so a scan of many rows allocates nothing.
bool MatchParts(const std::vector<PatternPart>& parts, std::string_view value) {
  size_t p = 0;
  size_t v = 0;
  size_t star_p = std::string_view::npos;
  size_t star_v = 0;
  while (v < value.size()) {
    const size_t length = CharLength(value, v);
    if (p < parts.size() && parts[p].kind == PatternPart::Kind::kAny) {
      star_p = p++;
      star_v = v;
    } else if (p < parts.size() && PartMatches(parts[p], value.substr(v, length))) {
      ++p;
      v += length;
    } else if (star_p != std::string_view::npos) {
      p = star_p + 1;
      star_v += CharLength(value, star_v);
      v = star_v;
    } else {
      return false;
    }
  }
  while (p < parts.size() && parts[p].kind == PatternPart::Kind::kAny) ++p;
  return p == parts.size();
}

// A parsed pattern with the text its parts point into. SQLite keeps it beside the statement
// while the pattern argument stays the same (a literal or a bound parameter), so a scan over
// many rows parses the pattern once. Never copied or moved: the parts view `text`.
struct LikePattern {
  LikePattern(std::string_view pattern, int escape_char)
      : text(pattern), escape(escape_char), parts(ParsePattern(text, escape)) {}
  LikePattern(const LikePattern&) = delete;
  LikePattern& operator=(const LikePattern&) = delete;

  bool Is(std::string_view pattern, int escape_char) const {
    return escape == escape_char && text == pattern;
  }
  // T-SQL LIKE: % and _ wildcards, [set], [^set] and [a-z] classes, an optional escape
  // character; ASCII letters match without case, and blanks that end `value` are ignored.
  bool Matches(std::string_view value) const {
    if (MatchParts(parts, value)) return true;
    const std::string_view trimmed = TrimTrailingBlanks(value);
    return trimmed.size() != value.size() && MatchParts(parts, trimmed);
  }

  const std::string text;
  const int escape;
  const std::vector<PatternPart> parts;
};

// An argument as T-SQL converts it to text: texts are read where SQLite holds them, numbers
// are written out into `storage`.
std::string_view TextArg(sqlite3_value* arg, std::string* storage) {
  const int type = sqlite3_value_type(arg);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    *storage = ImplicitText(ValueFromSqlite(arg));
    return *storage;
  }
  const unsigned char* text = sqlite3_value_text(arg);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(arg))};
}

// tsql_like(value, pattern [, escape])
void LikeFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  int escape = -1;
  if (argc == 3) {
    std::string text = ImplicitText(Arg(argv, 2));
    if (text.size() != 1) return Error(context, "The invalid escape character \"" + text + "\".");
    escape = static_cast<unsigned char>(text[0]);
  }
  std::string value_storage;
  std::string pattern_storage;
  const std::string_view value = TextArg(argv[0], &value_storage);
  const std::string_view pattern = TextArg(argv[1], &pattern_storage);
  constexpr int kPatternArg = 1;
  auto* kept = static_cast<const LikePattern*>(sqlite3_get_auxdata(context, kPatternArg));
  if (kept != nullptr && kept->Is(pattern, escape)) {
    return sqlite3_result_int(context, kept->Matches(value) ? 1 : 0);
  }
  auto parsed = std::make_unique<const LikePattern>(pattern, escape);
  sqlite3_result_int(context, parsed->Matches(value) ? 1 : 0);
  // Last: SQLite may free what it is handed before the call returns.
  sqlite3_set_auxdata(context, kPatternArg, const_cast<LikePattern*>(parsed.release()),
                      [](void* p) { delete static_cast<const LikePattern*>(p); });
}

struct FunctionEntry {
  const char* name;
  int args;
  void (*function)(sqlite3_context*, int, sqlite3_value**);
};

constexpr FunctionEntry kFunctions[] = {
    {"tsql_convert", 9, ConvertFunction},
    {"tsql_arith", 3, ArithFunction},
    {"tsql_int_arith", -1, IntegerChainFunction},
    {"tsql_len", 1, LenFunction},
    {"tsql_left", 2, LeftFunction},
    {"tsql_right", 2, RightFunction},
    {"tsql_substring", 3, SubstringFunction},
    {"tsql_charindex", 2, CharIndexFunction},
    {"tsql_charindex", 3, CharIndexFunction},
    {"tsql_stuff", 4, StuffFunction},
    {"tsql_str", 1, StrFunction},
    {"tsql_str", 2, StrFunction},
    {"tsql_str", 3, StrFunction},
    {"tsql_replace", 3, ReplaceFunction},
    {"tsql_like", 2, LikeFunction},
    {"tsql_like", 3, LikeFunction},
};

}  // namespace

bool RegisterSqlFunctions(sqlite3* db, std::string* error) {
  for (const FunctionEntry& entry : kFunctions) {
    int rc =
        sqlite3_create_function_v2(db, entry.name, entry.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, entry.function, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      *error = std::string("registering ") + entry.name + ": " + sqlite3_errmsg(db);
      return false;
    }
  }
  if (sqlite3_create_collation_v2(db, kCollation, SQLITE_UTF8, nullptr, CompareFolded, nullptr) !=
      SQLITE_OK) {
    *error = std::string("registering the TSQL collation: ") + sqlite3_errmsg(db);
    return false;
  }
  return true;
}

}  // namespace tsql
