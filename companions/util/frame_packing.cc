#include "companions/util/frame_packing.h"

#include <zlib.h>

#include "companions/util/ordella_util.h"
#include "platform/text.h"

namespace frame_packing {
namespace {

// Deflates `body` as a raw stream; nullopt when zlib refuses.
std::optional<std::string> Deflate(std::string_view body, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, kDeflateWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return std::nullopt;
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(body.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  return out;
}

// Where ETX ends a plain frame given with or without its check byte; 0 when there is none.
size_t EtxPosition(std::string_view frame) {
  if (frame.size() >= kFrameOverhead && static_cast<unsigned char>(frame.back()) == kEtx) {
    return frame.size() - 1;
  }
  if (frame.size() >= kFrameOverhead + 1 &&
      static_cast<unsigned char>(frame[frame.size() - 2]) == kEtx) {
    return frame.size() - 2;
  }
  return 0;
}

}  // namespace

std::optional<std::string> PackFrame(std::string_view plain_frame, int level) {
  if (level < 0 || level > 9) return std::nullopt;
  if (plain_frame.size() < kFrameOverhead ||
      static_cast<unsigned char>(plain_frame[kStxOffset]) != kStx ||
      plain_frame[kPackingFlagOffset] != kPlainFlag) {
    return std::nullopt;
  }
  const size_t etx = EtxPosition(plain_frame);
  if (etx == 0) return std::nullopt;
  const std::optional<std::string> packed_body =
      Deflate(plain_frame.substr(kBodyOffset, etx - kBodyOffset), level);
  if (!packed_body) return std::nullopt;
  const size_t length = packed_body->size() + kFrameOverhead;
  if (length > kMaxFrameLength) return std::nullopt;

  std::string packed(plain_frame.substr(0, kBodyOffset));
  packed[kPackingFlagOffset] = static_cast<char>('0' + level);
  packed.replace(kLengthOffset, kLengthDigits,
                 *platform::ZeroPadded(static_cast<long long>(length), kLengthDigits));
  packed += *packed_body;
  packed += static_cast<char>(kEtx);
  packed += static_cast<char>(UtilCheckByte(
      reinterpret_cast<const unsigned char*>(packed.data()) + 1, static_cast<int>(length - 1)));
  return packed;
}

}  // namespace frame_packing
