#include "companions/seed/seed_cipher.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"

namespace seed {
namespace {

std::string Hex(std::string_view hex) { return platform::FromHex(hex).value(); }

SeedKey Key(std::string_view hex) { return ParseSeedKey(hex).value(); }

std::string Frame(std::string_view body) {
  std::string frame = "\x02XX" +
                      platform::ZeroPadded(static_cast<long long>(body.size()) + 11, 4).value() +
                      "TRM" + std::string(body) + "\x03";
  return frame + "\x7f";  // the check byte's value does not matter to the cipher
}

// The known-answer vectors of RFC 4269, appendix B. With an all-zero IV the first CBC block
// after the IV is the plain SEED block cipher output.
TEST(SeedCipherTest, MatchesTheReferenceVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"00000000000000000000000000000000", "000102030405060708090A0B0C0D0E0F",
       "5EBAC6E0054E166819AFF1CC6D346CDB"},
      {"000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000",
       "C11F22F20140505084483597E4370F43"},
      {"4706480851E61BE85D74BFB3FD956185", "83A2F8A288641FB9A4E9A5CC2F131C7D",
       "EE54D13EBCAE706D226BC3142CD40D4A"},
      {"28DBC3BC49FFD87DCFA509B11D422BE7", "B41E6BE2EBA84A148E2EED84593C5EC7",
       "9B9B7BFCD1813CB95D0B3618F40F5122"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const std::optional<std::string> out = EncipherBody(Hex(c.plain), Key(c.key), SeedIv{});
    ASSERT_TRUE(out.has_value());
    ASSERT_EQ(out->size(), 3 * kBlockSize);  // IV, the block, a whole block of padding
    EXPECT_EQ(out->substr(0, kBlockSize), std::string(kBlockSize, '\0'));
    EXPECT_EQ(platform::ToHex(out->substr(kBlockSize, kBlockSize)), c.cipher);
    EXPECT_EQ(DecipherBody(*out, Key(c.key)), Hex(c.plain));
  }
}

TEST(SeedCipherTest, BodiesOfEveryLengthComeBackWhole) {
  const SeedKey key = Key(kDefaultSeedKeyHex);
  std::string binary;
  for (int i = 0; i < 300; ++i) binary.push_back(static_cast<char>(i * 7));
  const std::string bodies[] = {"",
                                "8",
                                std::string(15, 'a'),
                                std::string(16, 'b'),
                                std::string(17, 'c'),
                                binary,
                                std::string(9000, '\x1c')};
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body.size());
    const std::optional<std::string> out = EncipherBody(body, key);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->size(), kBlockSize + (body.size() / kBlockSize + 1) * kBlockSize);
    EXPECT_EQ(DecipherBody(*out, key), body);
  }
  // A fresh IV each time: the same body never gives the same bytes twice.
  EXPECT_NE(EncipherBody("820\x1c"
                         "1",
                         key),
            EncipherBody("820\x1c"
                         "1",
                         key));
}

TEST(SeedCipherTest, RefusesBodiesThatCannotBeDeciphered) {
  const SeedKey key = Key(kDefaultSeedKeyHex);
  const std::string good = EncipherBody(
                               "810\x1c"
                               "1234",
                               key, SeedIv{})
                               .value();
  // Flipping a bit of the block before the last flips the same bit of the padding byte (8).
  std::string tampered = good;
  tampered[good.size() - kBlockSize - 1] ^= 0x40;
  const std::string cases[] = {
      "",
      good.substr(0, kBlockSize),       // the IV alone
      good.substr(0, good.size() - 1),  // not whole blocks
      good + "x",
      tampered,  // the padding no longer checks
  };
  for (const std::string& enciphered : cases) {
    EXPECT_EQ(DecipherBody(enciphered, key), std::nullopt) << platform::ToHex(enciphered);
  }
  EXPECT_EQ(DecipherBody(good, Key("000102030405060708090A0B0C0D0E0F")), std::nullopt);
}

