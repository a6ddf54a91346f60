// Internal to the platform layer: Unix-domain stream sockets with deadlines, the transport of the
// window endpoints. Every descriptor made here is non-blocking; waits go through poll.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>

#include "platform/named_object.h"

namespace platform::internal {

// The moment an operation gives up; without one it waits as long as it takes.
class Deadline {
 public:
  // After timeout_ms from now; a negative timeout never passes.
  static Deadline After(int timeout_ms);
  // What poll takes: -1 without a limit, 0 once passed, else the milliseconds left (rounded up).
  int PollTimeout() const;
  bool Passed() const;

 private:
  std::optional<std::chrono::steady_clock::time_point> at_;
};

// A socket listening at `path`; a file already there (left by a dead process) is replaced.
// Paths longer than a socket address holds are reached through the folder's descriptor.
// Invalid on failure.
UniqueFd ListenAt(const std::filesystem::path& path, int backlog);

// Takes the next waiting connection of `listener`; invalid when none is waiting or on error.
UniqueFd AcceptFrom(int listener);

// True when something listens at `path`: a connection is taken, or its queue is full.
bool IsListening(const std::filesystem::path& path);

// A connection to the socket at `path`; a full queue at the listener is retried until the
// deadline. Invalid when nobody listens there or the deadline passes.
UniqueFd ConnectTo(const std::filesystem::path& path, const Deadline& deadline);

// Reads exactly `size` bytes. False at end of stream, on error, once the deadline passes, or as
// soon as `cancel_fd` (when not -1) becomes readable.
bool ReadExactly(int fd, void* buffer, size_t size, const Deadline& deadline, int cancel_fd = -1);

// Writes all `size` bytes (never raising SIGPIPE). False on error or once the deadline passes.
bool WriteAll(int fd, const void* buffer, size_t size, const Deadline& deadline);

}  // namespace platform::internal
