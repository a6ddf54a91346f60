#include "platform/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "platform/prefix.h"

namespace platform {
namespace {

std::string Escape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::vector<std::string> SplitAndUnescape(std::string_view line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      char next = line[++i];
      fields.back().push_back(next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace

bool AppendRunLog(std::string_view name, const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back('\t');
    line += Escape(fields[i]);
  }
  line.push_back('\n');
  std::string path = (RunDir() / std::string(name)).string();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
  return written == static_cast<ssize_t>(line.size());
}

std::vector<std::vector<std::string>> ReadRunLog(std::string_view name) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream file(RunDir() / std::string(name), std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty()) lines.push_back(SplitAndUnescape(line));
  }
  return lines;
}

std::string RunLogTimeStamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis.count()));
  return text;
}

}  // namespace platform
