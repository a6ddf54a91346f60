#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

namespace platform {
namespace {

Status WaitFor(int socket, short events, const Deadline& deadline, const WakeEvent* cancel) {
  const int cancel_fd = cancel != nullptr ? cancel->fd() : -1;
  for (;;) {
    pollfd watched[2] = {{socket, events, 0}, {cancel_fd, POLLIN, 0}};
    const int ready = poll(watched, cancel_fd >= 0 ? 2 : 1, deadline.PollTimeout());
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Status::FromErrno("poll", errno);
    if (cancel_fd >= 0 && watched[1].revents != 0) {
      return Status(StatusCode::kCancelled, "cancelled");
    }
    if (ready == 0) return Status(StatusCode::kTimedOut, "timed out");
    return Status();  // ready, or an error or hang-up the next call reports
  }
}

std::optional<sockaddr_in> Ipv4Address(std::string_view address, uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  const std::string text(address);
  if (inet_pton(AF_INET, text.c_str(), &result.sin_addr) != 1) return std::nullopt;
  return result;
}

std::string Where(std::string_view address, uint16_t port) {
  return std::string(address) + ":" + std::to_string(port);
}

UniqueFd NewTcpSocket() {
  return UniqueFd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

}  // namespace

Status WaitReadable(int socket, const Deadline& deadline, const WakeEvent* cancel) {
  return WaitFor(socket, POLLIN, deadline, cancel);
}

Status WaitWritable(int socket, const Deadline& deadline, const WakeEvent* cancel) {
  return WaitFor(socket, POLLOUT, deadline, cancel);
}

Status SendAll(int socket, std::string_view bytes, const Deadline& deadline) {
  while (!bytes.empty()) {
    const ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent >= 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (Status ready = WaitWritable(socket, deadline); !ready.ok()) return ready;
    } else if (errno != EINTR) {
      return Status::FromErrno("send", errno);
    }
  }
  return Status();
}

Status ReceiveSome(int socket, char* buffer, size_t room, const Deadline& deadline, size_t* count,
                   const WakeEvent* cancel) {
  *count = 0;
  for (;;) {
    // Wait first, so that a signalled cancel wins over bytes already waiting.
    if (Status ready = WaitReadable(socket, deadline, cancel); !ready.ok()) return ready;
    const ssize_t got = recv(socket, buffer, room, 0);
    if (got > 0) {
      *count = static_cast<size_t>(got);
      return Status();
    }
    if (got == 0) return Status(StatusCode::kClosed, "the peer closed the connection");
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return Status::FromErrno("recv", errno);
    }
  }
}

Status ReceiveExactly(int socket, void* buffer, size_t size, const Deadline& deadline,
                      const WakeEvent* cancel) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    size_t got = 0;
    if (Status status = ReceiveSome(socket, at, size, deadline, &got, cancel); !status.ok()) {
      return status;
    }
    at += got;
    size -= got;
  }
  return Status();
}

void CloseConnection(UniqueFd socket) {
  if (socket.valid()) shutdown(socket.get(), SHUT_RDWR);
}

Status DetectDeadPeer(int socket, const DeadPeerLimits& limits) {
  const int on = 1;
  const unsigned int user_timeout = static_cast<unsigned int>(limits.total_ms());
  struct Option {
    int level;
    int name;
    const void* value;
    socklen_t size;
    const char* what;
  };
  const Option options[] = {
      {SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on, "SO_KEEPALIVE"},
      {IPPROTO_TCP, TCP_KEEPIDLE, &limits.idle_s, sizeof limits.idle_s, "TCP_KEEPIDLE"},
      {IPPROTO_TCP, TCP_KEEPINTVL, &limits.interval_s, sizeof limits.interval_s, "TCP_KEEPINTVL"},
      {IPPROTO_TCP, TCP_KEEPCNT, &limits.probes, sizeof limits.probes, "TCP_KEEPCNT"},
      {IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout, "TCP_USER_TIMEOUT"},
  };
  for (const Option& option : options) {
    if (setsockopt(socket, option.level, option.name, option.value, option.size) != 0) {
      return Status::FromErrno(std::string("setsockopt ") + option.what, errno);
    }
  }
  return Status();
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
      value > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

std::string ResolveIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  std::string dotted;
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) dotted = text;
  freeaddrinfo(found);
  return dotted;
}

Status TcpConnect(std::string_view address, uint16_t port, const Deadline& deadline,
                  UniqueFd* connection) {
  connection->reset();
  const std::optional<sockaddr_in> peer = Ipv4Address(address, port);
  if (!peer || port == 0) {
    return Status(StatusCode::kInvalidArgument, "not a TCP address: " + Where(address, port));
  }
  UniqueFd socket = NewTcpSocket();
  if (!socket.valid()) return Status::FromErrno("socket", errno);
  int rc;
  do {
    rc = connect(socket.get(), reinterpret_cast<const sockaddr*>(&*peer), sizeof *peer);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno != EINPROGRESS) {
    return Status::FromErrno("connect to " + Where(address, port), errno);
  }
  if (rc != 0) {
    // In progress: the socket becomes writable when the connect ends, either way.
    if (Status ready = WaitWritable(socket.get(), deadline); !ready.ok()) {
      return Status(ready.code(), "connect to " + Where(address, port) + ": " + ready.message());
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error != 0) return Status::FromErrno("connect to " + Where(address, port), error);
  }
  *connection = std::move(socket);
  return Status();
}

Status TcpListener::Listen(std::string_view address, uint16_t port, int backlog,
                           std::unique_ptr<TcpListener>* listener) {
  listener->reset();
  std::optional<sockaddr_in> local = Ipv4Address(address, port);
  if (!local) {
    return Status(StatusCode::kInvalidArgument, "not a TCP address: " + Where(address, port));
  }
  UniqueFd socket = NewTcpSocket();
  if (!socket.valid()) return Status::FromErrno("socket", errno);
  const int reuse = 1;
  setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&*local), sizeof *local) != 0) {
    return Status::FromErrno("bind " + Where(address, port), errno);
  }
  if (listen(socket.get(), backlog) != 0) {
    return Status::FromErrno("listen at " + Where(address, port), errno);
  }
  socklen_t size = sizeof *local;
  if (getsockname(socket.get(), reinterpret_cast<sockaddr*>(&*local), &size) != 0) {
    return Status::FromErrno("getsockname", errno);
  }
  std::unique_ptr<TcpListener> made(new TcpListener(std::move(socket), ntohs(local->sin_port)));
  if (!made->cancel_.valid()) return Status::FromErrno("eventfd", errno);
  *listener = std::move(made);
  return Status();
}

Status TcpListener::Accept(const Deadline& deadline, UniqueFd* connection) {
  connection->reset();
  for (;;) {
    if (Status ready = WaitReadable(socket_.get(), deadline, &cancel_); !ready.ok()) return ready;
    const int client = accept4(socket_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client >= 0) {
      connection->reset(client);
      return Status();
    }
    // Gone before it was taken, or taken by another thread: wait for the next.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      continue;
    }
    return Status::FromErrno("accept", errno);
  }
}

}  // namespace platform
