// Messages of the form the card-network libraries and their servers exchange over a stream:
//
//   magic (a few letters) | kind (one letter) | payload length (decimal, fixed digits) | payload
//
// Each library names its own magic, kinds and limits (companions/kiccpad/kicc_protocol.h,
// companions/signpad/signpad_protocol.h); this is the framing they share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.h"
#include "platform/status.h"
#include "platform/wake_event.h"

namespace platform {

struct TaggedMessageFormat {
  std::string_view magic;
  size_t length_digits;
  size_t max_payload;
  bool (*known_kind)(char kind);  // a kind outside the library's set is refused
};

// The header's size: magic, kind and length.
constexpr size_t TaggedHeaderSize(const TaggedMessageFormat& format) {
  return format.magic.size() + 1 + format.length_digits;
}

// The message's bytes; nullopt when the payload is longer than the format allows.
std::optional<std::string> EncodeTaggedMessage(const TaggedMessageFormat& format, char kind,
                                               std::string_view payload);

// Reads one message. kIoError for a header that is not one of the format (magic, a known kind,
// digits) or announces more than max_payload; otherwise the receive's own status (kTimedOut,
// kClosed, kCancelled ...).
Status ReceiveTaggedMessage(int socket, const TaggedMessageFormat& format, const Deadline& deadline,
                            char* kind, std::string* payload, const WakeEvent* cancel = nullptr);

// Exactly `digits` decimal digits at `offset` of `bytes` as a number; nullopt when the bytes end
// first or any of them is not a digit.
std::optional<size_t> DecimalDigitsAt(std::string_view bytes, size_t offset, size_t digits);

}  // namespace platform
