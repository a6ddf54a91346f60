#include "companions/huffcompress/ordella_huffcompress.h"

#include <cstring>
#include <string>
#include <string_view>

#include "companions/huffcompress/huff_encoder.h"
#include "companions/huffcompress/huff_format.h"

static_assert(ORDELLA_COMPRESS_BOUND(0) == huffcompress::kStoredHeaderSize);

extern "C" __attribute__((visibility("default"))) int Ordella_Compress(const unsigned char* input,
                                                                       int length,
                                                                       unsigned char* output) {
  if (input == nullptr || output == nullptr || length < 0 ||
      static_cast<uint32_t>(length) > huffcompress::kMaxInputLength) {
    return 0;
  }
  const std::string packed = huffcompress::Compress(
      std::string_view(reinterpret_cast<const char*>(input), static_cast<size_t>(length)));
  std::memcpy(output, packed.data(), packed.size());
  return static_cast<int>(packed.size());
}
