#include "hub/core/pos_request_frame.h"

#include <optional>

#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

PosRequestStatus GatewayFrameStatus(std::string_view held) {
  if (held.size() < kLengthOffset + kLengthDigits) return PosRequestStatus::kNeedMore;
  const std::optional<int> length = ReadDecimal(held, kLengthOffset, kLengthDigits);
  if (!length) return PosRequestStatus::kNotARequest;
  const size_t slack = held[kCipherFlagOffset] == kCipheredFlag ? kPosCipheredLengthSlack : 0;
  return held.size() >= static_cast<size_t>(*length) + slack ? PosRequestStatus::kGatewayFrame
                                                             : PosRequestStatus::kNeedMore;
}

PosRequestStatus SignatureImageStatus(std::string_view held) {
  if (held.size() < kSignatureHeadSize) return PosRequestStatus::kNeedMore;
  const std::optional<int> length =
      ReadDecimal(held, kSignatureLengthOffset, kSignatureLengthDigits);
  if (!length) return PosRequestStatus::kNotARequest;
  return held.size() >= static_cast<size_t>(*length) + kSignatureHeadSize
             ? PosRequestStatus::kSignatureImage
             : PosRequestStatus::kNeedMore;
}

}  // namespace

bool HasGatewayFrameMarker(std::string_view held) {
  return ContainsMarker(held, kMarkerTrm) || ContainsMarker(held, kMarkerPmc) ||
         ContainsMarker(held, kMarkerCre);
}

bool HasSignatureImageMarker(std::string_view held) {
  return !HasGatewayFrameMarker(held) &&
         (ContainsMarker(held, kMarkerBmp) || ContainsMarker(held, kMarkerCbmp));
}

PosRequestStatus ExaminePosBytes(std::string_view held) {
  // A signature image frame's payload is compressed bytes, which may hold a gateway frame's
  // marker: its head decides first.
  const std::string_view head = held.substr(held.empty() ? 0 : 1);
  if (!held.empty() && held.front() == kStx &&
      (head.starts_with(kMarkerBmp) || head.starts_with(kMarkerCbmp))) {
    return SignatureImageStatus(held);
  }
  if (HasGatewayFrameMarker(held)) return GatewayFrameStatus(held);
  if (HasSignatureImageMarker(held)) return SignatureImageStatus(held);
  const bool frame_opening = held.empty() || (held.front() == kStx && held.size() < kHeadSize);
  return frame_opening ? PosRequestStatus::kNeedMore : PosRequestStatus::kNotARequest;
}

}  // namespace hub
