// The shared block "sharedutilmap": Helvar's replies to the hub, and the hub's data for its TCP
// terminal, each tagged with a status that routes it to one terminal loop.
//
// Shared block (1,000,024 bytes):
//   offset 0    status, 32-bit: 0 empty; 200 data for the TCP terminal written by the hub;
//               a request code: Helvar's reply to that request
//   offset 4    data length as decimal text, NUL-terminated (20 bytes)
//   offset 24   data bytes (1,000,000 bytes, no terminator)
//
// The status word is the only hand-over: every writer stores it last, the reader clears the
// block and stores 0 last. A status above 100 means the block is taken, so writers wait for it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/clock.h"

namespace protocol {

// The block's name and layout.
inline constexpr std::string_view kSharedBlockName = "sharedutilmap";
inline constexpr size_t kSharedStatusOffset = 0;
inline constexpr size_t kSharedLengthOffset = 4;
inline constexpr size_t kSharedLengthRoom = 20;
inline constexpr size_t kSharedDataOffset = kSharedLengthOffset + kSharedLengthRoom;  // 24
inline constexpr size_t kSharedDataRoom = 1000000;
inline constexpr size_t kSharedBlockSize = kSharedDataOffset + kSharedDataRoom;  // 1,000,024

// Status values.
inline constexpr int32_t kSharedEmpty = 0;
inline constexpr int32_t kSharedTakenAbove = 100;  // above: a reply waits (or is being moved)
inline constexpr int32_t kSharedWriting = 101;     // a hub writer is filling the block
inline constexpr int32_t kSharedReading = 102;     // a terminal loop is taking the block
inline constexpr int32_t kSharedHubData = 200;     // the hub's data for the TCP terminal

// How a writer waits for the previous content to be taken: `waits` naps of `wait_ms`, then it
// overwrites. The defaults are the system's 100 x 100 ms. On the system's clock the writer
// sleeps on the status word instead, as long in all, and claims the block as soon as a reader
// has emptied it.
struct SharedBlockWait {
  int waits = 100;
  int wait_ms = 100;
  platform::Clock* clock = nullptr;  // the system clock when null
};

// The status word at offset 0, shared between processes. The mapping starts on a page boundary,
// so the word is aligned.
inline std::atomic_ref<int32_t> SharedStatusWord(unsigned char* block) {
  static_assert(std::atomic_ref<int32_t>::required_alignment <= alignof(int32_t));
  return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(block + kSharedStatusOffset));
}

// The status word's address, for waiting on it: every writer of a status wakes the waiters on
// the word (of every process that maps the block), so a terminal loop waits on the word rather
// than polling it.
inline const uint32_t* StatusAddress(const unsigned char* block) {
  return reinterpret_cast<const uint32_t*>(block + kSharedStatusOffset);
}

// The one writer of the block, used by the hub and by Helvar: claims the block once the previous
// content is taken (a status of 100 or less moves to 101), or overwrites it after the waits
// (`overwritten` is told the status that was not taken), writes the length text and the bytes,
// stores `status` last and wakes the waiters on the status word.
// REQUIRES: bytes.size() <= kSharedDataRoom.
void FillSharedBlock(unsigned char* block, int32_t status, std::string_view bytes,
                     const SharedBlockWait& wait,
                     const std::function<void(int32_t not_taken)>& overwritten);

}  // namespace protocol
