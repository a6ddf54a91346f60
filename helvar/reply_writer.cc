#include "helvar/reply_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "helvar/helvar_log.h"
#include "hub/core/helvar_bridge.h"
#include "platform/file_mapping.h"
#include "platform/system_info.h"

namespace helvar {
namespace {

constexpr std::string_view kWriteLogTag = "MemoryMapWrite";

std::atomic_ref<int32_t> StatusWord(unsigned char* block) {
  static_assert(std::atomic_ref<int32_t>::required_alignment <= alignof(int32_t));
  // The mapping starts on a page boundary, so the word at offset 0 is aligned.
  return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(block + hub::kSharedStatusOffset));
}

void Nap(const ReplyWait& wait) {
  if (wait.sleep) {
    wait.sleep(wait.wait_ms);
  } else {
    platform::SleepMs(static_cast<uint32_t>(std::max(wait.wait_ms, 0)));
  }
}

// Claims the block for writing once the previous reply is taken; after the waits, takes it
// regardless (the reply that was not taken is lost, as the hub's own writer does).
void Claim(std::atomic_ref<int32_t> word, const ReplyWait& wait) {
  for (int naps = 0;; ++naps) {
    int32_t seen = word.load(std::memory_order_acquire);
    if (seen <= hub::kSharedTakenAbove &&
        word.compare_exchange_strong(seen, hub::kSharedWriting, std::memory_order_acq_rel)) {
      return;
    }
    if (naps >= wait.waits) {
      WriteLog(kWriteLogTag, "status " + std::to_string(seen) + " not taken in time: overwritten");
      word.store(hub::kSharedWriting, std::memory_order_release);
      return;
    }
    Nap(wait);
  }
}

}  // namespace

int WriteReply(std::string_view bytes, int32_t status, const ReplyWait& wait) {
  if (bytes.size() > hub::kSharedDataRoom) {
    WriteLog(kWriteLogTag, "reply of " + std::to_string(bytes.size()) + " bytes with status " +
                               std::to_string(status) + " refused: larger than the block");
    return 0;
  }
  std::unique_ptr<platform::FileMapping> mapping =
      platform::FileMapping::OpenExisting(hub::kSharedBlockName, hub::kSharedBlockSize);
  if (!mapping) return 0;
  unsigned char* block = mapping->data();
  std::atomic_ref<int32_t> word = StatusWord(block);
  Claim(word, wait);
  char* length_text = reinterpret_cast<char*>(block + hub::kSharedLengthOffset);
  std::memset(length_text, 0, hub::kSharedLengthRoom);
  const std::string count = std::to_string(bytes.size());
  std::memcpy(length_text, count.data(), count.size());
  if (!bytes.empty()) std::memcpy(block + hub::kSharedDataOffset, bytes.data(), bytes.size());
  word.store(status, std::memory_order_release);  // status last
  return 1;
}

}  // namespace helvar
