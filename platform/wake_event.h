// An event one thread signals to end another's wait early: the cancel of a blocked accept or
// receive, and the wake of a clock's pause. Its descriptor is what poll watches.
#pragma once

#include "platform/unique_fd.h"

namespace platform {

class WakeEvent {
 public:
  WakeEvent();  // not signalled; valid() false when the system had no descriptor to give

  bool valid() const { return fd_.valid(); }
  // Signals the event; it stays signalled until cleared. Safe from any thread.
  void Signal() const;
  // True when signalled, without waiting.
  bool Signalled() const;
  // Takes the signal back, so that the next wait waits again.
  void Clear() const;
  // Readable while signalled.
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

}  // namespace platform
