#include "retalo/db/tsql/value.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "retalo/db/tsql/datetime.h"

namespace tsql {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte length of the UTF-8 sequence that starts with `lead` (1 for an invalid lead byte).
size_t SequenceLength(std::string_view text, size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 1;
  for (size_t i = 1; i < length; ++i) {
    if (at + i >= text.size() || !IsContinuation(static_cast<unsigned char>(text[at + i]))) {
      return 1;
    }
  }
  return length;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

const char* SourceName(TypeKind kind) {
  switch (kind) {
    case TypeKind::kNChar:
      return "nchar";
    case TypeKind::kNVarChar:
      return "nvarchar";
    case TypeKind::kChar:
      return "char";
    default:
      return "varchar";
  }
}

std::string TargetName(const SqlType& to) {
  switch (to.kind) {
    case TypeKind::kDecimal:
      return "numeric";
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
      return SourceName(to.kind);
    default:
      return TypeName(to);
  }
}

// The classes a value falls into once its static type and storage class are taken together.
enum class Source { kNull, kInt, kFloat, kDecimal, kText, kDateTime };

Source ClassOf(const Value& value, const SqlType& from) {
  if (value.kind == Value::Kind::kNull) return Source::kNull;
  if (from.kind == TypeKind::kDateTime) return Source::kDateTime;
  switch (value.kind) {
    case Value::Kind::kInt:
      return from.kind == TypeKind::kDecimal && from.scale > 0 ? Source::kDecimal : Source::kInt;
    case Value::Kind::kReal:
      return from.kind == TypeKind::kDecimal ? Source::kDecimal : Source::kFloat;
    default:
      return Source::kText;
  }
}

double AsDouble(const Value& v) {
  return v.kind == Value::Kind::kInt ? static_cast<double>(v.integer) : v.real;
}

// Strict integer reading as SQL Server does it: blanks around, an optional sign, digits; the
// empty text is 0.
bool ParseInteger(std::string_view text, long long* out) {
  text = TrimSpaces(text);
  if (text.empty()) {
    *out = 0;
    return true;
  }
  size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j) {
    if (std::isdigit(static_cast<unsigned char>(text[j])) == 0) return false;
  }
  std::string copy(text);
  errno = 0;
  *out = std::strtoll(copy.c_str(), nullptr, 10);
  return errno != ERANGE;
}

// Float reading: blanks, sign, digits with an optional point, optional exponent. Decimal
// reading (`allow_exponent` false) takes no exponent. The empty text is 0 for float only.
bool ParseNumber(std::string_view text, bool allow_exponent, double* out) {
  text = TrimSpaces(text);
  if (text.empty()) {
    *out = 0;
    return allow_exponent;
  }
  size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
  size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (allow_exponent && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponent_digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
      ++i;
      ++exponent_digits;
    }
    if (exponent_digits == 0) return false;
  }
  if (i != text.size()) return false;
  *out = std::strtod(std::string(text).c_str(), nullptr);
  return std::isfinite(*out);
}

double RoundHalfAway(double value, int scale) {
  double factor = std::pow(10.0, scale);
  return std::round(value * factor) / factor;
}

std::string FixedText(double value, int scale) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", scale, RoundHalfAway(value, scale));
  return buffer;
}

// Keeps whole characters of `text` while their length (bytes in code page 949 for char/varchar,
// UTF-16 units for nchar/nvarchar) fits `limit`; *cut tells whether anything but blanks was left
// out.
std::string FitText(std::string_view text, const SqlType& to, bool* cut) {
  bool national = to.kind == TypeKind::kNChar || to.kind == TypeKind::kNVarChar;
  size_t used = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t length = SequenceLength(text, at);
    size_t width =
        static_cast<unsigned char>(text[at]) < 0x80 ? 1 : (national && length < 4 ? 1 : 2);
    if (used + width > static_cast<size_t>(to.length)) break;
    used += width;
    at += length;
  }
  *cut = !TrimSpaces(text.substr(at)).empty();
  std::string fitted(text.substr(0, at));
  if (to.kind == TypeKind::kChar || to.kind == TypeKind::kNChar) {
    fitted.append(static_cast<size_t>(to.length) - used, ' ');
  }
  return fitted;
}

class Converter {
 public:
  Converter(const Value& value, const SqlType& from, const SqlType& to, int style, ConvertMode mode,
            std::string* error)
      : value_(value),
        from_(from),
        to_(to),
        style_(style),
        mode_(mode),
        error_(error),
        source_(ClassOf(value, from)) {}

  bool Run(Value* out) {
    if (source_ == Source::kNull) {
      *out = Value::Null();
      return true;
    }
    switch (to_.kind) {
      case TypeKind::kBit:
      case TypeKind::kInt:
      case TypeKind::kBigInt:
        return ToInteger(out);
      case TypeKind::kFloat:
        return ToFloat(out);
      case TypeKind::kDecimal:
        return ToDecimal(out);
      case TypeKind::kChar:
      case TypeKind::kVarChar:
      case TypeKind::kNChar:
      case TypeKind::kNVarChar:
        return ToText(out);
      case TypeKind::kDateTime:
        return ToDateTime(out);
      default:
        *out = value_;
        return true;
    }
  }

