#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "stores/cpp_sqlite3.h"

namespace {

std::string Encode(const std::string& bytes) {
  CppSQLite3BlobBuffer blob;
  blob.Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return blob.Encoded();
}

std::string Decode(const std::string& text) {
  CppSQLite3BlobBuffer blob;
  blob.SetEncoded(text.c_str());
  size_t length = 0;
  const unsigned char* bytes = blob.Binary(&length);
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::string AllByteValues() {
  std::string bytes;
  for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
  return bytes;
}

struct KnownEncoding {
  const char* what;
  std::string input;
  std::string encoded;
};

TEST(BlobBufferTest, EncodesSmallInputsExactly) {
  const KnownEncoding cases[] = {
      {"no bytes", std::string(), "x"},
      // Offset 1 needs no escape: every byte is written one less.
      {"text", "Hello", "\x01Gdkkn"},
      {"a NUL byte", std::string(1, '\0'), "\x01\xFF"},
      {"quotes", "'''", "\x01&&&"},
      // Offsets 1 and 2 would each need an escape; 3 is the first that needs none.
      {"offset chosen", "\x01\x02\x28", "\x03\xFE\xFF\x25"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encode(c.input), c.encoded) << c.what;
    EXPECT_EQ(Decode(c.encoded), c.input) << c.what;
  }
}

TEST(BlobBufferTest, AllByteValuesUseTheThreeEscapePairs) {
  // Every offset needs three escapes here, so the first (1) is taken: bytes 1, 2 and 40 come
  // out as 0x00, 0x01 and the quote and are written as escape pairs.
  const std::string encoded = Encode(AllByteValues());
  ASSERT_EQ(encoded.size(), 1u + 256u + 3u);
  EXPECT_EQ(encoded.substr(0, 6), std::string("\x01\xFF\x01\x01\x01\x02", 6));
  EXPECT_EQ(encoded.substr(42, 4), std::string("\x26\x01\x03\x28", 4));
  EXPECT_EQ(static_cast<unsigned char>(encoded.back()), 0xFE);
}

TEST(BlobBufferTest, RoundTripsAndStaysQuotableText) {
  std::vector<std::string> inputs = {AllByteValues(), std::string(1000, '\''),
                                     std::string(300, '\0'), std::string(2, '\x01')};
  // Pseudo-random bytes: long enough that every offset needs escapes.
  std::string scrambled;
  uint32_t state = 12345;
  for (int i = 0; i < 5000; ++i) {
    state = state * 1103515245u + 12345u;
    scrambled += static_cast<char>(state >> 16);
  }
  inputs.push_back(scrambled);
  for (const auto& input : inputs) {
    const std::string encoded = Encode(input);
    EXPECT_EQ(encoded.find('\''), std::string::npos);
    EXPECT_LE(encoded.size() + 1, input.size() * 257 / 254 + 3);
    EXPECT_EQ(Decode(encoded), input);
  }
}

TEST(BlobBufferTest, DecodesTheQuotePairOfEitherEncoder) {
  // Offset 1; the quote pair as written here (0x01 0x03) and as SQLite 2 writes it (0x01 0x28).
  EXPECT_EQ(Decode("\x01\x01\x03"), "\x28");
  EXPECT_EQ(Decode("\x01\x01\x28"), "\x28");
}

TEST(BlobBufferTest, RefusesTextThatIsNotAnEncoding) {
  const std::string bad[] = {"", "\x05\x01", "\x05\x41\x01\x07", "\x05\x01\x28\x01"};
  for (const auto& text : bad) {
    CppSQLite3BlobBuffer blob;
    blob.SetEncoded(text.c_str());
    size_t length = 7;
    try {
      blob.Binary(&length);
      ADD_FAILURE() << "decoded " << testing::PrintToString(text);
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(e.errorCode(), CPPSQLITE_ERROR);
      EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Cannot decode binary");
    }
    EXPECT_EQ(blob.Encoded(), text) << "a refused text is kept";
  }
  CppSQLite3BlobBuffer never_set;
  EXPECT_THROW(never_set.Binary(nullptr), CppSQLite3Exception);
}

TEST(BlobBufferTest, RefusesBlobsItCannotHold) {
  CppSQLite3BlobBuffer blob;
  try {
    blob.Reserve(std::numeric_limits<size_t>::max());
    FAIL() << "reserved";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Cannot allocate memory");
  }
  EXPECT_THROW(blob.Encode(nullptr, 3), CppSQLite3Exception);
}

TEST(BlobBufferTest, MovedBufferKeepsItsText) {
  CppSQLite3BlobBuffer first;
  first.Encode(reinterpret_cast<const unsigned char*>("ab"), 2);
  CppSQLite3BlobBuffer second(std::move(first));
  EXPECT_STREQ(second.Encoded(), "\x01`a");
  EXPECT_STREQ(first.Encoded(), "");  // NOLINT(bugprone-use-after-move): moved-from is empty
  first = std::move(second);
  size_t length = 0;
  EXPECT_EQ(std::memcmp(first.Binary(&length), "ab", 2), 0);
  EXPECT_EQ(length, 2u);
}

}  // namespace
