#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/named_object.h"
#include "platform/prefix.h"
#include "platform/registry_text.h"
#include "platform/text.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

using reg_text::FindKey;
using reg_text::FindValue;
using reg_text::Key;
using reg_text::Keys;
using reg_text::Value;

constexpr std::string_view kUserHive = "HKEY_CURRENT_USER";
constexpr char kFileName[] = "registry.reg";

thread_local std::string last_error;

RegStatus Fail(RegStatus status, std::string message) {
  last_error = std::move(message);
  return status;
}

RegStatus FailErrno(const std::string& what, const fs::path& path) {
  return Fail(RegStatus::kIoError, Status::FromErrno(what + " " + path.string(), errno).message());
}

bool SameName(std::string_view a, std::string_view b) { return NamesEqualIgnoringCase(a, b); }

// flock on a file beside the registry: shared for reading, exclusive for a change. A reader
// neither creates the lock file nor opens it for writing, so reading the registry writes nothing
// under the prefix: without a lock file no change was ever made under the lock, and every change
// creates it before it begins, so there is nothing to wait for.
class FileLock {
 public:
  FileLock(const fs::path& path, int operation) {
    const bool shared = operation == LOCK_SH;
    fd_ = UniqueFd(open(path.c_str(), shared ? O_RDONLY | O_CLOEXEC : O_RDWR | O_CREAT | O_CLOEXEC,
                        0600));
    if (!fd_.valid()) {
      no_lock_file_ = shared && errno == ENOENT;
      return;
    }
    // Closing releases the lock.
    if (internal::FlockRetrying(fd_.get(), operation) != 0) fd_.reset();
  }

  bool held() const { return fd_.valid() || no_lock_file_; }

 private:
  UniqueFd fd_;
  bool no_lock_file_ = false;
};

// Reads find no file where there is no prefix yet; a change creates the prefix first.
fs::path RegistryPath() { return PrefixRootPath() / kFileName; }
fs::path LockPath() { return PrefixRootPath() / (std::string(kFileName) + ".lock"); }

// What tells one version of the registry file from another. Every change replaces the file
// through a rename, so a new version has a new inode; size and modification time also catch a
// file edited in place.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  static FileIdentity Of(const struct stat& info) {
    return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  }

  bool operator==(const FileIdentity& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
  }
};

// Reads the file and says which version was read (from the open descriptor, so the identity
// and the text belong together).
RegStatus ReadAll(const fs::path& path, std::string* content, FileIdentity* identity) {
  *identity = FileIdentity{};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return RegStatus::kOk;  // no registry yet: no keys
    return FailErrno("cannot open", path);
  }
  struct stat info{};
  if (fstat(fd, &info) != 0) {
    RegStatus status = FailErrno("cannot examine", path);
    close(fd);
    return status;
  }
  *identity = FileIdentity::Of(info);
  char buffer[8192];
  ssize_t count;
  while ((count = read(fd, buffer, sizeof buffer)) != 0) {
    if (count < 0) {
      if (errno == EINTR) continue;
      RegStatus status = FailErrno("cannot read", path);
      close(fd);
      return status;
    }
    content->append(buffer, static_cast<size_t>(count));
  }
  close(fd);
  return RegStatus::kOk;
}

// Loads the last complete version of the registry. REQUIRES: the lock is held.
RegStatus Load(Keys* keys, FileIdentity* identity) {
  const fs::path path = RegistryPath();
  std::string content;
  RegStatus status = ReadAll(path, &content, identity);
  if (status != RegStatus::kOk) return status;
  if (std::optional<std::string> error = reg_text::Parse(content, keys)) {
    return Fail(RegStatus::kCorrupt, path.string() + ", " + *error);
  }
  return RegStatus::kOk;
}

// The parsed registry of the last read, kept while the file is the same version, so that a
// read costs one stat instead of open, lock and parse. Only a file that parsed is kept: a
// corrupt one is read and reported again on every call. A missing file is kept as no keys.
//
// File times advance in clock ticks of a few milliseconds, and a freed inode number can come
// back, so a version written within the same tick as a cached one could show the same
// identity. A version is therefore trusted only once its modification time lies further back
// than any tick when it is read; a younger one is read again each time until it has aged.
class ReadCache {
 public:
  // The parsed keys when `path` is still the version cached; nullptr otherwise.
  std::shared_ptr<const Keys> Find(const fs::path& path, const FileIdentity& identity) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (keys_ == nullptr || path != path_ || !(identity == identity_)) return nullptr;
    return keys_;
  }

  void Keep(const fs::path& path, const FileIdentity& identity, Keys keys) {
    if (!OldEnough(identity)) return;
    auto shared = std::make_shared<const Keys>(std::move(keys));
    std::lock_guard<std::mutex> hold(mutex_);
    path_ = path;
    identity_ = identity;
    keys_ = std::move(shared);
  }

  void Drop() {
    std::lock_guard<std::mutex> hold(mutex_);
    keys_ = nullptr;
  }

 private:
  static bool OldEnough(const FileIdentity& identity) {
    // A missing file is told from any file created later by its existence alone.
    if (!identity.exists) return true;
    constexpr int64_t kTickNs = 50'000'000;  // well above the coarsest file time tick
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t age = (int64_t{now.tv_sec} - identity.modified.tv_sec) * 1'000'000'000 +
                        (now.tv_nsec - identity.modified.tv_nsec);
    return age > kTickNs;
  }

  std::mutex mutex_;
  fs::path path_;
  FileIdentity identity_;
  std::shared_ptr<const Keys> keys_;
};