 private:
  bool Fail(std::string message) {
    *error_ = std::move(message);
    return false;
  }
  bool ConversionFailed() {
    return Fail("Conversion failed when converting the " + std::string(SourceName(from_.kind)) +
                " value '" + value_.text + "' to data type " + TargetName(to_) + ".");
  }
  bool Overflow(const char* source) {
    return Fail("Arithmetic overflow error converting " + std::string(source) + " to data type " +
                TargetName(to_) + ".");
  }
  bool Truncated() { return Fail("String or binary data would be truncated."); }

  bool DateTimeOf(DateTime* out) {
    if (value_.kind == Value::Kind::kText) {
      if (ParseDateTime(value_.text, out)) return true;
      return Fail("Conversion failed when converting date and/or time from character string.");
    }
    if (DateTimeFromDays(AsDouble(value_), out)) return true;
    return Fail("Arithmetic overflow error converting expression to data type datetime.");
  }

  // Number of the source as a double (texts read as float), for the numeric targets.
  bool SourceNumber(double* out, bool allow_exponent) {
    switch (source_) {
      case Source::kText:
        if (ParseNumber(value_.text, allow_exponent, out)) return true;
        return Fail(std::string("Error converting data type ") + SourceName(from_.kind) + " to " +
                    (allow_exponent ? "float." : "numeric."));
      case Source::kDateTime: {
        DateTime dt;
        if (!DateTimeOf(&dt)) return false;
        *out = DaysSince1900(dt);
        return true;
      }
      default:
        *out = AsDouble(value_);
        return true;
    }
  }

  bool ToInteger(Value* out) {
    long long result = 0;
    if (source_ == Source::kText) {
      std::string_view text = TrimSpaces(value_.text);
      if (to_.kind == TypeKind::kBit && (text.size() == 4 || text.size() == 5)) {
        std::string upper;
        for (char c : text)
          upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (upper == "TRUE" || upper == "FALSE") {
          *out = Value::Int(upper == "TRUE" ? 1 : 0);
          return true;
        }
      }
      if (!ParseInteger(text, &result)) return ConversionFailed();
    } else if (source_ == Source::kInt) {
      result = value_.integer;
    } else {
      double number = 0;
      if (!SourceNumber(&number, true)) return false;
      // float and numeric -> integer types cut the fraction; datetime rounds to the nearest day.
      number = source_ == Source::kDateTime ? std::round(number) : std::trunc(number);
      if (number < -9.2e18 || number > 9.2e18) return Overflow("expression");
      result = static_cast<long long>(number);
    }
    if (to_.kind == TypeKind::kBit) {
      *out = Value::Int(result != 0 ? 1 : 0);
      return true;
    }
    if (to_.kind == TypeKind::kInt &&
        (result < std::numeric_limits<int>::min() || result > std::numeric_limits<int>::max())) {
      if (source_ == Source::kText) {
        return Fail("The conversion of the " + std::string(SourceName(from_.kind)) + " value '" +
                    value_.text + "' overflowed an int column.");
      }
      return Overflow("expression");
    }
    *out = Value::Int(result);
    return true;
  }

  bool ToFloat(Value* out) {
    double number = 0;
    if (!SourceNumber(&number, true)) return false;
    *out = Value::Real(number);
    return true;
  }

  bool ToDecimal(Value* out) {
    double number = 0;
    if (!SourceNumber(&number, false)) return false;
    number = RoundHalfAway(number, to_.scale);
    if (std::fabs(number) >= std::pow(10.0, to_.precision - to_.scale)) {
      return Overflow(source_ == Source::kFloat ? "float"
                      : source_ == Source::kInt ? "expression"
                                                : "numeric");
    }
    // Whole numbers are held as integers while they fit; decimal(38, 0) reaches further.
    if (to_.scale == 0 && std::fabs(number) < 9.2e18) {
      *out = Value::Int(static_cast<long long>(number));
    } else {
      *out = Value::Real(number);
    }
    return true;
  }

  bool ToText(Value* out) {
    std::string text;
    bool is_number = true;
    const char* number_source = "expression";
    switch (source_) {
      case Source::kInt:
        text = std::to_string(value_.integer);
        break;
      case Source::kFloat:
        text = FloatText(value_.real, style_ >= 0 && style_ <= 3 ? style_ : 0);
        number_source = "float";
        break;
      case Source::kDecimal:
        text = FixedText(AsDouble(value_), from_.scale);
        number_source = "numeric";
        break;
      case Source::kDateTime: {
        DateTime dt;
        if (!DateTimeOf(&dt)) return false;
        if (!FormatDateTime(dt, style_, &text)) {
          return Fail(std::to_string(style_) +
                      " is not a valid style number when converting from datetime to a character "
                      "string.");
        }
        is_number = false;
        break;
      }
      default:
        text = value_.text;
        is_number = false;
        break;
    }
    bool cut = false;
    std::string fitted = to_.length >= SqlType::kMaxLength ? text : FitText(text, to_, &cut);
    if (cut && mode_ == ConvertMode::kStore) return Truncated();
    if (cut && is_number) {
      // A number that does not fit: '*' for an integer into char/varchar, an error otherwise.
      bool national = to_.kind == TypeKind::kNChar || to_.kind == TypeKind::kNVarChar;
      if (source_ != Source::kInt || national) return Overflow(number_source);
      fitted.assign(1, '*');
      if (to_.kind == TypeKind::kChar) fitted.append(static_cast<size_t>(to_.length) - 1, ' ');
    }
    *out = Value::Text(std::move(fitted));
    return true;
  }

