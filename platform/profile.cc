#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/prefix.h"
#include "platform/text.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One pair of enclosing quotes, double or single, is not part of the value.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The value of the first `key` in the first section named `section`; nullopt when the file,
// the section or the key is missing.
std::optional<std::string> FindValue(std::string_view section, std::string_view key,
                                     std::string_view file) {
  std::optional<std::filesystem::path> path = MapPath(file);
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  if (!in) return std::nullopt;
  section = Trim(section);
  key = Trim(key);
  bool seen_section = false;
  bool in_section = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      // Only the first section of that name is searched.
      if (in_section) return std::nullopt;
      size_t close = text.find(']');
      std::string_view name = Trim(
          text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      in_section = !seen_section && NamesEqualIgnoringCase(name, section);
      seen_section = seen_section || in_section;
      continue;
    }
    if (!in_section) continue;
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (NamesEqualIgnoringCase(Trim(text.substr(0, equals)), key)) {
      return std::string(Unquote(Trim(text.substr(equals + 1))));
    }
  }
  return std::nullopt;
}

}  // namespace

size_t GetPrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view default_value, char* out, size_t size,
                               std::string_view file) {
  std::string value = ReadProfileString(section, key, default_value, file);
  if (out == nullptr || size == 0) return 0;
  CopyBounded(out, size, value);
  return CutCp949(value, size - 1).size();
}

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view default_value, std::string_view file) {
  if (std::optional<std::string> value = FindValue(section, key, file)) return *value;
  // Like GetPrivateProfileString, trailing blanks of the default are dropped.
  while (!default_value.empty() && IsBlank(default_value.back())) default_value.remove_suffix(1);
  return std::string(default_value);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         std::string_view file) {
  std::optional<std::string> value = FindValue(section, key, file);
  if (!value) return default_value;
  const char* start = value->c_str();
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(start, &end, 10);
  if (end == start || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
    return default_value;
  }
  return static_cast<int>(number);
}

}  // namespace platform
