#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/named_object.h"
#include "platform/unique_fd.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

// Writes all of `bytes`; false with errno set.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// A name beside `file` that no other writer, thread or process, uses at the same time.
fs::path TemporaryBeside(const fs::path& file) {
  static std::atomic<unsigned> counter{0};
  return file.string() + ".tmp" + std::to_string(getpid()) + "." +
         std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

}  // namespace

Status ReplaceFileDurably(const fs::path& file, std::string_view content, mode_t mode) {
  const fs::path temporary = TemporaryBeside(file);
  UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd.valid()) return Status::FromErrno("cannot create " + temporary.string(), errno);
  if (!WriteAll(fd.get(), content) || fsync(fd.get()) != 0 || close(fd.release()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return Status::FromErrno("cannot write " + temporary.string(), error);
  }
  if (rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return Status::FromErrno("cannot replace " + file.string(), error);
  }
  // The rename itself must reach the disk too.
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) fsync(dir.get());
  return Status();
}

Status AppendLocked(const fs::path& file, std::string_view record, mode_t mode) {
  const UniqueFd fd(open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode));
  if (!fd.valid()) return Status::FromErrno("cannot open " + file.string(), errno);
  if (internal::FlockRetrying(fd.get(), LOCK_EX) != 0) {
    return Status::FromErrno("cannot lock " + file.string(), errno);
  }
  // Closing releases the lock.
  if (!WriteAll(fd.get(), record)) return Status::FromErrno("cannot write " + file.string(), errno);
  return Status();
}

}  // namespace platform
