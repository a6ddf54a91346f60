#include "retalo/db/log_writer.h"

#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace retalo {
namespace {

constexpr std::string_view kLogKey = "Software\\Tavenor\\Update";
constexpr std::string_view kLogValue = "path";
constexpr size_t kPathBufferSize = 260;  // the registry value is read into this many bytes
constexpr std::string_view kFilePrefix = "RetaloLog";
constexpr size_t kLongDescription = 29;  // longer descriptions (SQL texts) get their own line
constexpr std::string_view kSeparator =
    "-----------------------------------------------------------------------------------\n";

// The time stamp of a record, "%H:%M:%S".
std::string ClockText(const std::tm& time) {
  char buffer[32];
  return std::string(buffer, std::strftime(buffer, sizeof buffer, "%H:%M:%S", &time));
}

// The end of the day's file name, " %Y%m%d.txt".
std::string FileDate(const std::tm& time) {
  char buffer[32];
  return std::string(buffer, std::strftime(buffer, sizeof buffer, " %Y%m%d.txt", &time));
}

// "%f" of a real, as the log writes amounts and quantities.
std::string FixedReal(double value) {
  char buffer[400];  // holds "%f" of any double
  int n = std::snprintf(buffer, sizeof buffer, "%f", value);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// The log directory as a Windows path ending in '\', or empty when the registry has no path.
std::string ReadLogDirectory() {
  platform::RegValue value;
  if (platform::RegGetValue(kLogKey, kLogValue, &value) != platform::RegStatus::kOk ||
      value.type != platform::RegType::kString) {
    return {};
  }
  std::string dir(platform::CutCp949(value.text, kPathBufferSize - 1));
  if (dir.empty()) return {};
  if (dir.back() != '\\') dir += '\\';
  return dir + "log\\";
}

}  // namespace

std::string Cp949(std::string_view utf8) {
  return platform::Utf8ToCp949(utf8).value_or(std::string(utf8));
}

LogHeader& LogHeader::Add(std::string_view label, Value value) {
  fields_.emplace_back(std::string(label), std::move(value));
  return *this;
}

LogHeader LogHeader::Form1(std::string_view op) { return LogHeader(op); }

LogHeader LogHeader::Form2(std::string_view op, std::string_view l1, std::string_view s1) {
  LogHeader h(op);
  h.Add(l1, std::string(s1));
  return h;
}

LogHeader LogHeader::Form3(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, int d2) {
  LogHeader h = Form2(op, l1, s1);
  h.Add(l2, d2);
  return h;
}

LogHeader LogHeader::Form4(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, std::string_view s2, std::string_view l3, int d3) {
  LogHeader h = Form2(op, l1, s1);
  h.Add(l2, std::string(s2)).Add(l3, d3);
  return h;
}

LogHeader LogHeader::Form5(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, double f2) {
  LogHeader h = Form2(op, l1, s1);
  h.Add(l2, f2);
  return h;
}

LogHeader LogHeader::Form6(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, int d2, std::string_view l3, double f3) {
  LogHeader h = Form3(op, l1, s1, l2, d2);
  h.Add(l3, f3);
  return h;
}

LogHeader LogHeader::Form7(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, int d2, std::string_view l3, double f3,
                           std::string_view l4, double f4) {
  LogHeader h = Form6(op, l1, s1, l2, d2, l3, f3);
  h.Add(l4, f4);
  return h;
}

LogHeader LogHeader::Form8(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, std::string_view s2, std::string_view l3, int d3,
                           std::string_view l4, double f4, std::string_view l5, double f5) {
  LogHeader h = Form4(op, l1, s1, l2, s2, l3, d3);
  h.Add(l4, f4).Add(l5, f5);
  return h;
}

LogHeader LogHeader::Form9(std::string_view op, std::string_view l1, std::string_view s1,
                           std::string_view l2, std::string_view s2, std::string_view l3,
                           std::string_view s3, std::string_view l4, int d4) {
  LogHeader h = Form2(op, l1, s1);
  h.Add(l2, std::string(s2)).Add(l3, std::string(s3)).Add(l4, d4);
  return h;
}

std::string LogHeader::Format(const std::tm& time) const {
  std::string out = ClockText(time) + " " + op_ + "\n";
  for (const auto& [label, value] : fields_) {
    out += label;
    out += " [";
    if (const auto* text = std::get_if<std::string>(&value)) {
      out += *text;
    } else if (const auto* number = std::get_if<int>(&value)) {
      out += std::to_string(*number);
    } else {
      out += FixedReal(std::get<double>(value));
    }
    out += "]\n";
  }
  return out;
}

std::string FormatFailure(int code, int position, std::string_view description) {
  const std::string head = Cp949("설명") + " [" + Cp949("위치") + std::to_string(position);
  if (code != 0) {
    return Cp949("에러") + " [" + std::to_string(code) + "]\n" + head + " : " +
           std::string(description) + "]\n";
  }
  if (description.empty()) return head + "]\n";
  if (description.size() > kLongDescription) return head + "]\n" + std::string(description) + "\n";
  return head + " : " + std::string(description) + "]\n";
}

std::string FormatIndexedFailure(int code, int position, int index) {
  std::string line = Cp949("설명") + " [" + Cp949("위치") + std::to_string(position) + " : " +
                     Cp949("색인") + std::to_string(index) + "]\n";
  if (code != 0) return Cp949("에러") + " [" + std::to_string(code) + "]\n" + line;
  return line;
}

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

CLogWriter::CLogWriter(LogClock clock) : clock_(std::move(clock)) {
  directory_ = ReadLogDirectory();
  if (directory_.empty()) return;
  const std::string name = directory_ + std::string(kFilePrefix) + FileDate(clock_());
  std::optional<std::filesystem::path> path = platform::MapPath(name);
  if (!path) return;
  std::error_code ignored;
  std::filesystem::create_directories(path->parent_path(), ignored);
  if (platform::AppendLocked(*path, {}).ok()) file_ = *path;  // created, and writable
}

void CLogWriter::Append(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  platform::AppendLocked(file_, out);
}

bool CLogWriter::WriteHeader(const LogHeader& header) {
  if (!opened()) return false;
  Append(header.Format(clock_()));
  return true;
}

void CLogWriter::WriteFailure(int code, int position, std::string_view description) {
  if (!opened()) return;
  Append(FormatFailure(code, position, description));
  Append(kSeparator);
}

void CLogWriter::WriteIndexedFailure(int code, int position, int index) {
  if (!opened()) return;
  Append(FormatIndexedFailure(code, position, index));
  Append(kSeparator);
}

void LogFailure(const LogHeader& header, int code, int position, std::string_view description,
                const LogClock& clock) {
  CLogWriter log(clock);
  if (log.WriteHeader(header)) log.WriteFailure(code, position, description);
}

void LogIndexedFailure(const LogHeader& header, int code, int position, int index,
                       const LogClock& clock) {
  CLogWriter log(clock);
  if (log.WriteHeader(header)) log.WriteIndexedFailure(code, position, index);
}

}  // namespace retalo
