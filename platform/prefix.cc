#include "platform/prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

fs::path HomeDir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return fs::temp_directory_path();
}

// Splits at '/' after backslashes were turned into slashes; empty parts and "." are dropped,
// ".." removes the previous part. nullopt when ".." would climb above the start.
std::optional<std::vector<std::string>> NormalizedParts(std::string_view rest) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view part = rest.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    start = end + 1;
  }
  return parts;
}

// Appends each part below `base`, using the spelling already on disk when one exists.
fs::path Descend(fs::path base, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (std::optional<fs::path> found = FindEntryIgnoringCase(base, part)) {
      base = std::move(*found);
    } else {
      base /= part;
    }
  }
  return base;
}

// "COM3" or "COM3:" -> 3; 0 when `name` is not a serial port name.
int ComPortNumber(std::string_view name) {
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  if (name.size() < 4 || name.size() > 6) return 0;
  if (AsciiLower(name[0]) != 'c' || AsciiLower(name[1]) != 'o' || AsciiLower(name[2]) != 'm') {
    return 0;
  }
  int number = 0;
  for (char c : name.substr(3)) {
    if (!IsDigit(c)) return 0;
    number = number * 10 + (c - '0');
  }
  return (number >= 1 && number <= 255) ? number : 0;
}

fs::path ComPortPath(const fs::path& root, int number) {
  fs::path link = root / "dosdevices" / ("com" + std::to_string(number));
  std::error_code error;
  if (fs::exists(fs::symlink_status(link, error))) return link;
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace

fs::path PrefixRoot() {
  fs::path root;
  if (const char* configured = std::getenv("ORDELLA_PREFIX");
      configured != nullptr && *configured != '\0') {
    root = configured;
  } else {
    root = HomeDir() / ".ordella";
  }
  std::error_code error;
  fs::path absolute = fs::absolute(root, error);
  if (!error) root = std::move(absolute);
  fs::create_directories(root, error);
  return root;
}

fs::path RunDirPath() { return PrefixRoot() / "run"; }

fs::path RunDir() {
  fs::path run = RunDirPath();
  std::error_code error;
  fs::create_directories(run, error);
  return run;
}

fs::path ProgramDir() {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (!error) return exe.parent_path();
  return fs::current_path(error);
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto byte = static_cast<unsigned char>(a[i]);
    if (byte >= 0x80) {
      if (a[i] != b[i]) return false;
      // The byte after a CP949 lead byte is part of the same character: compare it exactly.
      if (IsCp949LeadByte(byte) && i + 1 < a.size()) {
        ++i;
        if (a[i] != b[i]) return false;
      }
    } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

std::optional<fs::path> FindEntryIgnoringCase(const fs::path& dir, std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
    return std::nullopt;
  }
  std::error_code error;
  fs::path exact = dir / std::string(name);
  if (fs::exists(fs::symlink_status(exact, error))) return exact;
  std::optional<fs::path> best;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    fs::path candidate = it->path();
    if (!NamesEqualIgnoringCase(candidate.filename().native(), name)) continue;
    // Directory order is arbitrary: take the smallest spelling so the choice is stable.
    if (!best || candidate.filename() < best->filename()) best = std::move(candidate);
  }
  return best;
}

std::optional<fs::path> MapPath(std::string_view windows_path) {
  if (windows_path.empty() || windows_path.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string path(windows_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  std::string_view rest = path;
  // "\\.\COM3" and "\\?\c:\x" name the same things as "COM3" and "c:\x".
  if (rest.starts_with("//./") || rest.starts_with("//?/")) rest.remove_prefix(4);

  const fs::path root = PrefixRoot();
  if (int port = ComPortNumber(rest); port != 0) return ComPortPath(root, port);

  fs::path base = root;
  if (rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == ':') {
    base = Descend(root, {std::string("drive_") + AsciiLower(rest[0])});
    rest.remove_prefix(2);
  } else if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    size_t server_end = rest.find('/');
    if (server_end == std::string_view::npos || server_end == 0) return std::nullopt;
    size_t share_end = rest.find('/', server_end + 1);
    if (share_end == std::string_view::npos) share_end = rest.size();
    std::string server(rest.substr(0, server_end));
    std::string share(rest.substr(server_end + 1, share_end - server_end - 1));
    if (share.empty() || server == "." || server == ".." || share == "." || share == "..") {
      return std::nullopt;
    }
    base = Descend(root, {"unc", server, share});
    rest.remove_prefix(share_end);
  } else if (rest.starts_with("/")) {
    // A path rooted on the current drive: our programs run from drive C.
    base = Descend(root, {"drive_c"});
  }

  std::optional<std::vector<std::string>> parts = NormalizedParts(rest);
  if (!parts) return std::nullopt;
  return Descend(std::move(base), *parts);
}

std::optional<fs::path> ResolvePath(std::string_view path) {
  if (path.starts_with('/') && !path.starts_with("//") &&
      path.find('\\') == std::string_view::npos && path.find('\0') == std::string_view::npos) {
    return fs::path(path).lexically_normal();
  }
  return MapPath(path);
}

}  // namespace platform
