#include "retalo/db/sql_fill.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "platform/text.h"
#include "retalo/db/log_writer.h"

namespace retalo {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from text[*at] on; false when there is none.
bool TakeDigits(std::string_view text, size_t* at) {
  const size_t first = *at;
  while (*at < text.size() && IsDigit(text[*at])) ++*at;
  return *at > first;
}

// A column or a keyword: "TEMP_5", "PCARD", "LIKE", "NULL", a column letter "P".
bool IsName(std::string_view text) {
  if (text.empty() || !IsLetter(text[0])) return false;
  for (char c : text) {
    if (!IsLetter(c) && !IsDigit(c)) return false;
  }
  return true;
}

// A number as the database gives one back: "10", "-1.5", "1e+15".
bool IsNumber(std::string_view text) {
  size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
  if (!TakeDigits(text, &at)) return false;
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (!TakeDigits(text, &at)) return false;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (!TakeDigits(text, &at)) return false;
  }
  return at == text.size();
}

// Only the shapes the texts put outside quotes: a name, the "=" of an exact barcode match, a
// number. Anything else could end the expression it stands in, compare differently or comment
// out the rest of the statement ("=1--").
bool IsBareToken(std::string_view text) { return text == "=" || IsName(text) || IsNumber(text); }

// `text` as it may stand in the statement: quotes doubled inside a literal, or checked as a
// bare token outside one. nullopt when a bare value is refused.
std::optional<std::string> Place(std::string_view text, bool quoted) {
  if (!quoted) {
    if (!IsBareToken(text)) return std::nullopt;
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

// An amount for a %g placeholder. printf's %g keeps six significant digits and switches to
// exponent form (1234567 -> "1.23457e+06"), which would store wrong stock and ledger totals and
// which a numeric column in quotes refuses; the amount is written in plain decimal notation
// instead, with every digit of its integral part and at most six decimals, trailing zeros dropped.
std::string FormatReal(double value) {
  char buffer[400];
  int n = std::snprintf(buffer, sizeof buffer, "%.6f", value);
  std::string text(buffer, static_cast<size_t>(n));
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return text;
}

// The text for one placeholder of conversion `conv`, or nullopt when the value does not fit.
std::optional<std::string> Convert(char conv, const SqlArg& arg, bool quoted) {
  const auto& v = arg.value();
  switch (conv) {
    case 's':
      if (const auto* text = std::get_if<std::string_view>(&v)) return Place(*text, quoted);
      return std::nullopt;
    case 'd':
      if (const auto* number = std::get_if<int>(&v)) return std::to_string(*number);
      return std::nullopt;
    case 'g':
      if (const auto* real = std::get_if<double>(&v)) {
        if (!std::isfinite(*real)) return std::nullopt;
        return FormatReal(*real);
      }
      if (const auto* number = std::get_if<int>(&v)) return FormatReal(*number);
      return std::nullopt;
    case 'c':
      if (const auto* letter = std::get_if<char>(&v)) {
        return Place(std::string_view(letter, 1), quoted);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

bool HasLikeWildcard(std::string_view text) {
  return text.find_first_of("%_[") != std::string_view::npos;
}

std::string FillSql(std::string_view sql_template, std::span<const SqlArg> args) {
  const std::string text = Cp949(sql_template);
  std::string out;
  out.reserve(text.size() + 64);
  auto next = args.begin();
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    // Plain bytes up to the next quote, placeholder or two-byte character go over as a run.
    auto special = [](char b) { return b == '\'' || b == '%' || (b & 0x80) != 0; };
    const size_t run = static_cast<size_t>(
        std::find_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), special) -
        text.begin());
    out.append(text, i, run - i);
    i = run;
    if (i >= text.size()) break;
    const char c = text[i];
    if (platform::IsCp949LeadByte(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
      out += c;
      out += text[++i];
      continue;
    }
    if (c == '\'') quoted = !quoted;
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 >= text.size()) return {};
    const char conv = text[++i];
    if (conv == '%') {
      out += '%';
      continue;
    }
    if (next == args.end()) return {};
    std::optional<std::string> piece = Convert(conv, *next++, quoted);
    if (!piece) return {};
    // A negative number right after a minus of the text would make "--", a comment.
    if (!quoted && !out.empty() && out.back() == '-' && piece->starts_with('-')) return {};
    out += *piece;
  }
  if (next != args.end()) return {};
  return out;
}

std::string FormatSqlReal(double value) { return FormatReal(value); }

}  // namespace retalo
