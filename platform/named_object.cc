#include "platform/named_object.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

#include "platform/prefix.h"

namespace platform::internal {
namespace fs = std::filesystem;

namespace {

bool NeedsEscape(unsigned char byte, bool first) {
  return byte < 0x20 || byte == 0x7F || byte == '/' || byte == '\\' || byte == '%' ||
         (first && byte == '.');
}

}  // namespace

int FlockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

std::optional<std::string> ObjectFileName(std::string_view name) {
  if (name.empty()) return std::nullopt;
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string file;
  file.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    auto byte = static_cast<unsigned char>(name[i]);
    if (NeedsEscape(byte, i == 0)) {
      file.push_back('%');
      file.push_back(kHexDigits[byte >> 4]);
      file.push_back(kHexDigits[byte & 0x0F]);
    } else {
      file.push_back(static_cast<char>(byte));
    }
  }
  if (file.size() > NAME_MAX) return std::nullopt;
  return file;
}

std::optional<fs::path> ObjectDir(std::string_view kind) {
  fs::path dir = RunDir() / kind;
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir, error)) return std::nullopt;
  return dir;
}

std::optional<fs::path> ObjectPath(std::string_view kind, std::string_view name) {
  std::optional<std::string> file = ObjectFileName(name);
  if (!file) return std::nullopt;
  std::optional<fs::path> dir = ObjectDir(kind);
  if (!dir) return std::nullopt;
  return *dir / *file;
}

DirectoryLock::DirectoryLock(const fs::path& dir, bool read_only)
    : fd_(open((dir / ".lock").c_str(),
               (read_only ? O_RDONLY : O_RDWR | O_CREAT) | O_CLOEXEC | O_NOFOLLOW, 0600)) {
  if (fd_.valid() && FlockRetrying(fd_.get(), LOCK_EX) != 0) fd_.reset();
}

std::unique_ptr<SharedFile> SharedFile::Open(std::string_view kind, std::string_view name,
                                             size_t size, Mode mode) {
  const bool create = mode == Mode::kCreateOrOpen;
  const bool read_only = mode == Mode::kReadExisting;
  if (create && size == 0) return nullptr;
  if (size > static_cast<size_t>(std::numeric_limits<off_t>::max())) return nullptr;
  std::optional<fs::path> path;
  if (read_only) {
    // A reader creates nothing: no folder means no object.
    if (std::optional<std::string> file = ObjectFileName(name)) path = RunDirPath() / kind / *file;
  } else {
    path = ObjectPath(kind, name);
  }
  if (!path) return nullptr;

  DirectoryLock setup(path->parent_path(), read_only);
  if (!setup.held()) return nullptr;
  const int access = read_only ? O_RDONLY : O_RDWR | (create ? O_CREAT : 0);
  UniqueFd fd(open(path->c_str(), access | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return nullptr;

  // An exclusive lock is granted only when no live holder has the object.
  bool held_elsewhere = false;
  if (FlockRetrying(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return nullptr;
    held_elsewhere = true;
  }
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) return nullptr;
  auto file_size = static_cast<size_t>(status.st_size);
  if (!held_elsewhere) {
    // Nobody holds it: whatever is in the file was left by a run that has ended.
    if (!create) return nullptr;
    if (ftruncate(fd.get(), 0) != 0 || ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
      return nullptr;
    }
    file_size = size;
  } else if (create && file_size < size) {
    if (ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return nullptr;
    file_size = size;
  }
  // Becomes (or joins) a shared holder; nobody else is between these steps (set-up lock).
  if (FlockRetrying(fd.get(), LOCK_SH | LOCK_NB) != 0) return nullptr;

  size_t view = file_size;
  if (!create && size != 0) {
    if (size > file_size) return nullptr;
    view = size;
  }
  if (view == 0) return nullptr;
  const int protection = read_only ? PROT_READ : PROT_READ | PROT_WRITE;
  void* data = mmap(nullptr, view, protection, MAP_SHARED, fd.get(), 0);
  if (data == MAP_FAILED) return nullptr;
  return std::unique_ptr<SharedFile>(
      new SharedFile(std::move(fd), static_cast<unsigned char*>(data), view, held_elsewhere));
}

SharedFile::~SharedFile() { munmap(data_, size_); }

}  // namespace platform::internal
