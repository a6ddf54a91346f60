// Internal to the platform layer: the files under <prefix>/run that stand in for the named
// kernel objects of Windows (file mappings, events, mutexes, window names).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform::internal {

// The file name a named object is kept under: the name's bytes, with '/', '\', '%', control
// bytes and a leading '.' written as %XX, so that every name is one path component of its own
// ("..", "a/b" and "Global\x" stay inside their folder) and distinct names stay distinct.
// nullopt for an empty name or one too long for a file name.
std::optional<std::string> ObjectFileName(std::string_view name);

// flock, retried when a signal interrupts it. 0 on success, else -1 with errno set.
int FlockRetrying(int fd, int operation);

// <prefix>/run/<kind>, created when missing. nullopt when it cannot be created.
std::optional<std::filesystem::path> ObjectDir(std::string_view kind);

// <prefix>/run/<kind>/<ObjectFileName(name)>, the folder created. nullopt when the name is
// refused or the folder cannot be created.
std::optional<std::filesystem::path> ObjectPath(std::string_view kind, std::string_view name);

// An exclusive flock on <dir>/.lock for the life of the object: serialises the set-up of the
// objects of one folder across threads and processes. Object file names never begin with '.',
// so the lock file cannot clash with one of them.
class DirectoryLock {
 public:
  // `read_only`: the lock file is opened for reading and never created, for a reader that
  // writes nothing under the prefix (a missing lock file means no object was ever set up there).
  explicit DirectoryLock(const std::filesystem::path& dir, bool read_only = false);
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

// The backing file of a named mapping or event, mapped MAP_SHARED for the object's life.
//
// Lifetime follows the kernel objects it stands in for: every open object holds a shared flock
// on its file, so "some process still holds the object" is "the file is share-locked". A file
// that nobody holds is a leftover of a run that has ended: CreateOrOpen starts it afresh
// (zero-filled, existed() false) and OpenExisting treats it as absent. The size only ever
// grows, under the folder's set-up lock, so a view another holder has mapped stays valid.
class SharedFile {
 public:
  // kReadExisting: as kOpenExisting, but every file is opened for reading only, nothing is
  // created (neither folder nor lock file) and the view is mapped read-only (a write faults).
  enum class Mode { kCreateOrOpen, kOpenExisting, kReadExisting };

  // kCreateOrOpen: `size` bytes at least (0 is refused); the view covers the whole file.
  // kOpenExisting: a view of `size` bytes (0: the whole file); nullptr when the file is smaller.
  static std::unique_ptr<SharedFile> Open(std::string_view kind, std::string_view name, size_t size,
                                          Mode mode);
  ~SharedFile();
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;

  unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  bool existed() const { return existed_; }

 private:
  SharedFile(UniqueFd fd, unsigned char* data, size_t size, bool existed)
      : fd_(std::move(fd)), data_(data), size_(size), existed_(existed) {}

  UniqueFd fd_;  // holds the shared flock that marks the object as in use
  unsigned char* data_;
  size_t size_;
  bool existed_;
};

}  // namespace platform::internal
