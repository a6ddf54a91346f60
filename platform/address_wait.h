// Waiting on a 32-bit word that another thread or process changes. The word may lie in memory
// that several processes map (a shared block, a named event's file): a wake reaches the waiters
// of every process that maps it.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

// Sleeps while `*word` still holds `expected`, until a wake on the word or `timeout_ms` passes
// (negative: no limit). It may also return early (a signal, the word already changed): callers
// look at the word again.
void WaitOnAddress(const uint32_t* word, uint32_t expected, int timeout_ms);

// One word of a wait on several: the wait goes on while the word holds `expected`.
struct WordWait {
  const uint32_t* word;
  uint32_t expected;
};

// Sleeps while every word still holds its expected value, until a wake on any of them or
// `timeout_ms` passes (negative: no limit); a wake given between the callers' look at a word and
// the wait is not missed. Early returns as for WaitOnAddress. A kernel without the vector wait
// (before Linux 5.16) is watched one word at a time, the first one in pauses of 100 ms.
void WaitOnAddresses(std::span<const WordWait> words, int timeout_ms);

// Wakes every waiter on `word`, in every process.
void WakeByAddressAll(const uint32_t* word);

}  // namespace platform
