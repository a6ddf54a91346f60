#include "companions/huffcompress/huff_decoder.h"

#include <array>
#include <cstdint>

#include "companions/huffcompress/huff_format.h"

namespace huffcompress {
namespace {

uint32_t ReadLength(std::string_view packed) {
  uint32_t value = 0;
  for (size_t i = 0; i < kLengthBytes; ++i) {
    value = (value << 8) | static_cast<unsigned char>(packed[kLengthOffset + i]);
  }
  return value;
}

// The canonical code of the counts, as the decoder walks it: per length, the first code and the
// index of its symbol in the symbol list.
struct CanonicalTable {
  LengthCounts count{};
  std::array<uint32_t, kMaxCodeLength + 1> first_code{};
  std::array<uint32_t, kMaxCodeLength + 1> first_index{};
};

// nullopt when the counts oversubscribe the code space (no prefix code has them).
std::optional<CanonicalTable> TableOf(const LengthCounts& count) {
  CanonicalTable table;
  table.count = count;
  uint32_t code = 0;
  uint32_t index = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    code <<= 1;
    table.first_code[length] = code;
    table.first_index[length] = index;
    code += count[length];
    index += count[length];
    if (code > (1u << length)) return std::nullopt;
  }
  return table;
}

class BitReader {
 public:
  explicit BitReader(std::string_view bytes) : bytes_(bytes) {}
  // The next bit, or -1 past the end.
  int Next() {
    if (position_ >= bytes_.size() * 8) return -1;
    const auto byte = static_cast<unsigned char>(bytes_[position_ / 8]);
    const int bit = (byte >> (7 - position_ % 8)) & 1;
    ++position_;
    return bit;
  }

 private:
  std::string_view bytes_;
  size_t position_ = 0;
};

std::optional<std::string> DecodeHuffman(std::string_view packed, uint32_t length) {
  if (packed.size() < kSymbolsOffset) return std::nullopt;
  LengthCounts count{};
  size_t symbol_count = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    count[l] = static_cast<unsigned char>(packed[kCountsOffset + l - 1]);
    symbol_count += count[l];
  }
  const std::optional<CanonicalTable> table = TableOf(count);
  if (!table || symbol_count == 0 || symbol_count > kSymbolCount ||
      packed.size() < kSymbolsOffset + symbol_count) {
    return std::nullopt;
  }
  const std::string_view symbols = packed.substr(kSymbolsOffset, symbol_count);
  std::array<bool, kSymbolCount> listed{};
  for (char symbol : symbols) {
    bool& seen = listed[static_cast<unsigned char>(symbol)];
    if (seen) return std::nullopt;
    seen = true;
  }
  const std::string_view bits = packed.substr(kSymbolsOffset + symbol_count);
  // Every code is at least one bit long: a stated length beyond the bits is damage, and is
  // refused before anything is allocated for it.
  if (length > bits.size() * 8) return std::nullopt;

  std::string plain;
  plain.reserve(length);
  BitReader reader(bits);
  while (plain.size() < length) {
    uint32_t code = 0;
    int l = 0;
    while (true) {
      const int bit = reader.Next();
      if (bit < 0 || ++l > kMaxCodeLength) return std::nullopt;
      code = (code << 1) | static_cast<uint32_t>(bit);
      const uint32_t offset = code - table->first_code[l];
      if (code >= table->first_code[l] && offset < table->count[l]) {
        plain.push_back(symbols[table->first_index[l] + offset]);
        break;
      }
    }
  }
  return plain;
}

}  // namespace

std::optional<std::string> Decompress(std::string_view packed) {
  if (packed.size() < kStoredHeaderSize || packed.substr(0, kMagic.size()) != kMagic) {
    return std::nullopt;
  }
  const uint32_t length = ReadLength(packed);
  switch (packed[kMethodOffset]) {
    case kMethodStored:
      if (packed.size() - kStoredHeaderSize != length) return std::nullopt;
      return std::string(packed.substr(kStoredHeaderSize));
    case kMethodHuffman:
      return DecodeHuffman(packed, length);
    default:
      return std::nullopt;
  }
}

}  // namespace huffcompress
