#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "companions/huffcompress/huff_decoder.h"
#include "companions/huffcompress/huff_format.h"
#include "companions/huffcompress/ordella_huffcompress.h"
#include "companions/huffcompress/testing/signature_bmp.h"

namespace {

using huffcompress::kStoredHeaderSize;

// Ordella_Compress as the hub calls it: an output buffer of exactly the documented bound, with a
// guard area behind it that must stay untouched.
std::string Compress(std::string_view plain) {
  constexpr unsigned char kGuard = 0xA5;
  constexpr size_t kGuardSize = 64;
  const size_t bound = ORDELLA_COMPRESS_BOUND(plain.size());
  std::vector<unsigned char> output(bound + kGuardSize, kGuard);
  const int written = Ordella_Compress(reinterpret_cast<const unsigned char*>(plain.data()),
                                       static_cast<int>(plain.size()), output.data());
  EXPECT_GT(written, 0);
  EXPECT_LE(static_cast<size_t>(written), bound);
  for (size_t i = bound; i < output.size(); ++i) EXPECT_EQ(output[i], kGuard) << i;
  return std::string(output.begin(), output.begin() + written);
}

std::string RandomBytes(std::mt19937& random, size_t size, int distinct) {
  std::uniform_int_distribution<int> byte(0, distinct - 1);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(byte(random));
  return bytes;
}

TEST(HuffCompressTest, RoundTripsRandomDataWithinTheBound) {
  std::mt19937 random(20261210);
  // Few distinct values compress; all 256 do not and are stored.
  for (int distinct : {2, 5, 40, 256}) {
    for (size_t size : {2u, 3u, 17u, 1000u, 20000u}) {
      SCOPED_TRACE(testing::Message() << distinct << " values, " << size << " bytes");
      const std::string plain = RandomBytes(random, size, distinct);
      const std::string packed = Compress(plain);
      EXPECT_EQ(huffcompress::Decompress(packed), plain);
      if (distinct <= 5 && size >= 1000) {
        EXPECT_LT(packed.size(), plain.size() / 2);
      }
    }
  }
}

TEST(HuffCompressTest, SkewedInputKeepsCodesWithinFifteenBits) {
  // Fibonacci-like counts would give a very deep tree; the lengths are limited and the input
  // still round trips.
  std::string plain;
  size_t a = 1, b = 1;
  for (int symbol = 0; symbol < 24; ++symbol) {
    plain.append(a, static_cast<char>(symbol));
    const size_t next = a + b;
    a = b;
    b = next;
  }
  const std::string packed = Compress(plain);
  ASSERT_EQ(packed[huffcompress::kMethodOffset], huffcompress::kMethodHuffman);
  EXPECT_EQ(huffcompress::Decompress(packed), plain);
}

TEST(HuffCompressTest, EdgeSizedInputs) {
  struct Case {
    const char* what;
    std::string plain;
    char method;
    size_t size;
  };
  const Case cases[] = {
      {"empty", "", huffcompress::kMethodStored, kStoredHeaderSize},
      {"one byte", "A", huffcompress::kMethodStored, kStoredHeaderSize + 1},
      // One symbol: a one-bit code, 10,000 bits.
      {"all equal", std::string(10000, '\xFF'), huffcompress::kMethodHuffman,
       huffcompress::kSymbolsOffset + 1 + 1250},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string packed = Compress(c.plain);
    EXPECT_EQ(packed[huffcompress::kMethodOffset], c.method);
    EXPECT_EQ(packed.size(), c.size);
    EXPECT_EQ(huffcompress::Decompress(packed), c.plain);
  }
}

TEST(HuffCompressTest, ShrinksAMonochromeSignature) {
  const std::string bmp = huffcompress::testing::SignatureBmp();
  const std::string packed = Compress(bmp);
  EXPECT_EQ(packed[huffcompress::kMethodOffset], huffcompress::kMethodHuffman);
  EXPECT_LT(packed.size(), bmp.size() / 2);
  EXPECT_EQ(huffcompress::Decompress(packed), bmp);
}

TEST(HuffCompressTest, RefusesBadArguments) {
  unsigned char out[16] = {};
  const unsigned char in[1] = {'A'};
  EXPECT_EQ(Ordella_Compress(nullptr, 1, out), 0);
  EXPECT_EQ(Ordella_Compress(in, 1, nullptr), 0);
  EXPECT_EQ(Ordella_Compress(in, -1, out), 0);
}

TEST(HuffDecoderTest, RefusesDamagedInput) {
  const std::string good = Compress(std::string(300, 'a') + std::string(100, 'b') + "cd");
  ASSERT_EQ(good[huffcompress::kMethodOffset], huffcompress::kMethodHuffman);
  auto with = [&](size_t offset, char byte) {
    std::string damaged = good;
    damaged[offset] = byte;
    return damaged;
  };
  const std::string stored = Compress("x");
  struct Case {
    const char* what;
    std::string packed;
  };
  const Case cases[] = {
      {"too short for a header", good.substr(0, kStoredHeaderSize - 1)},
      {"wrong magic", with(0, 'X')},
      {"unknown method", with(huffcompress::kMethodOffset, 'Z')},
      {"cut in the symbol list", good.substr(0, huffcompress::kSymbolsOffset + 1)},
      {"bits cut short", good.substr(0, good.size() - 3)},
      {"length beyond the bits", with(huffcompress::kLengthOffset, '\x01')},
      {"oversubscribed counts", with(huffcompress::kCountsOffset, '\x03')},
      {"symbol listed twice",
       with(huffcompress::kSymbolsOffset + 1, good[huffcompress::kSymbolsOffset])},
      {"stored bytes missing", stored.substr(0, stored.size() - 1)},
      {"stored bytes extra", stored + "y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(huffcompress::Decompress(c.packed), std::nullopt);
  }
}

}  // namespace
