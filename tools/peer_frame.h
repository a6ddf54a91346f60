// The gateway frames the hub's peers send (the card terminal, a POS client), built from a
// message code and its fields and encoded the way the peer chooses: plain, packed or enciphered.
// The simulators share it, so every peer encodes exactly as the hub's decoder expects.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "companions/seed/seed_cipher.h"

namespace peer_frame {

// How a frame's body travels.
enum class Encoding { kPlain, kPacked, kEnciphered };

// The frame of `code` and `fields` (field 1 on), encoded as asked; an enciphered frame carries
// the length field its receiver expects (`cipher_length`). nullopt when it cannot be built (code
// outside 0-999, too long, a packing level outside 0-9, no cipher key).
std::optional<std::string> EncodedFrame(int code, const std::vector<std::string>& fields,
                                        Encoding encoding, int packing_level,
                                        seed::CipherLengthField cipher_length);

}  // namespace peer_frame