TEST(SeedCipherTest, ParsesOnlyThirtyTwoHexCharacters) {
  EXPECT_EQ(ParseSeedKey("000102030405060708090a0b0c0d0e0f"),
            ParseSeedKey("000102030405060708090A0B0C0D0E0F"));
  EXPECT_EQ(ParseSeedKey("546176656E6F72476174657761793031").value()[0], 'T');
  for (const char* bad :
       {"", "0001020304050607", "000102030405060708090A0B0C0D0E0",
        "000102030405060708090A0B0C0D0E0F00", "000102030405060708090A0B0C0D0E0G"}) {
    EXPECT_EQ(ParseSeedKey(bad), std::nullopt) << bad;
  }
}

TEST(SeedCipherTest, TakesTheKeyFromTheRegistryOrTheDefault) {
  platform::testing::TempPrefix prefix;
  EXPECT_EQ(ConfiguredSeedKey(), ParseSeedKey(kDefaultSeedKeyHex));

  ASSERT_EQ(platform::RegSetString(kSeedKeyRegistryKey, kSeedKeyValueName,
                                   "4706480851E61BE85D74BFB3FD956185"),
            platform::RegStatus::kOk);
  EXPECT_EQ(ConfiguredSeedKey(), ParseSeedKey("4706480851E61BE85D74BFB3FD956185"));

  // A key that is set but unusable is an error, not a reason to fall back to the default.
  ASSERT_EQ(platform::RegSetString(kSeedKeyRegistryKey, kSeedKeyValueName, "4706"),
            platform::RegStatus::kOk);
  EXPECT_EQ(ConfiguredSeedKey(), std::nullopt);
  ASSERT_EQ(platform::RegSetDword(kSeedKeyRegistryKey, kSeedKeyValueName, 7),
            platform::RegStatus::kOk);
  EXPECT_EQ(ConfiguredSeedKey(), std::nullopt);
}

TEST(SeedCipherTest, EnciphersFramesWithTheLengthFieldTheReceiverExpects) {
  const SeedKey key = Key(kDefaultSeedKeyHex);
  const std::string plain = Frame(
      "820\x1c\x1c"
      "20240101");
  for (const std::string& input : {plain, plain.substr(0, plain.size() - 1)}) {
    const std::string terminal = EncipherFrame(input, key, CipherLengthField::kTerminal).value();
    const std::string pos = EncipherFrame(input, key, CipherLengthField::kPosClient).value();
    for (const std::string* frame : {&terminal, &pos}) {
      EXPECT_EQ(frame->substr(0, 3), "\x02SX");
      EXPECT_EQ(frame->substr(7, 3), "TRM");
      EXPECT_EQ((*frame)[frame->size() - 2], '\x03');
      const size_t etx = frame->size() - 2;
      EXPECT_EQ(DecipherBody(frame->substr(kBodyOffset, etx - kBodyOffset), key),
                "820\x1c\x1c"
                "20240101");
    }
    EXPECT_EQ(std::stoi(terminal.substr(kLengthOffset, kLengthDigits)), terminal.size() - 1);
    EXPECT_EQ(std::stoi(pos.substr(kLengthOffset, kLengthDigits)),
              pos.size() - kPosClientLengthSlack);
  }
}

TEST(SeedCipherTest, RefusesFramesItCannotEncipher) {
  const SeedKey key = Key(kDefaultSeedKeyHex);
  std::string already = Frame("820");
  already[kCipherFlagOffset] = 'S';
  std::string packed = Frame("820");
  packed[kPackingFlagOffset] = '6';
  const std::string cases[] = {
      "",
      "\x02XX0014TRM820",   // no ETX
      "XXX0014TRM820\x03",  // no STX
      "\x02XX0014TR\x03",   // ETX inside the head
      already,
      packed,
      Frame(std::string(9980, 'a')),  // fits four digits plain, but not once enciphered
  };
  for (const std::string& frame : cases) {
    EXPECT_EQ(EncipherFrame(frame, key, CipherLengthField::kTerminal), std::nullopt)
        << frame.substr(0, 20);
  }
}

}  // namespace
}  // namespace seed
