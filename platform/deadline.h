// The moment an operation on a descriptor gives up: a connect, a send, a receive, an accept.
// Measured on the monotonic clock, so a change of the wall clock does not move it.
#pragma once

#include <chrono>
#include <optional>

namespace platform {

class Deadline {
 public:
  // After timeout_ms from now; a negative timeout never passes.
  static Deadline After(int timeout_ms);
  static Deadline After(std::chrono::milliseconds timeout);
  // Waits as long as it takes.
  static Deadline Never() { return Deadline(); }

  // What poll takes: -1 without a limit, 0 once passed, else the milliseconds left (rounded up).
  int PollTimeout() const;
  bool Passed() const;

 private:
  std::optional<std::chrono::steady_clock::time_point> at_;
};

}  // namespace platform
