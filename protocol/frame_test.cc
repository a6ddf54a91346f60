#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companions/util/ordella_util.h"

namespace protocol {
namespace {

using std::string_literals::operator""s;

// The check byte the terminal expects: over everything after STX through ETX.
char ExpectedCheck(std::string_view frame_through_etx) {
  const std::string_view covered = frame_through_etx.substr(1);
  return static_cast<char>(UtilCheckByte(reinterpret_cast<const unsigned char*>(covered.data()),
                                         static_cast<int>(covered.size())));
}

TEST(FrameTest, BuildsTheGreetingWithTwentyOneEmptyFields) {
  const std::vector<std::string_view> empty(21);
  const std::string frame =
      BuildFrame(MessageBody(841, empty).value(), LengthRule::kGreeting, kTerminalShape).value();
  ASSERT_EQ(frame.size(), 49u + 1);
  EXPECT_EQ(frame.substr(0, 31), "\x02TavenorGatewayXX0035TRM841\x1c\x1c\x1c\x1c"s);
  EXPECT_EQ(frame.substr(27, 21), std::string(21, kFs));
  EXPECT_EQ(frame[48], kEtx);
  EXPECT_EQ(frame[49], ExpectedCheck(frame.substr(0, 49)));

  const Fields<32> fields = FrameFields<32>(frame);
  EXPECT_EQ(fields.count, 22u);
  EXPECT_EQ(fields[0], "\x02TavenorGatewayXX0035TRM841");
  for (size_t n = 1; n < 32; ++n) EXPECT_EQ(fields[n], "") << n;
  EXPECT_EQ(MessageCode(frame), 841);
  EXPECT_EQ(ReadLengthField(frame), 35);
}

TEST(FrameTest, WritesEachLengthRule) {
  const std::string body = "151\x1c\x1c\x1cPRINT";  // 11 bytes
  struct Case {
    LengthRule rule;
    FrameShape shape;
    size_t text_length;
    const char* length_field;
    size_t frame_size;
  };
  const Case cases[] = {
      {LengthRule::kNormal, kPlainShape, 0, "0022", 23},
      {LengthRule::kNormal, kTerminalShape, 0, "0022", 37},
      {LengthRule::kHostRequest, kTerminalShape, 0, "0036", 37},
      {LengthRule::kReceiptCopy, kTerminalShape, 0, "0034", 37},
      {LengthRule::kCashReceiptAnswer, kCashReceiptAnswerShape, 0, "0018", 19},
      {LengthRule::kPaymentAnswer, kPaymentAnswerShape, 0, "0011", 22},
      {LengthRule::kGreeting, kTerminalShape, 0, "0035", 37},
      {LengthRule::kSellerList, kTerminalShape, 6, "0033", 37},
      {LengthRule::kBarcodeBuildAnswer, kTerminalShape, 0, "0027", 37},
      {LengthRule::kWholeFrame, kTerminalShape, 0, "0036", 37},
      {LengthRule::kWholeFrame, kPlainShape, 0, "0022", 23},
      {LengthRule::kGuidanceSheet, kTerminalShape, 5, "0016", 37},
      {LengthRule::kGuidanceSheet, kPlainShape, 5, "0012", 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length_field);
    const std::string frame = BuildFrame(body, c.rule, c.shape, c.text_length).value();
    ASSERT_EQ(frame.size(), c.frame_size);
    const size_t head = 1 + (c.shape.routing_prefix ? kRoutingPrefix.size() : 0);
    EXPECT_EQ(frame.substr(head, 6), "XX"s + c.length_field);
    const size_t body_at = head + 6 + (c.shape.frame_type ? 3 : 0);
    if (c.shape.frame_type) {
      EXPECT_EQ(frame.substr(head + 6, 3), "TRM");
    }
    EXPECT_EQ(frame.substr(body_at, body.size()), body);
    const size_t etx = body_at + body.size();
    EXPECT_EQ(frame[etx], kEtx);
    if (c.shape.check_byte) {
      EXPECT_EQ(frame[etx + 1], ExpectedCheck(frame.substr(0, etx + 1)));
    }
  }
}

TEST(FrameTest, RefusesLengthsThatDoNotFitTheirField) {
  // body + 11 reaches 9999 and no further.
  EXPECT_EQ(ReadLengthField(BuildFrame(std::string(9988, 'a')).value()), 9999);
  EXPECT_EQ(BuildFrame(std::string(9989, 'a')), std::nullopt);
  EXPECT_EQ(BuildFrame(std::string(9975, 'a'), LengthRule::kHostRequest, kTerminalShape),
            std::nullopt);
  EXPECT_EQ(BuildFrame("x", LengthRule::kSellerList, kTerminalShape, 9973), std::nullopt);
  EXPECT_EQ(BuildServerFrame(std::string(999986, 'a'))->size(), 999999u);
  EXPECT_EQ(BuildServerFrame(std::string(999987, 'a')), std::nullopt);

  for (int code : {-1, 1000}) EXPECT_EQ(MessageBody(code, {}), std::nullopt) << code;
  const std::vector<std::string_view> fields = {"C", "", "x\x1dy"};
  EXPECT_EQ(MessageBody(1, fields),
            "001\x1c"
            "C\x1c\x1cx\x1dy");
  EXPECT_EQ(BuildMessage(1000, fields), std::nullopt);
}

TEST(FrameTest, InsertsTheRoutingPrefixKeepingTheLengthField) {
  const std::vector<std::string_view> fields = {"", "", "PRINT hello"};
  const std::string plain = BuildMessage(151, fields).value();
  for (const std::string& input : {plain, plain.substr(0, plain.size() - 1)}) {
    const std::string prefixed = InsertRoutingPrefix(input).value();
    ASSERT_EQ(prefixed.size(), plain.size() + 14);
    EXPECT_EQ(prefixed, "\x02TavenorGateway" + plain.substr(1, plain.size() - 2) +
                            ExpectedCheck(prefixed.substr(0, prefixed.size() - 1)));
    EXPECT_EQ(ReadLengthField(prefixed), ReadLengthField(plain));
    EXPECT_EQ(prefixed, BuildMessage(151, fields, kTerminalShape));
  }
  for (const std::string& bad : {InsertRoutingPrefix(plain).value(), "\x02XX0014TRM820"s,
                                 "XXX0014TRM820\x03"s, "\x02XX\x03"s, ""s}) {
    EXPECT_EQ(InsertRoutingPrefix(bad), std::nullopt) << bad;
  }
}

TEST(FrameTest, BuildsTheServerForm) {
  const std::string frame = BuildServerFrame("842\x1cREG").value();
  EXPECT_EQ(frame, "\x02XX000020TRM842\x1cREG\x03");
  EXPECT_EQ(frame.substr(kServerTypeOffset, 3), "TRM");
  EXPECT_EQ(frame.substr(kServerCodeOffset, 3), "842");
}

TEST(FrameTest, BuildsBarcodeChunks) {
  std::string data(kMaxChunkData, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  const std::string frame = BuildBarcodeChunk(1, data).value();
  ASSERT_EQ(frame.size(), 21015u);
  EXPECT_EQ(frame.substr(0, 12),
            "\x02"
            "BDBC0121000");
  EXPECT_EQ(frame.substr(kChunkDataOffset, data.size()), data);
  EXPECT_EQ(frame[21012], kEtx);
  const uint16_t check =
      UtilCheck16(reinterpret_cast<const unsigned char*>(frame.data()) + 1, 21012);
  EXPECT_EQ(static_cast<unsigned char>(frame[21013]), check >> 8);
  EXPECT_EQ(static_cast<unsigned char>(frame[21014]), check & 0xFF);

  EXPECT_EQ(BuildBarcodeChunk(12, "abc")->substr(0, 15),
            "\x02"
            "BDBC1200003abc");
  EXPECT_EQ(BuildBarcodeChunk(0, "abc"), std::nullopt);
  EXPECT_EQ(BuildBarcodeChunk(100, "abc"), std::nullopt);
  EXPECT_EQ(BuildBarcodeChunk(2, std::string(kMaxChunkData + 1, 'a')), std::nullopt);
}

TEST(FrameTest, BuildsTheRawPrintFrame) {
  const std::vector<std::string_view> lines = {"---", "\x0e\xc6\xc7\xb8\xc5\x0f", ""};
  EXPECT_EQ(BuildRawPrintFrame(lines), "\x02JIDPRINT---\n\x0e\xc6\xc7\xb8\xc5\x0f\n\n");
  EXPECT_EQ(BuildRawPrintFrame({}), "\x02JIDPRINT");
}

TEST(FrameTest, ReadsHeadNumbersOnlyWhenTheyAreDigits) {
  struct Case {
    std::string frame;
    std::optional<int> length;
    std::optional<int> code;
  };
  const Case cases[] = {
      {"\x02XX0025TRM820\x1c\x03\x21", 25, 820},
      {"\x02TavenorGatewayXX0014TRM001\x03", 14, 1},
      {"\x02SX0043TRM\x8f\x02", 43, std::nullopt},
      {"\x02XX00a5TRM8 0\x03", std::nullopt, std::nullopt},
      {"\x02XX002", std::nullopt, std::nullopt},
      {"\x02XX0025TRM82", 25, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadLengthField(c.frame), c.length) << c.frame;
    EXPECT_EQ(MessageCode(c.frame), c.code) << c.frame;
  }
}

TEST(FrameTest, SplitsFieldsIntoBoundedSlots) {
  const std::string frame =
      "\x02XX0037TRM839\x1c"
      "first\x1c\x1c"
      "a\x1d"
      "b\x1d"
      "c\x03\x2a";
  const Fields<3> three = FrameFields<3>(frame);
  EXPECT_EQ(three.count, 4u);
  EXPECT_EQ(three[0], "\x02XX0037TRM839");
  EXPECT_EQ(three[1], "first");
  EXPECT_EQ(three[2], "");
  EXPECT_EQ(three[3], "");  // beyond the slots: empty, never the rest of the frame

  const Fields<8> eight = FrameFields<8>(frame);
  EXPECT_EQ(eight[3],
            "a\x1d"
            "b\x1d"
            "c");  // no ETX, no check byte
  EXPECT_EQ(eight[7], "");
  const Fields<4> items = SplitFields<4>(eight[3], kGs);
  EXPECT_EQ(items.count, 3u);
  EXPECT_EQ(items[2], "c");
  // Without a bound on their number: an empty field before and after each separator.
  EXPECT_EQ(SplitAll(eight[3], kGs), (std::vector<std::string_view>{"a", "b", "c"}));
  EXPECT_EQ(SplitAll("|x|", '|'), (std::vector<std::string_view>{"", "x", ""}));
  EXPECT_EQ(SplitAll("", '|'), (std::vector<std::string_view>{""}));

  // A frame without its tail still gives its fields.
  EXPECT_EQ(FrameFields<4>("\x02XX0000TRM839\x1c"
                           "typed")[1],
            "typed");
}

TEST(FrameTest, FindsMarkersAcrossNulBytes) {
  const std::string bytes = "\x02XX0030TRM001\x1c\0\0NACK\x1c"s;
  EXPECT_TRUE(ContainsMarker(bytes, kMarkerNack));
  EXPECT_FALSE(ContainsMarker(bytes, kMarkerBdb));
  EXPECT_TRUE(ContainsMarker("\0\0BUSY"s, kMarkerBusy));
}

}  // namespace
}  // namespace protocol
