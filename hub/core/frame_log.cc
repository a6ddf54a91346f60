#include "hub/core/frame_log.h"

#include "companions/util/ordella_util.h"
#include "protocol/card_mask.h"

namespace hub {

bool WriteFrameLog(const LogTarget& target, const char* tag, std::string_view bytes) {
  if (!target.enabled()) return false;
  const std::string masked = protocol::MaskCardData(bytes);
  return UtilWriteLog(target.directory.c_str(), tag, masked.data(), static_cast<int>(masked.size()),
                      target.flag) == 1;
}

}  // namespace hub
