// Turning a packed gateway frame back into its plain form, in place.
#include <zlib.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "companions/util/frame_packing.h"
#include "companions/util/ordella_util.h"
#include "platform/text.h"

namespace {

using frame_packing::kBodyOffset;
using frame_packing::kDeflateWindowBits;
using frame_packing::kEtx;
using frame_packing::kFrameOverhead;
using frame_packing::kLengthDigits;
using frame_packing::kLengthOffset;
using frame_packing::kMaxFrameLength;
using frame_packing::kPackingFlagOffset;
using frame_packing::kPlainFlag;
using frame_packing::kStx;
using frame_packing::kStxOffset;

constexpr int kUnpackMode = 1;
// The largest plain body whose frame still fits the four-digit length field.
constexpr size_t kMaxPlainBody = kMaxFrameLength - kFrameOverhead;

bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

// The number in the four-digit length field, or -1 when it holds anything but digits.
int LengthField(const unsigned char* frame) {
  int value = 0;
  for (size_t i = 0; i < kLengthDigits; ++i) {
    const unsigned char digit = frame[kLengthOffset + i];
    if (!IsDigit(digit)) return -1;
    value = value * 10 + (digit - '0');
  }
  return value;
}

// True when `frame` of `length` bytes (STX through ETX) is a packed frame as UtilUnpackFrame
// documents it.
bool IsPackedFrame(const unsigned char* frame, int length) {
  return length >= static_cast<int>(kFrameOverhead) && frame[kStxOffset] == kStx &&
         IsDigit(frame[kPackingFlagOffset]) && frame[length - 1] == kEtx &&
         LengthField(frame) == length;
}

// Inflates a complete raw deflate stream of at most kMaxPlainBody bytes; nullopt when the
// stream is damaged, incomplete, followed by other bytes or too long.
std::optional<std::string> Inflate(std::string_view packed) {
  z_stream stream{};
  if (inflateInit2(&stream, kDeflateWindowBits) != Z_OK) return std::nullopt;
  // One byte more than allowed, so that an over-long body is seen rather than cut.
  std::string body(kMaxPlainBody + 1, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(body.data());
  stream.avail_out = static_cast<uInt>(body.size());
  const int result = inflate(&stream, Z_FINISH);
  const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
  body.resize(stream.total_out);
  inflateEnd(&stream);
  if (!whole || body.size() > kMaxPlainBody) return std::nullopt;
  return body;
}

}  // namespace

extern "C" int UtilUnpackFrame(int mode, unsigned char* frame, int length) {
  if (mode != kUnpackMode || frame == nullptr || !IsPackedFrame(frame, length)) return 0;
  const std::optional<std::string> body =
      Inflate(std::string_view(reinterpret_cast<const char*>(frame) + kBodyOffset,
                               static_cast<size_t>(length) - kFrameOverhead));
  if (!body) return 0;

  const size_t plain_length = body->size() + kFrameOverhead;
  frame[kPackingFlagOffset] = kPlainFlag;
  std::memcpy(frame + kLengthOffset,
              platform::ZeroPadded(static_cast<long long>(plain_length), kLengthDigits)->data(),
              kLengthDigits);
  std::memcpy(frame + kBodyOffset, body->data(), body->size());
  frame[plain_length - 1] = kEtx;
  frame[plain_length] = UtilCheckByte(frame + 1, static_cast<int>(plain_length - 1));
  frame[plain_length + 1] = '\0';
  return static_cast<int>(plain_length);
}
