#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/socket.h"

namespace platform::internal {
namespace fs = std::filesystem;

namespace {

// How long ConnectTo waits before trying a listener with a full queue again.
constexpr auto kConnectRetry = std::chrono::milliseconds(2);

// A socket address for a path. sun_path holds 108 bytes; a longer path is reached as
// /proc/self/fd/<folder descriptor>/<name>, which needs the folder kept open while in use.
class SocketAddress {
 public:
  explicit SocketAddress(const fs::path& path) {
    address_.sun_family = AF_UNIX;
    if (Fits(path.native())) return;
    folder_ = UniqueFd(open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder_.valid()) return;
    Fits("/proc/self/fd/" + std::to_string(folder_.get()) + "/" + path.filename().native());
  }

  bool valid() const { return length_ != 0; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t length() const { return length_; }

 private:
  bool Fits(const std::string& path) {
    if (path.empty() || path.size() >= sizeof(address_.sun_path)) return false;
    std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
    length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
  }

  UniqueFd folder_;
  sockaddr_un address_{};
  socklen_t length_ = 0;
};

UniqueFd NewSocket() {
  return UniqueFd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

// connect() on a non-blocking socket: 0, or -1 with errno (EAGAIN: the listener's queue is full).
int Connect(int fd, const SocketAddress& address, const Deadline& deadline) {
  if (connect(fd, address.get(), address.length()) == 0) return 0;
  if (errno != EINPROGRESS) return -1;
  if (!WaitWritable(fd, deadline).ok()) {
    errno = ETIMEDOUT;
    return -1;
  }
  int error = 0;
  socklen_t size = sizeof(error);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
  errno = error;
  return error == 0 ? 0 : -1;
}

}  // namespace

UniqueFd ListenAt(const fs::path& path, int backlog) {
  SocketAddress address(path);
  UniqueFd fd = NewSocket();
  if (!address.valid() || !fd.valid()) return {};
  unlink(path.c_str());
  if (bind(fd.get(), address.get(), address.length()) != 0) return {};
  if (listen(fd.get(), backlog) != 0) {
    unlink(path.c_str());
    return {};
  }
  return fd;
}

UniqueFd AcceptFrom(int listener) {
  int fd;
  do {
    fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
}

bool IsListening(const fs::path& path) {
  SocketAddress address(path);
  UniqueFd fd = NewSocket();
  if (!address.valid() || !fd.valid()) return false;
  return Connect(fd.get(), address, Deadline::After(0)) == 0 || errno == EAGAIN;
}

UniqueFd ConnectTo(const fs::path& path, const Deadline& deadline) {
  SocketAddress address(path);
  if (!address.valid()) return {};
  for (;;) {
    UniqueFd fd = NewSocket();
    if (!fd.valid()) return {};
    if (Connect(fd.get(), address, deadline) == 0) return fd;
    if ((errno != EAGAIN && errno != EINTR) || deadline.Passed()) return {};
    std::this_thread::sleep_for(kConnectRetry);
  }
}

}  // namespace platform::internal
