#include "tools/pos_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/frame.h"
#include "hub/core/frame_decoder.h"
#include "hub/core/pos_request_frame.h"
#include "platform/testing/temp_prefix.h"

namespace pos_client {
namespace {

TEST(PosClientRequests, EveryFormIsACompleteRequestThatDecodesToThePlainFrame) {
  platform::testing::TempPrefix prefix;  // the cipher key is read from its registry
  const std::vector<std::string> fields = {"1000", "0", "100", "00"};
  const std::string plain = RequestFrame(51, fields).value();
  for (Encoding encoding : {Encoding::kPlain, Encoding::kPacked, Encoding::kEnciphered}) {
    std::string frame = RequestFrame(51, fields, encoding, 9).value();
    // The hub takes it as complete once its ETX has come (the check byte may follow later).
    EXPECT_EQ(hub::ExaminePosBytes(frame), hub::PosRequestStatus::kGatewayFrame);
    EXPECT_EQ(hub::ExaminePosBytes(std::string_view(frame).substr(0, frame.size() - 2)),
              hub::PosRequestStatus::kNeedMore);
    ASSERT_EQ(hub::DecodeFrame(&frame), hub::DecodeStatus::kOk);
    EXPECT_EQ(frame, plain);
  }
  EXPECT_FALSE(RequestFrame(1000, {}).has_value());

  const std::string signature = SignatureFrame(std::string("\x02\x03xy", 4)).value();
  EXPECT_EQ(signature, std::string("\x02"
                                   "BMPP15000004\x02\x03xy\x03",
                                   18));
  EXPECT_EQ(hub::ExaminePosBytes(signature), hub::PosRequestStatus::kSignatureImage);
  EXPECT_EQ(FramedPrint("text"),
            "\x02"
            "151\x1c\x1ctext\x03");
}

TEST(PosClientAnswers, AreDecodedFieldByField) {
  const std::string_view refusal_fields[] = {"T1", "9999", "\xb0\xa1 REQUEST PENDING"};
  const std::string refusal = protocol::BuildMessage(152, refusal_fields).value();
  const std::string cash_answer =
      "\x02XX0014162\x1cT1\x1c"
      "0000\x03";
  struct Case {
    std::string bytes;
    const char* shown;
  };
  const Case cases[] = {
      {"", "closed without answer"},
      {"\x06\x06\x06", "ack x3"},
      {"\x06", "ack x1"},
      {refusal,
       "answer 152 type=TRM length=41 check=ok fields=3\n  field 1: T1\n  field 2: 9999\n"
       "  field 3: 가 REQUEST PENDING"},
      {cash_answer,
       "answer 162 type=code length=14 check=none fields=2\n  field 1: T1\n  field 2: 0000"},
      {"BUSY", "bytes 42555359"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DescribeAnswer(DecodeAnswer(c.bytes)), c.shown);
  }
}

TEST(PosClientTexts, AreCp949WithEscapes) {
  EXPECT_EQ(TextArgument("가\\n\\x1bi  b\\\\"), "\xb0\xa1\n\x1bi  b\\");
  EXPECT_FALSE(TextArgument("\\xZZ").has_value());
  EXPECT_FALSE(TextArgument("\\x1").has_value());
}

}  // namespace
}  // namespace pos_client
