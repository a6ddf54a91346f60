// The stop signals of a program run by a service manager or a terminal (SIGTERM, SIGINT), taken
// as a readable descriptor instead of a handler, so the program's own loop decides when to stop.
#pragma once

#include <memory>

namespace platform {

class StopSignals {
 public:
  // Blocks SIGTERM and SIGINT for the calling thread and every thread it starts later (call it
  // before starting threads) and opens their descriptor. nullptr on failure.
  static std::unique_ptr<StopSignals> Block();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Readable when a stop signal is pending; for programs that wait on several descriptors.
  int fd() const { return fd_; }
  // Takes one pending stop signal; its number, or 0 when none is pending.
  int Take();
  // Waits up to timeout_ms for a stop signal and takes it. True when one came.
  bool Wait(int timeout_ms);

 private:
  explicit StopSignals(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace platform
