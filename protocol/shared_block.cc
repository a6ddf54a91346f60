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

void Nap(const SharedBlockWait& wait) {
  (wait.clock != nullptr ? *wait.clock : platform::SystemClock())
      .Sleep(static_cast<uint32_t>(std::max(wait.wait_ms, 0)));
}

}  // namespace

void FillSharedBlock(unsigned char* block, int32_t status, std::string_view bytes,
                     const SharedBlockWait& wait,
                     const std::function<void(int32_t not_taken)>& overwritten) {
  std::atomic_ref<int32_t> word = SharedStatusWord(block);
  for (int naps = 0;; ++naps) {
    int32_t seen = word.load(std::memory_order_acquire);
    if (seen <= kSharedTakenAbove &&
        word.compare_exchange_strong(seen, kSharedWriting, std::memory_order_acq_rel)) {
      break;
    }
    if (naps >= wait.waits) {
      overwritten(seen);
      word.store(kSharedWriting, std::memory_order_release);
      break;
    }
    Nap(wait);
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
