#include "platform/address_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace platform {

// Plain (not private) futex operations: a word in a MAP_SHARED mapping is keyed by its file, so
// waiters and wakers in different processes meet.
void WaitOnAddress(const uint32_t* word, uint32_t expected, int timeout_ms) {
  timespec pause{};
  timespec* limit = nullptr;
  if (timeout_ms >= 0) {
    pause.tv_sec = timeout_ms / 1000;
    pause.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1'000'000;
    limit = &pause;
  }
  syscall(SYS_futex, word, FUTEX_WAIT, expected, limit, nullptr, 0);
}

void WakeByAddressAll(const uint32_t* word) {
  syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace platform
