// Waiting on a 32-bit word that another thread or process changes. The word may lie in memory
// that several processes map (a shared block, a named event's file): a wake reaches the waiters
// of every process that maps it.
#pragma once

#include <cstdint>

namespace platform {

// Sleeps while `*word` still holds `expected`, until a wake on the word or `timeout_ms` passes
// (negative: no limit). It may also return early (a signal, the word already changed): callers
// look at the word again.
void WaitOnAddress(const uint32_t* word, uint32_t expected, int timeout_ms);

// Wakes every waiter on `word`, in every process.
void WakeByAddressAll(const uint32_t* word);

}  // namespace platform