  bool ToDateTime(Value* out) {
    DateTime dt;
    if (source_ == Source::kText || source_ == Source::kDateTime) {
      if (!DateTimeOf(&dt)) return false;
    } else if (!DateTimeFromDays(AsDouble(value_), &dt)) {
      return Overflow("expression");
    }
    std::string text;
    FormatDateTime(dt, 121, &text);
    *out = Value::Text(std::move(text));
    return true;
  }

  const Value& value_;
  const SqlType& from_;
  const SqlType& to_;
  int style_;
  ConvertMode mode_;
  std::string* error_;
  Source source_;
};

}  // namespace

Value ValueFromSqlite(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return Value::Int(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return Value::Real(sqlite3_value_double(value));
    case SQLITE_NULL:
      return Value::Null();
    default: {
      const unsigned char* text = sqlite3_value_text(value);
      int bytes = sqlite3_value_bytes(value);
      return Value::Text(
          text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes))
               : std::string());
    }
  }
}

void ResultValue(sqlite3_context* context, const Value& value) {
  switch (value.kind) {
    case Value::Kind::kNull:
      sqlite3_result_null(context);
      break;
    case Value::Kind::kInt:
      sqlite3_result_int64(context, value.integer);
      break;
    case Value::Kind::kReal:
      sqlite3_result_double(context, value.real);
      break;
    case Value::Kind::kText:
      sqlite3_result_text64(context, value.text.data(), value.text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
      break;
  }
}

void BindValue(sqlite3_stmt* stmt, int index, const Value& value) {
  switch (value.kind) {
    case Value::Kind::kNull:
      sqlite3_bind_null(stmt, index);
      break;
    case Value::Kind::kInt:
      sqlite3_bind_int64(stmt, index, value.integer);
      break;
    case Value::Kind::kReal:
      sqlite3_bind_double(stmt, index, value.real);
      break;
    case Value::Kind::kText:
      sqlite3_bind_text64(stmt, index, value.text.data(), value.text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
      break;
  }
}

bool ConvertValue(const Value& value, const SqlType& from, const SqlType& to, int style,
                  ConvertMode mode, Value* out, std::string* error) {
  return Converter(value, from, to, style, mode, error).Run(out);
}

std::string FloatText(double value, int style) {
  char buffer[64];
  switch (style) {
    case 1:
      std::snprintf(buffer, sizeof buffer, "%.7e", value);
      break;
    case 2:
      std::snprintf(buffer, sizeof buffer, "%.15e", value);
      break;
    case 3:
      std::snprintf(buffer, sizeof buffer, "%.16e", value);
      break;
    default:
      std::snprintf(buffer, sizeof buffer, "%.6g", value);
      break;
  }
  // The database writes exponents with three digits ("1.23457e+006").
  std::string text = buffer;
  size_t e = text.find('e');
  if (e != std::string::npos && e + 2 < text.size()) {
    size_t digits = text.size() - (e + 2);
    if (digits < 3) text.insert(e + 2, 3 - digits, '0');
  }
  return text;
}

std::string ImplicitText(const Value& value) {
  switch (value.kind) {
    case Value::Kind::kInt:
      return std::to_string(value.integer);
    case Value::Kind::kReal:
      return FloatText(value.real, 0);
    case Value::Kind::kText:
      return value.text;
    default:
      return std::string();
  }
}

std::string CellText(const Value& value) {
  switch (value.kind) {
    case Value::Kind::kInt:
      return std::to_string(value.integer);
    case Value::Kind::kReal: {
      char buffer[64];
      if (std::isfinite(value.real) && value.real == std::trunc(value.real) &&
          std::fabs(value.real) < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value.real);
      } else {
        std::snprintf(buffer, sizeof buffer, "%.15g", value.real);
      }
      return buffer;
    }
    case Value::Kind::kText:
      return value.text;
    default:
      return std::string();
  }
}

size_t CharCount(std::string_view utf8) {
  size_t count = 0;
  for (size_t at = 0; at < utf8.size(); at += SequenceLength(utf8, at)) ++count;
  return count;
}

size_t CharOffset(std::string_view utf8, size_t index) {
  size_t at = 0;
  for (size_t i = 0; i < index && at < utf8.size(); ++i) at += SequenceLength(utf8, at);
  return at;
}

size_t Cp949Length(std::string_view utf8) {
  size_t length = 0;
  for (size_t at = 0; at < utf8.size(); at += SequenceLength(utf8, at)) {
    length += static_cast<unsigned char>(utf8[at]) < 0x80 ? 1 : 2;
  }
  return length;
}

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace tsql
