// Filling the placeholders of an SQL text (sql_texts.h) with values from outside.
//
// The texts carry the C format conversions they were written with. A value that stands inside
// a quoted literal ('%s', '%s%s', '%c') has every single quote doubled, so a name or a barcode
// with a quote neither breaks the statement nor adds SQL of its own. A value that stands
// outside quotes must have one of the shapes the texts put there: a name ("LIKE", "NULL", a
// column such as "TEMP_5" or its letter "P"), the operator "=", or a decimal number as the
// database gives one back ("10", "-1.5", "1e+15"); anything else is refused, and so is a
// negative number right after a minus of the text.
//
// Doubling quotes does not make a value safe inside a LIKE pattern: its %, _ and [ stay
// wildcards. The texts are sent as they are, with no ESCAPE clause, so a caller refuses a value
// meant literally in a pattern when HasLikeWildcard holds for it.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace retalo {

// One value for one placeholder: a CP949 text for %s, an integer for %d, a real for %g
// (an integer is accepted too), a single byte for %c.
class SqlArg {
 public:
  SqlArg(std::string_view text) : value_(text) {}                      // NOLINT: implicit by design
  SqlArg(const std::string& text) : value_(std::string_view(text)) {}  // NOLINT
  SqlArg(const char* text) : value_(std::string_view(text)) {}         // NOLINT
  SqlArg(int number) : value_(number) {}                               // NOLINT
  SqlArg(double number) : value_(number) {}                            // NOLINT
  SqlArg(char letter) : value_(letter) {}                              // NOLINT

  const std::variant<std::string_view, int, double, char>& value() const { return value_; }

 private:
  std::variant<std::string_view, int, double, char> value_;
};

// True when `text` holds a LIKE wildcard of T-SQL: %, _ or the [ of a character class.
bool HasLikeWildcard(std::string_view text);

// The text `sql_template` (UTF-8, as in sql_texts.h) with its placeholders filled in order, as
// CP949 bytes ready for CAdoConnection::ExecuteSql. Returns the empty text when the values do
// not fit the placeholders (wrong count or kind, a refused bare value, a real that is not a
// finite number); ExecuteSql fails an empty text with -1, so such a step fails like any failed
// statement and nothing unsafe reaches the database.
std::string FillSql(std::string_view sql_template, std::span<const SqlArg> args);
inline std::string FillSql(std::string_view sql_template, std::initializer_list<SqlArg> args) {
  return FillSql(sql_template, std::span<const SqlArg>(args.begin(), args.size()));
}

// An amount as a %g placeholder writes it: plain decimal notation with every digit of its
// integral part and at most six decimals, trailing zeros dropped (1234567 -> "1234567", never
// "1.23457e+06"). For amounts that travel as text before they reach a statement.
std::string FormatSqlReal(double value);

}  // namespace retalo
