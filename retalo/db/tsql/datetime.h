// SQL Server datetime values as the SQLite backend keeps them: text "YYYY-MM-DD HH:MM:SS.mmm"
// (style 121), read from the texts SQL Server accepts and written in the CONVERT styles.
#ifndef RETALO_DB_TSQL_DATETIME_H_
#define RETALO_DB_TSQL_DATETIME_H_

#include <string>
#include <string_view>

namespace tsql {

struct DateTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Reads "yyyymmdd", "yyyy-mm-dd", "yyyy/mm/dd" or "yyyy.mm.dd", each optionally followed by a
// time ("hh:mi", "hh:mi:ss", "hh:mi:ss.mmm", after a blank or a 'T'), or a time alone (on
// 1900-01-01). The empty text is 1900-01-01 00:00:00.000, as in SQL Server. False for any other
// text or a date outside the calendar (years 1753 to 9999).
bool ParseDateTime(std::string_view text, DateTime* out);

// Days since 1900-01-01 (the fraction is the time of day), and back: SQL Server's number <->
// datetime conversion.
double DaysSince1900(const DateTime& value);
bool DateTimeFromDays(double days, DateTime* out);

// True for the CONVERT styles of datetime -> text this layer writes.
bool IsDateStyle(int style);

// The text of `value` in CONVERT style `style` (0 for the default "Mon dd yyyy hh:miAM").
// False for a style IsDateStyle refuses.
bool FormatDateTime(const DateTime& value, int style, std::string* out);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_DATETIME_H_
