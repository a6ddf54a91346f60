#include "tools/peer_frame.h"

#include <string_view>

#include "companions/util/frame_packing.h"
#include "protocol/frame.h"

namespace peer_frame {

std::optional<std::string> EncodedFrame(int code, const std::vector<std::string>& fields,
                                        Encoding encoding, int packing_level,
                                        seed::CipherLengthField cipher_length) {
  const std::vector<std::string_view> views(fields.begin(), fields.end());
  std::optional<std::string> plain = protocol::BuildMessage(code, views);
  if (!plain) return std::nullopt;
  switch (encoding) {
    case Encoding::kPlain:
      return plain;
    case Encoding::kPacked:
      return frame_packing::PackFrame(*plain, packing_level);
    case Encoding::kEnciphered: {
      const std::optional<seed::SeedKey> key = seed::ConfiguredSeedKey();
      if (!key) return std::nullopt;
      return seed::EncipherFrame(*plain, *key, cipher_length);
    }
  }
  return std::nullopt;
}

}  // namespace peer_frame
