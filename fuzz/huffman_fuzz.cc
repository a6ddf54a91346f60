// The signature compression: the decoder on any bytes, and the compressor and decoder together.
//
// What must hold:
//   - any bytes compress to at most their size plus the stored form's header, and decompress
//     back to themselves;
//   - bytes the decoder takes as a compressed text give a text of the length they state, and
//     that text survives a round trip of its own.
#include <cstdint>
#include <string>
#include <string_view>

#include "companions/huffcompress/huff_decoder.h"
#include "companions/huffcompress/huff_encoder.h"
#include "companions/huffcompress/huff_format.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckRoundTrip(std::string_view plain) {
  const std::string packed = huffcompress::Compress(plain);
  FUZZ_CHECK(packed.size() <= plain.size() + huffcompress::kStoredHeaderSize);
  const std::optional<std::string> unpacked = huffcompress::Decompress(packed);
  FUZZ_CHECK(unpacked.has_value());
  FUZZ_CHECK(*unpacked == plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckRoundTrip(bytes);

  const std::optional<std::string> plain = huffcompress::Decompress(bytes);
  if (!plain) return 0;
  FUZZ_CHECK(bytes.size() >= huffcompress::kStoredHeaderSize);
  uint32_t stated = 0;
  for (size_t i = 0; i < huffcompress::kLengthBytes; ++i) {
    stated = stated << 8 | static_cast<unsigned char>(bytes[huffcompress::kLengthOffset + i]);
  }
  FUZZ_CHECK(plain->size() == stated);
  CheckRoundTrip(*plain);
  return 0;
}