ReadCache& Cache() {
  // An object, not a pointer to one: this code is also loaded into libraries that are
  // unloaded again, and their end must free it.
  static ReadCache cache;
  return cache;
}

// The registry as it is now, for a read: from the cache while the file has not changed,
// otherwise read under the shared lock.
RegStatus Snapshot(std::shared_ptr<const Keys>* out) {
  const fs::path path = RegistryPath();
  struct stat info{};
  std::optional<FileIdentity> now;
  if (stat(path.c_str(), &info) == 0) {
    now = FileIdentity::Of(info);
  } else if (errno == ENOENT) {
    now = FileIdentity{};  // no registry yet
  }
  if (now) {
    if (std::shared_ptr<const Keys> cached = Cache().Find(path, *now)) {
      *out = std::move(cached);
      return RegStatus::kOk;
    }
  }
  FileLock lock(LockPath(), LOCK_SH);
  if (!lock.held()) return FailErrno("cannot lock", LockPath());
  Keys keys;
  FileIdentity identity;
  RegStatus status = Load(&keys, &identity);
  if (status != RegStatus::kOk) return status;
  Cache().Keep(path, identity, keys);
  *out = std::make_shared<const Keys>(std::move(keys));
  return RegStatus::kOk;
}

const Key* FindKeyIn(const Keys& keys, std::string_view path) {
  for (const Key& key : keys) {
    if (SameName(key.path, path)) return &key;
  }
  return nullptr;
}

const Value* FindValueIn(const Key& key, std::string_view name) {
  for (const Value& value : key.values) {
    if (SameName(value.name, name)) return &value;
  }
  return nullptr;
}

// Replaces the registry file with `keys`, so that a reader sees either the old or the new
// version whole. REQUIRES: the exclusive lock.
RegStatus Store(const Keys& keys) {
  const Status stored = ReplaceFileDurably(RegistryPath(), reg_text::Serialize(keys), 0600);
  return stored.ok() ? RegStatus::kOk : Fail(RegStatus::kIoError, stored.message());
}

// The full UTF-8 path of a key below HKEY_CURRENT_USER; nullopt for a path the file cannot
// hold.
std::optional<std::string> FullKeyPath(std::string_view key) {
  while (key.starts_with("\\")) key.remove_prefix(1);
  while (key.ends_with("\\")) key.remove_suffix(1);
  if (key.empty() || key.find("\\\\") != std::string_view::npos) return std::nullopt;
  for (char c : key) {
    if (c == '\0' || c == '\n' || c == '\r' || c == '[' || c == ']') return std::nullopt;
  }
  std::optional<std::string> utf8 = Cp949ToUtf8(key);
  if (!utf8) return std::nullopt;
  return std::string(kUserHive) + "\\" + *utf8;
}

// A value name or text as UTF-8; nullopt when it holds bytes the file cannot carry.
std::optional<std::string> FileText(std::string_view cp949) {
  if (cp949.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos) {
    return std::nullopt;
  }
  return Cp949ToUtf8(cp949);
}

// Adds the key and every missing parent below the hive, each right after its parent's
// subtree so the file keeps the layout of an export. True when something was added.
bool EnsureKey(Keys& keys, const std::string& full_path) {
  bool added = false;
  size_t separator = kUserHive.size();
  while (separator != std::string::npos) {
    separator = full_path.find('\\', separator + 1);
    std::string path = full_path.substr(0, separator);
    if (FindKey(keys, path) != nullptr) continue;
    std::string parent = path.substr(0, path.rfind('\\'));
    size_t position = keys.size();
    for (size_t i = 0; i < keys.size(); ++i) {
      if (!SameName(keys[i].path, parent)) continue;
      position = i + 1;
      while (position < keys.size() && keys[position].path.size() > parent.size() &&
             SameName(std::string_view(keys[position].path).substr(0, parent.size() + 1),
                      parent + "\\")) {
        ++position;
      }
      break;
    }
    keys.insert(keys.begin() + static_cast<std::ptrdiff_t>(position), Key{path, {}});
    added = true;
  }
  return added;
}

