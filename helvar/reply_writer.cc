#include "helvar/reply_writer.h"

#include <memory>
#include <string>

#include "helvar/helvar_log.h"
#include "platform/file_mapping.h"
#include "protocol/shared_block.h"

namespace helvar {
namespace {

constexpr std::string_view kWriteLogTag = "MemoryMapWrite";

}  // namespace

int WriteReply(std::string_view bytes, int32_t status, const ReplyWait& wait) {
  if (bytes.size() > protocol::kSharedDataRoom) {
    WriteLog(kWriteLogTag, "reply of " + std::to_string(bytes.size()) + " bytes with status " +
                               std::to_string(status) + " refused: larger than the block");
    return 0;
  }
  std::unique_ptr<platform::FileMapping> mapping =
      platform::FileMapping::OpenExisting(protocol::kSharedBlockName, protocol::kSharedBlockSize);
  if (!mapping) return 0;
  protocol::FillSharedBlock(mapping->data(), status, bytes, wait, [](int32_t not_taken) {
    WriteLog(kWriteLogTag,
             "status " + std::to_string(not_taken) + " not taken in time: overwritten");
  });
  return 1;
}

}  // namespace helvar
