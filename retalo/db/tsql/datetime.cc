#include "retalo/db/tsql/datetime.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace tsql {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
constexpr long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The days of datetime's first and last date (1753-01-01, 9999-12-31) from 1900-01-01.
constexpr long long kFirstDay = DaysFromCivil(1753, 1, 1) - DaysFromCivil(1900, 1, 1);
constexpr long long kLastDay = DaysFromCivil(9999, 12, 31) - DaysFromCivil(1900, 1, 1);

void CivilFromDays(long long z, int* y, int* m, int* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  // Reads between `min` and `max` digits.
  bool Digits(size_t min, size_t max, int* value) {
    size_t start = pos_;
    *value = 0;
    while (pos_ - start < max && std::isdigit(static_cast<unsigned char>(Peek())) != 0) {
      *value = *value * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    return pos_ - start >= min;
  }
  size_t Position() const { return pos_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool ReadTime(Reader* reader, DateTime* out) {
  if (!reader->Digits(1, 2, &out->hour) || !reader->Accept(':') ||
      !reader->Digits(2, 2, &out->minute)) {
    return false;
  }
  if (reader->Accept(':')) {
    if (!reader->Digits(2, 2, &out->second)) return false;
    if (reader->Accept('.')) {
      size_t start = reader->Position();
      int fraction = 0;
      if (!reader->Digits(1, 3, &fraction)) return false;
      size_t digits = reader->Position() - start;
      out->millisecond = fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
    }
  }
  return out->hour < 24 && out->minute < 60 && out->second < 60;
}

bool ReadDate(Reader* reader, DateTime* out) {
  if (!reader->Digits(4, 4, &out->year)) return false;
  char separator = reader->Peek();
  if (separator == '-' || separator == '/' || separator == '.') {
    reader->Accept(separator);
    return reader->Digits(1, 2, &out->month) && reader->Accept(separator) &&
           reader->Digits(1, 2, &out->day);
  }
  return reader->Digits(2, 2, &out->month) && reader->Digits(2, 2, &out->day);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool ParseDateTime(std::string_view text, DateTime* out) {
  text = TrimBlanks(text);
  *out = DateTime{};
  if (text.empty()) return true;
  Reader reader(text);
  bool time_only = text.find(':') != std::string_view::npos && text.find(':') <= 2;
  if (time_only) {
    if (!ReadTime(&reader, out)) return false;
  } else {
    if (!ReadDate(&reader, out)) return false;
    if (reader.Accept(' ') || reader.Accept('T')) {
      while (reader.Accept(' ')) {
      }
      if (!ReadTime(&reader, out)) return false;
    }
  }
  if (!reader.AtEnd()) return false;
  return out->year >= 1753 && out->year <= 9999 && out->month >= 1 && out->month <= 12 &&
         out->day >= 1 && out->day <= DaysInMonth(out->year, out->month);
}

double DaysSince1900(const DateTime& value) {
  long long days = DaysFromCivil(value.year, value.month, value.day) - DaysFromCivil(1900, 1, 1);
  double millis =
      ((value.hour * 60.0 + value.minute) * 60.0 + value.second) * 1000.0 + value.millisecond;
  return static_cast<double>(days) + millis / 86400000.0;
}

bool DateTimeFromDays(double days, DateTime* out) {
  // Refused before the cast: a number far outside datetime could pass the range of long long.
  if (!std::isfinite(days)) return false;
  double whole = std::floor(days);
  if (whole < static_cast<double>(kFirstDay) || whole > static_cast<double>(kLastDay)) {
    return false;
  }
  long long millis = std::llround((days - whole) * 86400000.0);
  long long day_number = static_cast<long long>(whole) + DaysFromCivil(1900, 1, 1);
  if (millis >= 86400000) {
    millis -= 86400000;
    ++day_number;
  }
  CivilFromDays(day_number, &out->year, &out->month, &out->day);
  out->millisecond = static_cast<int>(millis % 1000);
  out->second = static_cast<int>(millis / 1000 % 60);
  out->minute = static_cast<int>(millis / 60000 % 60);
  out->hour = static_cast<int>(millis / 3600000);
  return out->year >= 1753 && out->year <= 9999;
}

bool IsDateStyle(int style) {
  switch (style) {
    case 0:
    case 100:
    case 1:
    case 101:
    case 2:
    case 102:
    case 3:
    case 103:
    case 4:
    case 104:
    case 5:
    case 105:
    case 8:
    case 108:
    case 10:
    case 110:
    case 11:
    case 111:
    case 12:
    case 112:
    case 14:
    case 114:
    case 20:
    case 120:
    case 21:
    case 121:
    case 23:
    case 25:
    case 126:
      return true;
    default:
      return false;
  }
}

bool FormatDateTime(const DateTime& v, int style, std::string* out) {
  if (!IsDateStyle(style)) return false;
  // Date styles: the order of the parts and their separator; styles below 100 write the year
  // with two digits, their 1xx twins with four.
  struct DateStyle {
    int style;
    const char* order;  // 'y', 'm', 'd'
    const char* separator;
  };
  static constexpr DateStyle kDateStyles[] = {
      {1, "mdy", "/"}, {2, "ymd", "."},  {3, "dmy", "/"},  {4, "dmy", "."},
      {5, "dmy", "-"}, {10, "mdy", "-"}, {11, "ymd", "/"}, {12, "ymd", ""},
  };
  char buffer[64];
  for (const DateStyle& date_style : kDateStyles) {
    if (style % 100 != date_style.style) continue;
    out->clear();
    for (const char* part = date_style.order; *part != '\0'; ++part) {
      if (part != date_style.order) *out += date_style.separator;
      if (*part == 'y') {
        std::snprintf(buffer, sizeof buffer, "%0*d", style >= 100 ? 4 : 2,
                      style >= 100 ? v.year : v.year % 100);
      } else {
        std::snprintf(buffer, sizeof buffer, "%02d", *part == 'm' ? v.month : v.day);
      }
      *out += buffer;
    }
    return true;
  }
  switch (style % 100) {
    case 0: {
      int hour12 = v.hour % 12 == 0 ? 12 : v.hour % 12;
      std::snprintf(buffer, sizeof buffer, "%s %2d %04d %2d:%02d%s", kMonths[v.month - 1], v.day,
                    v.year, hour12, v.minute, v.hour < 12 ? "AM" : "PM");
      break;
    }
    case 8:
      std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", v.hour, v.minute, v.second);
      break;
    case 14:
      std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d:%03d", v.hour, v.minute, v.second,
                    v.millisecond);
      break;
    case 20:
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day,
                    v.hour, v.minute, v.second);
      break;
    case 21:
    case 25:
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", v.year, v.month,
                    v.day, v.hour, v.minute, v.second, v.millisecond);
      break;
    case 23:
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", v.year, v.month, v.day);
      break;
    default:  // 126
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", v.year, v.month, v.day,
                    v.hour, v.minute, v.second);
      if (v.millisecond != 0) {
        size_t used = std::char_traits<char>::length(buffer);
        std::snprintf(buffer + used, sizeof buffer - used, ".%03d", v.millisecond);
      }
      break;
  }
  *out = buffer;
  return true;
}

}  // namespace tsql
