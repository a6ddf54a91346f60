// The diagnostic log: one file per day below the directory the caller names, one line per
// record, written whole even when several threads and processes log at once.
#include <time.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "companions/util/local_path.h"
#include "companions/util/ordella_util.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kLogFolder = "Log";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The moment of a record, local time.
struct Stamp {
  tm local{};
  int millisecond = 0;
};

Stamp Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  Stamp stamp;
  localtime_r(&now.tv_sec, &stamp.local);
  stamp.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return stamp;
}

// Appends `bytes` to `out`, control bytes as \xHH and a backslash doubled, so that the
// record stays on one line.
void AppendEscaped(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0F];
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
}

std::string DateTimeText(const Stamp& stamp) {
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &stamp.local));
}

std::string DayFileName(const Stamp& stamp) {
  char name[32];
  return std::string(name, std::strftime(name, sizeof name, "%Y%m%d.log", &stamp.local));
}

std::string FormatRecord(const Stamp& stamp, std::string_view tag, std::string_view data) {
  std::string record;
  record.reserve(48 + tag.size() + data.size() * 2);
  record += '[';
  record += DateTimeText(stamp);
  record += '.';
  record += *platform::ZeroPadded(stamp.millisecond, 3);
  record += "][";
  record += std::to_string(getpid());
  record += "][";
  AppendEscaped(record, tag);
  record += "] ";
  AppendEscaped(record, data);
  record += '\n';
  return record;
}

}  // namespace

extern "C" int UtilWriteLog(const char* directory, const char* tag, const void* data, int length,
                            int flag) {
  if (flag == 0 || directory == nullptr || directory[0] == '\0' || length < 0 ||
      (data == nullptr && length > 0)) {
    return 0;
  }
  const Stamp stamp = Now();
  const std::optional<std::filesystem::path> file =
      companions::LocalPath(directory, {kLogFolder, DayFileName(stamp)});
  if (!file) return 0;
  std::error_code error;
  std::filesystem::create_directories(file->parent_path(), error);
  if (error) return 0;
  const std::string record =
      FormatRecord(stamp, tag == nullptr ? std::string_view() : std::string_view(tag),
                   std::string_view(static_cast<const char*>(data), static_cast<size_t>(length)));
  return platform::AppendLocked(*file, record).ok() ? 1 : 0;
}
