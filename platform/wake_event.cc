#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

WakeEvent::WakeEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeEvent::Signal() const {
  const uint64_t one = 1;
  // A full counter is still signalled, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = write(fd_.get(), &one, sizeof one);
}

bool WakeEvent::Signalled() const {
  pollfd watched{fd_.get(), POLLIN, 0};
  return poll(&watched, 1, 0) == 1;
}

void WakeEvent::Clear() const {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = read(fd_.get(), &count, sizeof count);
}

}  // namespace platform
