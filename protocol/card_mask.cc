#include "protocol/card_mask.h"

#include <cstddef>

namespace protocol {
namespace {

constexpr size_t kMinCardDigits = 13;
constexpr size_t kMaxCardDigits = 19;
constexpr size_t kKeptLeadingDigits = 6;
constexpr size_t kKeptTrailingDigits = 4;
constexpr char kMask = '*';
constexpr char kTrackEnd = '?';

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsTrackSeparator(char c) { return c == '=' || c == 'D' || c == '^'; }

bool EndsTrack(char c) { return c == kTrackEnd || static_cast<unsigned char>(c) < 0x20; }

}  // namespace

std::string MaskCardData(std::string_view bytes) {
  std::string masked(bytes);
  size_t i = 0;
  while (i < masked.size()) {
    if (!IsDigit(masked[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < masked.size() && IsDigit(masked[i])) ++i;
    const size_t digits = i - start;
    if (digits < kMinCardDigits || digits > kMaxCardDigits) continue;
    for (size_t k = start + kKeptLeadingDigits; k < i - kKeptTrailingDigits; ++k) masked[k] = kMask;
    if (i < masked.size() && IsTrackSeparator(masked[i])) {
      for (++i; i < masked.size() && !EndsTrack(masked[i]); ++i) masked[i] = kMask;
    }
  }
  return masked;
}

}  // namespace protocol
