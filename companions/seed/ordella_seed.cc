#include "companions/seed/ordella_seed.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "companions/seed/seed_cipher.h"

namespace {

constexpr int kDecipherMode = 0;

}  // namespace

extern "C" __attribute__((visibility("default"))) int Ordella_Crypt(unsigned char* body,
                                                                    int* frame_length, int mode,
                                                                    int tail) {
  if (body == nullptr || frame_length == nullptr || mode != kDecipherMode ||
      (tail != 0 && tail != 1)) {
    return 0;
  }
  const int trailer = 1 + tail;  // ETX and the check byte when present
  const long long enciphered_size =
      static_cast<long long>(*frame_length) - static_cast<long long>(seed::kBodyOffset) - trailer;
  if (enciphered_size < static_cast<long long>(2 * seed::kBlockSize) ||
      enciphered_size % static_cast<long long>(seed::kBlockSize) != 0 ||
      body[enciphered_size] != seed::kEtx) {
    return 0;
  }
  const std::optional<seed::SeedKey> key = seed::ConfiguredSeedKey();
  if (!key) return 0;
  const std::optional<std::string> plain = seed::DecipherBody(
      std::string_view(reinterpret_cast<const char*>(body), static_cast<size_t>(enciphered_size)),
      *key);
  if (!plain) return 0;

  // The plain body is shorter than the enciphered one (IV and padding go), so it fits.
  std::memcpy(body, plain->data(), plain->size());
  size_t end = plain->size();
  body[end++] = seed::kEtx;
  if (tail == 1) body[end++] = 0;
  std::memset(body + end, 0, static_cast<size_t>(enciphered_size) + trailer - end);
  *frame_length = static_cast<int>(seed::kBodyOffset + end);
  return 1;
}
