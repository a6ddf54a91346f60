#include "hub/core/frame_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companions/seed/seed_cipher.h"
#include "companions/util/frame_packing.h"
#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

using std::string_literals::operator""s;

class FrameDecoderTest : public ::testing::Test {
 protected:
  // A sale frame as the terminal builds it in plain form.
  static std::string PlainSale() {
    const std::vector<std::string_view> fields = {"0000", "20240101",
                                                  "8801234567890\x1d"
                                                  "2",
                                                  "\xb0\xa1\xb3\xaa"};
    return BuildMessage(812, fields).value();
  }

  static std::string Enciphered(const std::string& plain, seed::CipherLengthField form) {
    return seed::EncipherFrame(plain, seed::ConfiguredSeedKey().value(), form).value();
  }

  // An enciphered frame with a fixed IV, so that what a damaged one looks like is the same in
  // every run.
  static std::string FixedEnciphered(std::string_view body, const seed::SeedKey& key) {
    const std::string enciphered = seed::EncipherBody(body, key, seed::SeedIv{}).value();
    const std::string length = std::to_string(enciphered.size() + kFrameOverhead);
    std::string frame =
        "\x02SX" + std::string(4 - length.size(), '0') + length + "TRM" + enciphered + kEtx;
    return frame + CheckByte(std::string_view(frame).substr(1));
  }

  static std::string WithoutCheckByte(std::string frame) {
    frame.pop_back();
    return frame;
  }

  platform::testing::TempPrefix prefix_;  // the default cipher key
};

TEST_F(FrameDecoderTest, TurnsPackedAndEncipheredFramesIntoThePlainFrame) {
  const std::string plain = PlainSale();
  struct Case {
    const char* what;
    std::string received;
    std::string decoded;
  };
  const Case cases[] = {
      {"plain", plain, plain},
      {"packed, level 0", frame_packing::PackFrame(plain, 0).value(), plain},
      {"packed, level 9", frame_packing::PackFrame(plain, 9).value(), plain},
      {"enciphered by a terminal", Enciphered(plain, seed::CipherLengthField::kTerminal), plain},
      {"enciphered by a POS client", Enciphered(plain, seed::CipherLengthField::kPosClient), plain},
      {"enciphered, sent without a check byte",
       WithoutCheckByte(Enciphered(plain, seed::CipherLengthField::kPosClient)),
       WithoutCheckByte(plain)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string frame = c.received;
    ASSERT_EQ(DecodeFrame(&frame), DecodeStatus::kOk);
    EXPECT_EQ(frame, c.decoded);
    EXPECT_EQ(MessageCode(frame), 812);
    // A decoded frame is plain: a second pass (the payment path's) leaves it alone.
    ASSERT_EQ(DecodeFrame(&frame), DecodeStatus::kOk);
    EXPECT_EQ(frame, c.decoded);
  }
}

TEST_F(FrameDecoderTest, ReadsTheCodeOfAnEncipheredFrameOnlyAfterDeciphering) {
  std::string frame = Enciphered(BuildMessage(820, std::vector<std::string_view>{}).value(),
                                 seed::CipherLengthField::kTerminal);
  EXPECT_NE(MessageCode(frame), 820);
  ASSERT_EQ(DecodeFrame(&frame), DecodeStatus::kOk);
  EXPECT_EQ(MessageCode(frame), 820);
}

TEST_F(FrameDecoderTest, LeavesFramesItCannotDecodeAsTheyCame) {
  const std::string plain = PlainSale();
  std::string forwarded = plain;
  forwarded[kPackingFlagOffset] = kForwardedFlag;
  // A deflate stream whose first block has the reserved block type 3.
  const std::string bad_packing = "\x02X60016TRM\xff\xff\xff\xff\xff\x03\x21"s;
  const seed::SeedKey key = seed::ConfiguredSeedKey().value();
  const std::string body(FrameContent(plain).substr(kBodyOffset));
  std::string packed_and_enciphered = FixedEnciphered(body, key);
  packed_and_enciphered[kPackingFlagOffset] = '6';
  std::string enciphered_cut = FixedEnciphered(body, key);
  enciphered_cut.erase(20, 1);
  // Packed, with a cipher flag that is neither plain nor enciphered: unpacked, it would keep the
  // flag and pass for a plain frame it is not.
  std::string packed_odd_flag = frame_packing::PackFrame(plain, 9).value();
  packed_odd_flag[kCipherFlagOffset] = '\\';
  const std::string packed_empty = frame_packing::PackFrame(BuildFrame("").value(), 6).value();

  struct Case {
    const char* what;
    std::string frame;
    DecodeStatus status;
  };
  const Case cases[] = {
      {"forwarded flag is not a packing digit", forwarded, DecodeStatus::kOk},
      {"body does not unpack", bad_packing, DecodeStatus::kUnpackFailed},
      {"packed without ETX", bad_packing.substr(0, 15), DecodeStatus::kNotAFrame},
      {"enciphered body cut", enciphered_cut, DecodeStatus::kDecipherFailed},
      {"enciphered without ETX", enciphered_cut.substr(0, 30), DecodeStatus::kNotAFrame},
      {"both packed and enciphered", packed_and_enciphered, DecodeStatus::kNotAFrame},
      {"packed with a cipher flag other than X", packed_odd_flag, DecodeStatus::kNotAFrame},
      {"packed body without a message code", packed_empty, DecodeStatus::kUnpackFailed},
      {"shorter than a head", "\x02XX0014TRM8", DecodeStatus::kNotAFrame},
      {"no STX", plain.substr(1), DecodeStatus::kNotAFrame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string frame = c.frame;
    EXPECT_EQ(DecodeFrame(&frame), c.status) << DecodeStatusText(DecodeFrame(&frame));
    EXPECT_EQ(frame, c.frame);
  }

  // Enciphered under another key than the one configured here.
  const std::string foreign =
      FixedEnciphered(body, seed::ParseSeedKey("000102030405060708090A0B0C0D0E0F").value());
  ASSERT_EQ(platform::RegSetString(seed::kSeedKeyRegistryKey, seed::kSeedKeyValueName,
                                   "4706480851E61BE85D74BFB3FD956185"),
            platform::RegStatus::kOk);
  std::string frame = foreign;
  EXPECT_EQ(DecodeFrame(&frame), DecodeStatus::kDecipherFailed);
  EXPECT_EQ(frame, foreign);
}

}  // namespace
}  // namespace hub
