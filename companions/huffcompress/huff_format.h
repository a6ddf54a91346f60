// The compressed signature format: what Ordella_Compress writes and what the terminal decodes.
//
//   bytes 0-1   "HC"
//   byte 2      method: 'S' stored (the input follows as it is), 'H' canonical Huffman
//   bytes 3-6   the input's length, four bytes, high byte first
//   stored:     bytes 7-     the input
//   Huffman:    bytes 7-21   for each code length 1 to 15, how many symbols have a code that long
//               then         the symbols in canonical order (shorter codes first, then by value),
//                            one byte each, as many as the counts add up to
//               then         the codes of the input's bytes, most significant bit first; the last
//                            byte is filled up with zero bits
//
// The code is rebuilt from the counts and the symbol list alone: codes of one length are
// consecutive numbers, starting where the previous length left off, shifted left by one. A
// lone symbol gets the one-bit code 0.
//
// Huffman is written only when it is shorter than the stored form, so the output is never longer
// than the input plus kStoredHeaderSize.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace huffcompress {

inline constexpr std::string_view kMagic = "HC";
inline constexpr char kMethodStored = 'S';
inline constexpr char kMethodHuffman = 'H';

inline constexpr size_t kMethodOffset = kMagic.size();      // 2
inline constexpr size_t kLengthOffset = kMethodOffset + 1;  // 3
inline constexpr size_t kLengthBytes = 4;
inline constexpr size_t kStoredHeaderSize = kLengthOffset + kLengthBytes;  // 7

inline constexpr int kMaxCodeLength = 15;
inline constexpr size_t kCountsOffset = kStoredHeaderSize;                // 7
inline constexpr size_t kSymbolsOffset = kCountsOffset + kMaxCodeLength;  // 22
inline constexpr size_t kSymbolCount = 256;

// The largest input the four length bytes can describe, kept within an int (the export's count).
inline constexpr uint32_t kMaxInputLength = 0x7FFFFFFF - kStoredHeaderSize;

// Symbols per code length; entry 0 is unused.
using LengthCounts = std::array<uint16_t, kMaxCodeLength + 1>;

}  // namespace huffcompress
