// The card-network library as Helvar binds it, against a stand-in for the hub's POS port: a
// cash-receipt cancellation's request as the hub receives it and the answer's code and message
// as the cancellation sees them; a card read; what a failed exchange gives.
#include "helvar/card_network_binding.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/testing/pos_port_standin.h"

namespace helvar {
namespace {

using protocol::kFs;

// A sale record with fields F0-F15 as given, joined by FS.
std::string SaleRecord(std::map<size_t, std::string> fields) {
  std::string record;
  for (size_t i = 0; i < 16; ++i) record += (i == 0 ? "" : std::string(1, kFs)) + fields[i];
  return record + kFs;
}

// The hub's answer to a cash-receipt request: the answer code where other frames carry "TRM".
std::string CashAnswer(std::string_view code, std::string_view message) {
  std::vector<std::string_view> fields = {"T0001", code, message, "", "01012345678", "", "2270"};
  fields.resize(26, "");
  return protocol::BuildFrame(protocol::MessageBody(184, fields).value(),
                              protocol::LengthRule::kCashReceiptAnswer,
                              protocol::kCashReceiptAnswerShape)
      .value();
}

class CardNetworkBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    hub_ = gateway_sim::PosPortStandIn::Start(&error);
    ASSERT_NE(hub_, nullptr) << error;
    binding_ = CEdiconnBinding::Load();
    ASSERT_NE(binding_, nullptr);
  }

  std::unique_ptr<gateway_sim::PosPortStandIn> hub_;
  std::unique_ptr<CEdiconnBinding> binding_;
};

TEST_F(CardNetworkBindingTest, ACashReceiptCancellationReachesTheHubAndItsAnswerComesBack) {
  const std::string record = SaleRecord({{4, "01012345678"}, {5, "A200"}, {6, "1500"},
                                         {7, "700"}, {8, "70"}, {14, "131220153000"},
                                         {15, "H"}});
  CardRequest request = CancelRequestTexts(record, "").value();
  request[1] = hub_->port_text();  // the stand-in's port in place of the hub's

  struct Case {
    const char* name;
    std::string answer;
    std::optional<CardNetworkAnswer> expected;
  };
  const Case cases[] = {
      {"approved", CashAnswer("0000", "OK"), CardNetworkAnswer{"0000", "OK"}},
      {"declined", CashAnswer("7001", "LIMIT"), CardNetworkAnswer{"7001", "LIMIT"}},
      {"closed without an answer", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    hub_->SetAnswer(c.answer);
    const std::optional<CardNetworkAnswer> answer = binding_->Exchange(request);
    ASSERT_EQ(answer.has_value(), c.expected.has_value());
    if (answer) {
      EXPECT_EQ(answer->code, c.expected->code);
      EXPECT_EQ(answer->message, c.expected->message);
    }
  }

  // The hub was asked 183 with the amounts, usage "01", date, approval number and identity as
  // fields 1 to 7 and the program code as field 22 (of 23).
  const std::vector<std::string> received = hub_->Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(protocol::MessageCode(received[0]), 183);
  const auto fields = protocol::FrameFields<30>(received[0]);
  EXPECT_EQ(fields.count, 23u);
  const std::vector<std::string_view> first_seven(fields.slot.begin() + 1,
                                                  fields.slot.begin() + 8);
  EXPECT_EQ(first_seven, (std::vector<std::string_view>{"1500", "700", "70", "01", "20131220",
                                                        "A200", "01012345678"}));
  EXPECT_EQ(fields[22], "200");
}

TEST_F(CardNetworkBindingTest, ACardReadGivesTheTrackTheTerminalSent) {
  const std::vector<std::string_view> card = {"", "", "9410123456789012=2512"};
  hub_->SetAnswer(protocol::BuildMessage(12, card).value());
  EXPECT_EQ(binding_->ReadCardTrack("127.0.0.1", hub_->port_text(), "PROMPT"),
            "9410123456789012=2512");

  hub_->SetAnswer("");
  EXPECT_EQ(binding_->ReadCardTrack("127.0.0.1", hub_->port_text(), "PROMPT"), std::nullopt);

  const std::vector<std::string> received = hub_->Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(protocol::MessageCode(received[0]), 11);
  const auto fields = protocol::FrameFields<4>(received[0]);
  EXPECT_EQ(fields[1], "2");
  EXPECT_EQ(fields[2], "PROMPT");
}

}  // namespace
}  // namespace helvar