// Runs one change under the exclusive lock; `change` returns kOk to have the file replaced,
// or the status to give without writing.
RegStatus Modify(const std::function<RegStatus(Keys&, bool* changed)>& change) {
  PrefixRoot();
  FileLock lock(LockPath(), LOCK_EX);
  if (!lock.held()) return FailErrno("cannot lock", LockPath());
  Keys keys;
  FileIdentity identity;
  RegStatus status = Load(&keys, &identity);
  if (status != RegStatus::kOk) return status;  // a corrupt file is left exactly as it is
  bool changed = false;
  status = change(keys, &changed);
  if (status != RegStatus::kOk || !changed) return status;
  // The new version is younger than a file time tick, so the next read would not keep it
  // anyway; dropping the old one frees it now.
  Cache().Drop();
  return Store(keys);
}

RegStatus SetValue(std::string_view key, std::string_view name, Value value) {
  std::optional<std::string> path = FullKeyPath(key);
  std::optional<std::string> file_name = FileText(name);
  if (!path || !file_name) {
    return Fail(RegStatus::kInvalidArgument, "the key path or value name cannot be stored");
  }
  value.name = std::move(*file_name);
  return Modify([&](Keys& keys, bool* changed) {
    EnsureKey(keys, *path);
    Key& target = *FindKey(keys, *path);
    if (Value* existing = FindValue(target, value.name)) {
      // The name keeps the spelling it already has, as on Windows.
      value.name = existing->name;
      *existing = std::move(value);
    } else {
      target.values.push_back(std::move(value));
    }
    *changed = true;
    return RegStatus::kOk;
  });
}

}  // namespace

RegStatus RegCreateKey(std::string_view key) {
  std::optional<std::string> path = FullKeyPath(key);
  if (!path) return Fail(RegStatus::kInvalidArgument, "the key path cannot be stored");
  return Modify([&](Keys& keys, bool* changed) {
    *changed = EnsureKey(keys, *path);
    return RegStatus::kOk;
  });
}

bool RegKeyExists(std::string_view key) {
  std::optional<std::string> path = FullKeyPath(key);
  if (!path) return false;
  std::shared_ptr<const Keys> keys;
  if (Snapshot(&keys) != RegStatus::kOk) return false;
  // A key exists also when only its subkeys are written out.
  for (const Key& candidate : *keys) {
    std::string_view candidate_path = candidate.path;
    if (SameName(candidate_path.substr(0, path->size()), *path) &&
        (candidate_path.size() == path->size() || candidate_path[path->size()] == '\\')) {
      return true;
    }
  }
  return false;
}

RegStatus RegGetValue(std::string_view key, std::string_view name, RegValue* out) {
  std::optional<std::string> path = FullKeyPath(key);
  std::optional<std::string> file_name = FileText(name);
  if (!path || !file_name) {
    return Fail(RegStatus::kInvalidArgument, "the key path or value name cannot be stored");
  }
  std::shared_ptr<const Keys> keys;
  RegStatus status = Snapshot(&keys);
  if (status != RegStatus::kOk) return status;
  const Key* found_key = FindKeyIn(*keys, *path);
  const Value* value = found_key != nullptr ? FindValueIn(*found_key, *file_name) : nullptr;
  if (value == nullptr) return RegStatus::kNotFound;
  RegValue result;
  result.type = value->type;
  result.dword = value->dword;
  if (value->type == RegType::kString) {
    std::optional<std::string> text = Utf8ToCp949(value->data);
    if (!text) {
      return Fail(RegStatus::kCorrupt, RegistryPath().string() + ": the text of \"" + value->name +
                                           "\" has no CP949 form");
    }
    result.text = std::move(*text);
  } else {
    result.text = value->data;
  }
  if (out != nullptr) *out = std::move(result);
  return RegStatus::kOk;
}

RegStatus RegSetString(std::string_view key, std::string_view name, std::string_view text) {
  std::optional<std::string> file_text = FileText(text);
  if (!file_text) return Fail(RegStatus::kInvalidArgument, "the text cannot be stored");
  return SetValue(key, name, Value{{}, RegType::kString, std::move(*file_text), 0});
}

RegStatus RegSetDword(std::string_view key, std::string_view name, uint32_t value) {
  return SetValue(key, name, Value{{}, RegType::kDword, {}, value});
}

RegStatus RegDeleteValue(std::string_view key, std::string_view name) {
  std::optional<std::string> path = FullKeyPath(key);
  std::optional<std::string> file_name = FileText(name);
  if (!path || !file_name) {
    return Fail(RegStatus::kInvalidArgument, "the key path or value name cannot be stored");
  }
  return Modify([&](Keys& keys, bool* changed) {
    Key* target = FindKey(keys, *path);
    if (target == nullptr) return RegStatus::kNotFound;
    auto& values = target->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (SameName(it->name, *file_name)) {
        values.erase(it);
        *changed = true;
        return RegStatus::kOk;
      }
    }
    return RegStatus::kNotFound;
  });
}

std::string RegLastError() { return last_error; }

}  // namespace platform
