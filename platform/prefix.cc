#include "platform/prefix.h"

#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <unordered_map>
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

// Told of each directory a mapping looks into, before it looks.
struct Looks {
  void (*hook)(void* context, const fs::path& dir) = nullptr;
  void* context = nullptr;
  // Cleared by a mapping that also depends on what no watched directory shows (a serial
  // port's device link): such a mapping is not kept.
  mutable bool keep = true;
  void Before(const fs::path& dir) const {
    if (hook != nullptr) hook(context, dir);
  }
};

// Appends each part below `base`, using the spelling already on disk when one exists.
fs::path Descend(fs::path base, const std::vector<std::string>& parts, const Looks& looks) {
  for (const std::string& part : parts) {
    looks.Before(base);
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

fs::path PrefixRootPath() {
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
  return root;
}

fs::path PrefixRoot() {
  fs::path root = PrefixRootPath();
  std::error_code error;
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

namespace {

// MapPath below `root`, telling `looks` of every directory it looks into.
std::optional<fs::path> MapBelow(const fs::path& root, std::string_view windows_path,
                                 const Looks& looks) {
  std::string path(windows_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  std::string_view rest = path;
  // "\\.\COM3" and "\\?\c:\x" name the same things as "COM3" and "c:\x".
  if (rest.starts_with("//./") || rest.starts_with("//?/")) rest.remove_prefix(4);

  if (int port = ComPortNumber(rest); port != 0) {
    looks.keep = false;
    return ComPortPath(root, port);
  }

  fs::path base = root;
  if (rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == ':') {
    base = Descend(root, {std::string("drive_") + AsciiLower(rest[0])}, looks);
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
    base = Descend(root, {"unc", server, share}, looks);
    rest.remove_prefix(share_end);
  } else if (rest.starts_with("/")) {
    // A path rooted on the current drive: our programs run from drive C.
    base = Descend(root, {"drive_c"}, looks);
  }

  std::optional<std::vector<std::string>> parts = NormalizedParts(rest);
  if (!parts) return std::nullopt;
  return Descend(std::move(base), *parts, looks);
}

// The mappings made so far, kept while no directory they looked into has changed. Each such
// directory is watched (inotify) from before the mapping looks into it: an entry created,
// removed or renamed there, or the directory itself removed or moved, drops every mapping, so
// that a kept one gives what a fresh look would. Checking costs one poll of the watch instead
// of a stat (or a listing, when the case differs) of every component, and the prefix root is
// not placed anew. Where no watch can be had, nothing is kept. A forked child does not read the
// watch it inherited (its events are the parent's): it starts its own.
class Mappings {
 public:
  static Mappings& Instance() {
    static Mappings mappings;
    return mappings;
  }

  ~Mappings() { Close(); }
  Mappings(const Mappings&) = delete;
  Mappings& operator=(const Mappings&) = delete;

  std::optional<fs::path> Map(std::string_view windows_path) {
    std::string key = RootKey();
    if (key.empty()) return MapBelow(PrefixRoot(), windows_path, Looks{});
    std::lock_guard lock(mutex_);
    Refresh();
    if (!PlaceRootFor(std::move(key))) return MapBelow(root_, windows_path, Looks{});
    std::string key_path(windows_path);
    if (auto found = mapped_.find(key_path); found != mapped_.end()) return found->second;
    const Looks looks{&WatchHook, this};
    std::optional<fs::path> mapped = MapBelow(root_, windows_path, looks);
    if (fd_ < 0 || !looks.keep) return mapped;
    if (mapped_.size() >= kMaxKept) mapped_.clear();
    mapped_.emplace(std::move(key_path), mapped);
    return mapped;
  }

 private:
  static constexpr size_t kMaxKept = 256;
  static constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

  Mappings() {
    pthread_atfork(nullptr, nullptr, [] { forks.fetch_add(1, std::memory_order_relaxed); });
  }

  // What the prefix root is placed from; empty when it depends on the working directory too.
  static std::string RootKey() {
    if (const char* configured = std::getenv("ORDELLA_PREFIX");
        configured != nullptr && *configured != '\0' && *configured != '/') {
      return {};
    }
    std::string key;
    for (const char* name : {"ORDELLA_PREFIX", "HOME"}) {
      const char* value = std::getenv(name);
      key += value != nullptr ? value : "";
      key += '\0';
    }
    return key;
  }

  // The root for `key`, placed anew (and watched) when the kept one is for another key or was
  // dropped. False when nothing can be kept (no watch): root_ is then placed but not kept.
  // REQUIRES: mutex_ held.
  bool PlaceRootFor(std::string key) {
    if (key == root_key_) return true;
    Drop();
    root_ = PrefixRoot();
    Watch(root_);
    if (fd_ < 0) return false;
    root_key_ = std::move(key);
    return true;
  }

  static void WatchHook(void* self, const fs::path& dir) {
    static_cast<Mappings*>(self)->Watch(dir);
  }

  // Adds `dir` to the watch. A directory that does not exist is not watched: its creation
  // shows in its parent, which is. Any other failure gives up keeping mappings.
  void Watch(const fs::path& dir) {
    if (fd_ < 0) return;
    if (inotify_add_watch(fd_, dir.c_str(), kChanges) >= 0 || errno == ENOENT ||
        errno == ENOTDIR) {
      return;
    }
    Close();
  }

  // Drops everything kept when a watched directory changed (or the watch itself did: a
  // removed watch, an overflow), and in a forked child; opens a watch when there is none.
  void Refresh() {
    const unsigned forks_now = forks.load(std::memory_order_relaxed);
    if (forks_seen_ != forks_now) {
      forks_seen_ = forks_now;
      Close();
    }
    if (fd_ >= 0) {
      pollfd watched{fd_, POLLIN, 0};
      if (poll(&watched, 1, 0) == 0) return;
      Close();
    }
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }

  void Drop() {
    mapped_.clear();
    root_key_.clear();
  }

  // Closing removes every watch.
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    Drop();
  }

  static inline std::atomic<unsigned> forks{0};
  std::mutex mutex_;
  unsigned forks_seen_ = forks.load();  // GUARDED_BY(mutex_)
  int fd_ = -1;                         // GUARDED_BY(mutex_)
  std::string root_key_;                // GUARDED_BY(mutex_); empty: the root is not placed
  fs::path root_;                       // GUARDED_BY(mutex_)
  std::unordered_map<std::string, std::optional<fs::path>> mapped_;  // GUARDED_BY(mutex_)
};

}  // namespace

std::optional<fs::path> MapPath(std::string_view windows_path) {
  if (windows_path.empty() || windows_path.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  return Mappings::Instance().Map(windows_path);
}

std::optional<fs::path> ResolvePath(std::string_view path) {
  if (path.starts_with('/') && !path.starts_with("//") &&
      path.find('\\') == std::string_view::npos && path.find('\0') == std::string_view::npos) {
    return fs::path(path).lexically_normal();
  }
  return MapPath(path);
}

}  // namespace platform
