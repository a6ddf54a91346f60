#include "hub/payments/print_entries.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "protocol/frame.h"
#include "hub/payments/test_support.h"

namespace hub::payments {

using namespace protocol;
namespace {

using testing::Cp;
using testing::Readable;

PharmacySettings Plain() { return PharmacySettings{}; }

PharmacySettings Rewriting() {
  PharmacySettings settings;
  settings.rewrite_bills = true;
  settings.program_index = 1;
  settings.business_number = "123";
  settings.trade_name = Cp("약국");
  settings.owner_name = Cp("김");
  return settings;
}

TEST(PrintEntriesTest, PosRequestTextRemovesOnlyTheFirstCut) {
  const std::string body = PosPrintBody("A\x1Bi  B\x1Bi  C 100%", Plain());
  EXPECT_EQ(Readable(body), "151|||PRINTA    B^i  C 100%\n");
}

TEST(PrintEntriesTest, PosRequestTextIsRewrittenWhenTheSettingsAskForIt) {
  const std::string bill = Cp("상      호 : 옛약국\n사업장소재지 : 서울");
  EXPECT_EQ(Readable(PosPrintBody(bill, Plain())),
            "151|||PRINT상      호 : 옛약국\n사업장소재지 : 서울\n");
  EXPECT_EQ(Readable(PosPrintBody(bill, Rewriting())),
            "151|||PRINT[17사업자번호 : 123    \n상      호 : 약국\n성      명 : 김 \n   ]\n"
            "사업장소재지 : 서울\n\n");
}

TEST(PrintEntriesTest, FirstAckTextGetsLineFeedsAndEndsAtFourInARow) {
  struct Case {
    const char* received;
    const char* body;
  };
  const Case cases[] = {
      {"a\r\nb\rc\n", "151|||PRINTa\nb\nc\n"},
      {"bill\n\n\n\nleft over", "151|||PRINTbill\n"},
      {"bill\r\n\r\n\r\n\r\nleft over", "151|||PRINTbill\n"},
      {"three\n\n\nkept", "151|||PRINTthree\n\n\nkept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.received);
    EXPECT_EQ(Readable(FirstAckPrintBody(c.received, Plain())), c.body);
  }
}

TEST(PrintEntriesTest, SecondAckFramePrintsFieldTwoWithItsHighlights) {
  struct Case {
    const char* what;
    std::string received;
    std::string body;
  };
  std::string many_fields =
      "\x02XX9999TRM151\x1c"
      "a\x1c"
      "field two";
  for (int i = 0; i < 600; ++i) many_fields += "\x1cx";
  many_fields += "\x03";
  const std::string long_text(kFramedPrintExamined + 100, 'z');
  const Case cases[] = {
      {"highlights",
       "\x02XX0040TRM151\x1c"
       "A\x1cHello \x1d"
       "bold\x1e end\x1c"
       "C\x03\x27",
       "151|||PRINTHello <bold> end"},
      {"ends at ETX",
       "\x02XX0020TRM151\x1c"
       "A\x1c"
       "text\x03"
       "after\x1c"
       "more",
       "151|||PRINTtext"},
      {"no field two",
       "\x02XX0020TRM151\x1c"
       "A\x03",
       "151|||PRINT"},
      {"more than 512 fields", many_fields, "151|||PRINTfield two"},
      {"no ETX: cut after 10240 bytes", "\x1c\x1c" + long_text,
       "151|||PRINT" + long_text.substr(0, kFramedPrintExamined - 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Readable(SecondAckPrintBody(c.received, Plain())), c.body);
  }
}

std::string SendBuffer(const RelaySlot& slot) {
  return std::string(reinterpret_cast<const char*>(slot.send_buffer.data()),
                     static_cast<size_t>(slot.byte_count.load()));
}

TEST(PrintEntriesTest, QueuesTheFramedPrintForTheTerminal) {
  auto slot = std::make_unique<RelaySlot>();
  ASSERT_EQ(PrintPosRequestText(*slot, "hello", Plain()), 1);
  const std::string body = "151\x1c\x1c\x1cPRINThello\n";
  const std::string frame = SendBuffer(*slot);
  EXPECT_EQ(frame.substr(0, 1 + kRoutingPrefix.size() + 9),
            "\x02TavenorGatewayXX0028TRM");  // body + 11
  EXPECT_EQ(frame.size(), 1 + kRoutingPrefix.size() + 9 + body.size() + 2);
  EXPECT_EQ(frame.substr(1 + kRoutingPrefix.size() + 9, body.size()), body);
  EXPECT_EQ(frame[frame.size() - 2], kEtx);
  EXPECT_EQ(frame.back(), CheckByte(std::string_view(frame).substr(1, frame.size() - 2)));
  EXPECT_EQ(slot->send_state.load(), RelaySlot::kWaiting);
}

TEST(PrintEntriesTest, AckListenerEntriesTakeTheClientAndClearThePayment) {
  auto slot = std::make_unique<RelaySlot>();
  slot->payment.amount1.Set("9000");
  slot->customer_copy.count = 10;
  ASSERT_EQ(PrintFirstAckText(*slot, "text", 41, Plain()), 1);
  EXPECT_EQ(slot->relay_client.load(), 41);
  EXPECT_EQ(slot->pending_request_code.load(), 151);
  EXPECT_TRUE(slot->payment.amount1.empty());
  EXPECT_EQ(slot->customer_copy.count, 0);

  // The first print is done and its client closed; the next one finds the slot idle.
  slot->send_state = RelaySlot::kIdle;
  slot->payment.amount1.Set("9000");
  slot->pending_request_code = 0;
  ASSERT_EQ(PrintSecondAckFrame(*slot, "\x1c\x1ctext\x03", 42, Plain()), 1);
  EXPECT_EQ(slot->relay_client.load(), 42);
  EXPECT_EQ(slot->pending_request_code.load(), 0);
  EXPECT_TRUE(slot->payment.amount1.empty());
}

TEST(PrintEntriesTest, RefusesATextTooLongForAFrame) {
  auto slot = std::make_unique<RelaySlot>();
  // The body may hold 9,988 bytes: a four-digit length field of body + 11.
  const std::string fits(9988 - PrintMessageBody("").size() - 1, 'x');
  ASSERT_EQ(PrintPosRequestText(*slot, fits, Plain()), 1);
  EXPECT_EQ(ReadLengthField(SendBuffer(*slot)), 9999);

  slot = std::make_unique<RelaySlot>();
  EXPECT_EQ(PrintPosRequestText(*slot, fits + "x", Plain()), 0);
  EXPECT_EQ(PrintFirstAckText(*slot, std::string(39000, 'y'), 7, Plain()), 0);
  EXPECT_EQ(slot->byte_count.load(), 0);
  EXPECT_EQ(slot->send_state.load(), RelaySlot::kIdle);
}

TEST(PrintEntriesTest, NeverOverwritesAPendingRequest) {
  for (int32_t state : {RelaySlot::kWaiting, RelaySlot::kSent, RelaySlot::kSent + 3}) {
    SCOPED_TRACE(state);
    auto slot = std::make_unique<RelaySlot>();
    slot->send_buffer[0] = 'P';
    slot->byte_count = 1;
    slot->relay_client = 5;
    slot->payment.amount1.Set("9000");
    slot->send_state = state;
    EXPECT_EQ(PrintPosRequestText(*slot, "bill", Plain()), 0);
    EXPECT_EQ(PrintFirstAckText(*slot, "bill", 6, Plain()), 0);
    EXPECT_EQ(PrintSecondAckFrame(*slot,
                                  "\x1c\x1c"
                                  "bill\x03",
                                  7, Plain()),
              0);
    EXPECT_EQ(SendBuffer(*slot), "P");
    EXPECT_EQ(slot->relay_client.load(), 5);
    EXPECT_EQ(slot->payment.amount1.view(), "9000");
    EXPECT_EQ(slot->send_state.load(), state);
  }
}

TEST(PrintEntriesTest, PlacesTheCashReceiptForThePrintThatFollows) {
  auto slot = std::make_unique<RelaySlot>();
  slot->byte_count = 55;
  ASSERT_TRUE(PlaceCashReceipt(*slot, "receipt\n"));
  EXPECT_EQ(slot->byte_count.load(), 0);
  EXPECT_EQ(PlacedCashReceipt(*slot), "receipt\n");
  EXPECT_FALSE(PlaceCashReceipt(*slot, std::string(RelaySlot::kSendBufferSize, 'r')));
  EXPECT_EQ(PlacedCashReceipt(*slot), "receipt\n");
}

}  // namespace
}  // namespace hub::payments
