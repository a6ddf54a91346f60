// The database writer's diagnostic log: one plain-text file per calendar day,
// "<path>\log\RetaloLog YYYYMMDD.txt", where <path> is the registry value "path" under
// "Software\Tavenor\Update". Only failures are written. Every record is a header naming the
// operation and its inputs, a failure line saying where it failed, and a separator line.
// Texts are CP949 bytes; every line ends in CR LF. With the registry value missing the log is
// silently off.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace retalo {

// A UTF-8 text written in this source code (a fixed message such as "DB연결실패") as the CP949
// bytes that the log, the database and the callers carry.
std::string Cp949(std::string_view utf8);

// The header of one log record: the operation's name and its labelled inputs. Each factory is
// one of the nine header forms of the log; text values are CP949 bytes, integers are written
// as "%d" and reals as "%f".
class LogHeader {
 public:
  using Value = std::variant<std::string, int, double>;

  // "%s %s\n": time, operation.
  static LogHeader Form1(std::string_view op);
  // + "%s [%s]\n"
  static LogHeader Form2(std::string_view op, std::string_view l1, std::string_view s1);
  // + "%s [%s]\n%s [%d]\n"
  static LogHeader Form3(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, int d2);
  // + "%s [%s]\n%s [%s]\n%s [%d]\n"
  static LogHeader Form4(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, std::string_view s2, std::string_view l3, int d3);
  // + "%s [%s]\n%s [%f]\n"
  static LogHeader Form5(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, double f2);
  // + "%s [%s]\n%s [%d]\n%s [%f]\n"
  static LogHeader Form6(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, int d2, std::string_view l3, double f3);
  // + "%s [%s]\n%s [%d]\n%s [%f]\n%s [%f]\n"
  static LogHeader Form7(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, int d2, std::string_view l3, double f3,
                         std::string_view l4, double f4);
  // + "%s [%s]\n%s [%s]\n%s [%d]\n%s [%f]\n%s [%f]\n"
  static LogHeader Form8(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, std::string_view s2, std::string_view l3, int d3,
                         std::string_view l4, double f4, std::string_view l5, double f5);
  // + "%s [%s]\n%s [%s]\n%s [%s]\n%s [%d]\n"
  static LogHeader Form9(std::string_view op, std::string_view l1, std::string_view s1,
                         std::string_view l2, std::string_view s2, std::string_view l3,
                         std::string_view s3, std::string_view l4, int d4);

  // The header's text for a record written at `time` (lines end in "\n").
  std::string Format(const std::tm& time) const;

 private:
  explicit LogHeader(std::string_view op) : op_(op) {}
  LogHeader& Add(std::string_view label, Value value);

  std::string op_;
  std::vector<std::pair<std::string, Value>> fields_;
};

// The failure line that follows a header, plain form: code, position and description.
std::string FormatFailure(int code, int position, std::string_view description);
// The failure line inside a loop over items: code, position and item index.
std::string FormatIndexedFailure(int code, int position, int index);

// Local time now; replaceable so that tests can fix the date and the time stamp.
using LogClock = std::function<std::tm()>;
std::tm LocalTimeNow();

// One day's log file, for one record. Each part is appended under the file's lock, so that
// writers in other threads and processes never cut into it.
class CLogWriter {
 public:
  explicit CLogWriter(LogClock clock = LocalTimeNow);
  CLogWriter(const CLogWriter&) = delete;
  CLogWriter& operator=(const CLogWriter&) = delete;

  bool opened() const { return !file_.empty(); }

  // Appends the header; false (and nothing written) when the log is off.
  bool WriteHeader(const LogHeader& header);
  // Append a failure line and the separator; nothing when the log is off.
  void WriteFailure(int code, int position, std::string_view description);
  void WriteIndexedFailure(int code, int position, int index);

 private:
  void Append(std::string_view text);

  LogClock clock_;
  std::string directory_;  // Windows path ending in '\', or empty when the log is off
  std::filesystem::path file_;  // empty when the log is off or its file cannot be written
};

// One whole record (header, failure line, separator) as the operations write it. The failure
// line is written only when the header was.
void LogFailure(const LogHeader& header, int code, int position, std::string_view description,
                const LogClock& clock = LocalTimeNow);
void LogIndexedFailure(const LogHeader& header, int code, int position, int index,
                       const LogClock& clock = LocalTimeNow);

}  // namespace retalo
