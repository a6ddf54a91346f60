#include "hub/core/frame_decoder.h"

#include <algorithm>
#include <string_view>

#include "companions/seed/ordella_seed.h"
#include "companions/util/ordella_util.h"
#include "platform/text.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

constexpr int kUnpackMode = 1;
constexpr int kDecipherMode = 0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

unsigned char* Bytes(std::string* text) { return reinterpret_cast<unsigned char*>(text->data()); }

// The frame's count from STX through ETX (without the check byte); 0 when it does not end in ETX
// or ETX and a check byte.
size_t ThroughEtx(std::string_view frame) {
  const size_t etx = EtxIndex(frame);
  return etx == std::string_view::npos ? 0 : etx + 1;
}

DecodeStatus Unpack(std::string* frame) {
  const size_t through_etx = ThroughEtx(*frame);
  if (through_etx == 0) return DecodeStatus::kNotAFrame;
  const bool check_byte = through_etx < frame->size();
  std::string plain_frame = *frame;
  plain_frame.resize(std::max(frame->size(), static_cast<size_t>(kUtilMaxFrame)));
  const int plain =
      UtilUnpackFrame(kUnpackMode, Bytes(&plain_frame), static_cast<int>(through_etx));
  // A body that unpacks to less than a message code makes no frame (and no frame to decode
  // again): the packed frame stays as it came.
  if (plain <= 0 || static_cast<size_t>(plain) < kHeadSize) return DecodeStatus::kUnpackFailed;
  // The unpacker leaves the plain frame with its flag, length field, ETX and check byte.
  plain_frame.resize(static_cast<size_t>(plain) + (check_byte ? 1 : 0));
  *frame = std::move(plain_frame);
  return DecodeStatus::kOk;
}

DecodeStatus Decipher(std::string* frame) {
  const size_t through_etx = ThroughEtx(*frame);
  if (through_etx == 0) return DecodeStatus::kNotAFrame;
  const int tail = through_etx < frame->size() ? 1 : 0;
  std::string plain = *frame;
  int count = static_cast<int>(plain.size());
  if (Ordella_Crypt(Bytes(&plain) + kBodyOffset, &count, kDecipherMode, tail) != 1) {
    return DecodeStatus::kDecipherFailed;
  }
  // The cipher writes the body and ETX; the head and the check byte before and after it are
  // ours to bring up to date.
  const int plain_through_etx = count - tail;
  if (plain_through_etx > kMaxLengthValue) return DecodeStatus::kNotAFrame;
  plain.resize(static_cast<size_t>(count));
  plain[kCipherFlagOffset] = kPlainFlag;
  plain.replace(kLengthOffset, kLengthDigits,
                platform::ZeroPadded(plain_through_etx, kLengthDigits).value());
  if (tail == 1) plain.back() = CheckByte(std::string_view(plain).substr(1, plain.size() - 2));
  *frame = std::move(plain);
  return DecodeStatus::kOk;
}

}  // namespace

DecodeStatus DecodeFrame(std::string* frame) {
  if (frame->size() < kHeadSize || frame->front() != kStx) return DecodeStatus::kNotAFrame;
  const bool packed = IsDigit((*frame)[kPackingFlagOffset]);
  const bool enciphered = (*frame)[kCipherFlagOffset] == kCipheredFlag;
  // No sender packs an enciphered frame (the terminal's frame head test refuses it), and the
  // unpacker takes plain-flagged frames only: it keeps the cipher flag, so a packed frame with
  // any other flag would come out as a plain frame that does not say "X".
  if (packed && (*frame)[kCipherFlagOffset] != kPlainFlag) return DecodeStatus::kNotAFrame;
  if (packed) return Unpack(frame);
  if (enciphered) return Decipher(frame);
  return DecodeStatus::kOk;
}

const char* DecodeStatusText(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::kOk:
      return "decoded";
    case DecodeStatus::kNotAFrame:
      return "not a gateway frame";
    case DecodeStatus::kUnpackFailed:
      return "packed body could not be unpacked";
    case DecodeStatus::kDecipherFailed:
      return "enciphered body could not be deciphered";
  }
  return "unknown";
}

}  // namespace hub
