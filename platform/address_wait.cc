#include "platform/address_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <ctime>
#include <vector>

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

void WaitOnAddresses(std::span<const WordWait> words, int timeout_ms) {
  if (words.empty()) return;
  timespec deadline{};
  timespec* limit = nullptr;
  if (timeout_ms >= 0) {
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1'000'000'000;
    }
    limit = &deadline;
  }
  std::vector<futex_waitv> waiters(words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    waiters[i].val = words[i].expected;
    waiters[i].uaddr = reinterpret_cast<uintptr_t>(words[i].word);
    waiters[i].flags = FUTEX_32;  // not private: words in shared files, as for WaitOnAddress
  }
  // The index of the word woken, or -1 (the words had changed, time ran out, a signal).
  if (syscall(SYS_futex_waitv, waiters.data(), static_cast<unsigned>(waiters.size()), 0, limit,
              CLOCK_MONOTONIC) >= 0 ||
      errno != ENOSYS) {
    return;
  }
  constexpr int kSliceMs = 100;
  for (const WordWait& other : words.subspan(1)) {
    if (__atomic_load_n(other.word, __ATOMIC_ACQUIRE) != other.expected) return;
  }
  WaitOnAddress(words[0].word, words[0].expected,
                timeout_ms < 0 ? kSliceMs : std::min(timeout_ms, kSliceMs));
}

void WakeByAddressAll(const uint32_t* word) {
  syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace platform
