// The shared block's one writer: the hub's writer and Helvar's reply writer both fill the block
// this way.
#include "protocol/shared_block.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/address_wait.h"
#include "platform/clock.h"

namespace protocol {
namespace {

// Waits for the block to be taken: `wait.waits` pauses of `wait.wait_ms` on the given clock, or,
// on the system's clock, as long in all but ended by every change of the status word (a reader
// wakes the word's waiters when it empties the block). False once the time is up.
class TakenWait {
 public:
  TakenWait(const unsigned char* block, const SharedBlockWait& wait)
      : word_(StatusAddress(block)),
        wait_(wait),
        patience_ms_(static_cast<uint32_t>(std::max(wait.waits, 0)) *
                     static_cast<uint32_t>(std::max(wait.wait_ms, 0))),
        start_(platform::SystemClock().Now()) {}

  // Pauses while the word still holds `seen` (or for one nap of the given clock).
  bool Wait(int32_t seen) {
    if (wait_.clock != nullptr) {
      if (naps_ >= wait_.waits) return false;
      ++naps_;
      wait_.clock->Sleep(static_cast<uint32_t>(std::max(wait_.wait_ms, 0)));
      return true;
    }
    const uint32_t waited = platform::SystemClock().Now() - start_;
    if (waited >= patience_ms_) return false;
    platform::WaitOnAddress(word_, static_cast<uint32_t>(seen),
                            static_cast<int>(patience_ms_ - waited));
    return true;
  }

 private:
  const uint32_t* word_;
  const SharedBlockWait& wait_;
  const uint32_t patience_ms_;
  const uint32_t start_;
  int naps_ = 0;
};

}  // namespace

void FillSharedBlock(unsigned char* block, int32_t status, std::string_view bytes,
                     const SharedBlockWait& wait,
                     const std::function<void(int32_t not_taken)>& overwritten) {
  std::atomic_ref<int32_t> word = SharedStatusWord(block);
  TakenWait taken(block, wait);
  for (;;) {
    int32_t seen = word.load(std::memory_order_acquire);
    if (seen <= kSharedTakenAbove &&
        word.compare_exchange_strong(seen, kSharedWriting, std::memory_order_acq_rel)) {
      break;
    }
    if (!taken.Wait(seen)) {
      overwritten(seen);
      word.store(kSharedWriting, std::memory_order_release);
      break;
    }
  }
  char* length_text = reinterpret_cast<char*>(block + kSharedLengthOffset);
  std::memset(length_text, 0, kSharedLengthRoom);
  const std::string count = std::to_string(bytes.size());
  std::memcpy(length_text, count.data(), count.size());
  if (!bytes.empty()) std::memcpy(block + kSharedDataOffset, bytes.data(), bytes.size());
  word.store(status, std::memory_order_release);  // status last
  // The loop the status names waits on the word (in whichever process maps the block).
  platform::WakeByAddressAll(StatusAddress(block));
}

}  // namespace protocol
