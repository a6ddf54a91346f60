// The card-network library against the simulated cash-receipt server (every way the server can
// behave) and against a stand-in for the hub's POS port (card reads and card-network requests).
#include "companions/ediconn/ediconn.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "companions/ediconn/cash_protocol.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "protocol/frame.h"
#include "protocol/testing/cash_receipt_sim.h"
#include "protocol/testing/pos_port_standin.h"

namespace {

using gateway_sim::Behaviour;
using gateway_sim::CashVerdict;

// The thirteen texts after the address and port, as the hub passes them for a split approval.
const std::vector<std::string> kRequest = {
    "0200", "1234567890", "", "01012345678", "11000", "1000", "",
    "9000", "1000",       "00", "",          "",      "200"};

struct CashAnswerTexts {
  std::string code, message, approval;
};

CashAnswerTexts TakeCashAnswer(int* result) {
  std::array<char, kEdiCodeRoom> code;
  std::array<char, kEdiMessageRoom> message;
  std::array<char, kEdiApprovalRoom> approval;
  code.fill('?');
  message.fill('?');
  approval.fill('?');
  *result = EdiCashAnswer(code.data(), message.data(), approval.data());
  return {code.data(), message.data(), approval.data()};
}

int SendCashReceipt(const std::string& address, const std::string& port,
                    const std::vector<std::string>& t) {
  return EdiCashReceipt(address.c_str(), port.c_str(), t[0].c_str(), t[1].c_str(), t[2].c_str(),
                        t[3].c_str(), t[4].c_str(), t[5].c_str(), t[6].c_str(), t[7].c_str(),
                        t[8].c_str(), t[9].c_str(), t[10].c_str(), t[11].c_str(),
                        t[12].c_str());
}

class CashReceiptTest : public ::testing::Test {
 protected:
  // A short answer time-out set by one case must not hurry a slow server in another.
  void TearDown() override {
    platform::RegDeleteValue(ediconn::kSettingsKey, ediconn::kAnswerTimeoutValue);
  }
};

TEST_F(CashReceiptTest, EachWayTheServerBehavesGivesItsResultAndAnswer) {
  gateway_sim::CashAnswer approve;
  gateway_sim::CashAnswer decline;
  decline.verdict = CashVerdict::kDecline;
  gateway_sim::CashAnswer long_approval;
  long_approval.approval_number = std::string(40, '7');
  struct Case {
    const char* name;
    Behaviour behaviour;
    int delay_ms;
    gateway_sim::CashAnswer answer;
    int result;
    CashAnswerTexts expected;
    size_t recorded;
  };
  const Case cases[] = {
      {"approve", Behaviour::kAnswer, 0, approve, kEdiOk,
       {"0000", "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE", "123456789"}, 1},
      {"decline", Behaviour::kAnswer, 0, decline, kEdiOk,
       {"7001", "\xC7\xD1\xB5\xB5\xC3\xCA\xB0\xFA", ""}, 1},
      {"slow", Behaviour::kSlow, 300, approve, kEdiOk,
       {"0000", "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE", "123456789"}, 1},
      {"approval number cut to its room", Behaviour::kAnswer, 0, long_approval, kEdiOk,
       {"0000", "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE", std::string(kEdiApprovalRoom - 1, '7')}, 1},
      {"refused after the accept", Behaviour::kRefuse, 0, approve, kEdiNoAnswer, {}, 0},
      {"silent", Behaviour::kSilent, 0, approve, kEdiNoAnswer, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A silent server is given up after this answer time limit.
    ASSERT_EQ(platform::RegSetDword(ediconn::kSettingsKey, ediconn::kAnswerTimeoutValue,
                                    c.behaviour == Behaviour::kSilent ? 300 : 30000),
              platform::RegStatus::kOk);
    gateway_sim::CashServerOptions options;
    options.port.behaviour = c.behaviour;
    options.port.delay_ms = c.delay_ms;
    options.answer = c.answer;
    std::string error;
    auto server = gateway_sim::CashReceiptServerSimulator::Start(options, &error);
    ASSERT_NE(server, nullptr) << error;

    EXPECT_EQ(SendCashReceipt("127.0.0.1", server->port_text(), kRequest), c.result);
    int answered = -9;
    const CashAnswerTexts answer = TakeCashAnswer(&answered);
    EXPECT_EQ(answered, c.result == kEdiOk ? 1 : 0);
    EXPECT_EQ(answer.code, c.expected.code);
    EXPECT_EQ(answer.message, c.expected.message);
    EXPECT_EQ(answer.approval, c.expected.approval);

    const auto received = server->Received();
    ASSERT_EQ(received.size(), c.recorded);
    if (c.recorded == 1) {
      EXPECT_EQ(received[0], kRequest);
    }
  }
}

TEST_F(CashReceiptTest, NoServerAndBadArgumentsLeaveNoAnswer) {
  gateway_sim::CashServerOptions options;
  std::string error;
  auto server = gateway_sim::CashReceiptServerSimulator::Start(options, &error);
  ASSERT_NE(server, nullptr) << error;
  ASSERT_EQ(SendCashReceipt("127.0.0.1", server->port_text(), kRequest), kEdiOk);

  // A port nobody listens at: the connection is refused.
  std::string closed_port;
  {
    std::unique_ptr<platform::TcpListener> listener;
    ASSERT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
    closed_port = std::to_string(listener->port());
  }
  std::vector<std::string> too_long = kRequest;
  too_long[ediconn::kIdentification] = std::string(ediconn::kMaxText + 1, '1');
  struct Case {
    const char* name;
    std::string address, port;
    std::vector<std::string> texts;
    int result;
  };
  const Case cases[] = {
      {"nobody listening", "127.0.0.1", closed_port, kRequest, kEdiUnreachable},
      {"port 0", "127.0.0.1", "0", kRequest, kEdiBadArgument},
      {"port not a number", "127.0.0.1", "19000x", kRequest, kEdiBadArgument},
      {"text longer than the protocol carries", "127.0.0.1", server->port_text(), too_long,
       kEdiBadArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SendCashReceipt(c.address, c.port, c.texts), c.result);
    // The earlier approval is forgotten: a failed exchange hands out no answer.
    int answered = -9;
    const CashAnswerTexts answer = TakeCashAnswer(&answered);
    EXPECT_EQ(answered, 0);
    EXPECT_EQ(answer.code, "");
    EXPECT_EQ(answer.approval, "");
  }
  EXPECT_EQ(EdiCashReceipt("127.0.0.1", "19000", nullptr, "", "", "", "", "", "", "", "", "", "",
                           "", ""),
            kEdiBadArgument);
  EXPECT_EQ(server->Received().size(), 1u);
}

// --- The hub's POS port ----------------------------------------------------------------

using Answer30 = std::array<std::array<char, kEdiFieldRoom>, kEdiPosAnswerFields>;

int TakePosAnswer(Answer30* f) {
  for (auto& field : *f) field.fill('?');
  auto b = [&](size_t i) { return (*f)[i].data(); };
  return EdiPosAnswer(b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7), b(8), b(9), b(10), b(11),
                      b(12), b(13), b(14), b(15), b(16), b(17), b(18), b(19), b(20), b(21), b(22),
                      b(23), b(24), b(25), b(26), b(27), b(28), b(29));
}

// Helvar's cash-receipt cancellation: ordinal 1's 25 texts.
int SendCashCancellation(const std::string& port) {
  return EdiPosRequest("127.0.0.1", port.c_str(), "183", "9000", "1000", "1000", "01",
                       "20261210", "123456789", "01012345678", "", "", "", "", "", "", "", "",
                       "", "", "", "", "", "", "200");
}

class PosPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    hub_ = gateway_sim::PosPortStandIn::Start(&error);
    ASSERT_NE(hub_, nullptr) << error;
  }
  std::unique_ptr<gateway_sim::PosPortStandIn> hub_;
};

TEST_F(PosPortTest, ARequestGoesAsAGatewayFrameAndItsAnswerFieldsComeBack) {
  // The hub's cash-receipt answer: the answer code where other frames carry "TRM".
  std::vector<std::string_view> fields = {"T0001", "0000", "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE",
                                          "",      "01012345678", "987654321", "11000"};
  fields.resize(26, "");
  const std::string body = protocol::MessageBody(184, fields).value();
  hub_->SetAnswer(protocol::BuildFrame(body, protocol::LengthRule::kCashReceiptAnswer,
                                       protocol::kCashReceiptAnswerShape)
                      .value());

  ASSERT_EQ(SendCashCancellation(hub_->port_text()), kEdiOk);
  Answer30 answer;
  ASSERT_EQ(TakePosAnswer(&answer), 1);
  EXPECT_STREQ(answer[0].data(), "T0001");
  EXPECT_STREQ(answer[1].data(), "0000");
  EXPECT_STREQ(answer[2].data(), "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE");
  EXPECT_STREQ(answer[5].data(), "987654321");
  EXPECT_STREQ(answer[6].data(), "11000");
  EXPECT_STREQ(answer[29].data(), "");

  // The hub received a plain frame 183 with the texts 4 to 25 as its fields 1 to 22: 23 fields,
  // the program code in field 22.
  const std::vector<std::string> received = hub_->Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(protocol::MessageCode(received[0]), 183);
  const auto request = protocol::FrameFields<30>(received[0]);
  EXPECT_EQ(request.count, 23u);
  EXPECT_EQ(request[1], "9000");
  EXPECT_EQ(request[4], "01");
  EXPECT_EQ(request[5], "20261210");
  EXPECT_EQ(request[6], "123456789");
  EXPECT_EQ(request[7], "01012345678");
  EXPECT_EQ(request[22], "200");
}

TEST_F(PosPortTest, ACardReadGivesTheTrackOfTheTerminalsAnswer) {
  const std::string track = "9410123456785678=2812";
  const std::string prompt = "TRACK2";
  struct Case {
    const char* name;
    std::string answer;
    int result;
    std::string track;
  };
  const std::vector<std::string_view> card_fields = {"", "", track};
  const std::vector<std::string_view> refusal_fields = {"T0001", "9999", "REQUEST PENDING"};
  const Case cases[] = {
      {"card read", protocol::BuildMessage(12, card_fields).value(), kEdiOk, track},
      {"refused by the hub", protocol::BuildMessage(12, refusal_fields).value(), kEdiBadAnswer,
       ""},
      {"closed without an answer", "", kEdiNoAnswer, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    hub_->SetAnswer(c.answer);
    EXPECT_EQ(EdiReadCard("127.0.0.1", hub_->port_text().c_str(), "011", "2", prompt.c_str()),
              c.result);
    std::array<char, kEdiTrackRoom> kept;
    kept.fill('?');
    EXPECT_EQ(EdiCardTrack(kept.data()), c.result == kEdiOk ? 1 : 0);
    EXPECT_STREQ(kept.data(), c.track.c_str());
  }
  // Each read asked for request 011 with "2" and the prompt as its fields 1 and 2.
  const std::vector<std::string> received = hub_->Received();
  ASSERT_EQ(received.size(), 3u);
  const auto request = protocol::FrameFields<4>(received[0]);
  EXPECT_EQ(protocol::MessageCode(received[0]), 11);
  EXPECT_EQ(request[1], "2");
  EXPECT_EQ(request[2], prompt);

  // A request the hub closes without an answer leaves no answer fields.
  ASSERT_EQ(SendCashCancellation(hub_->port_text()), kEdiNoAnswer);
  Answer30 answer;
  EXPECT_EQ(TakePosAnswer(&answer), 0);
  EXPECT_STREQ(answer[1].data(), "");
}

}  // namespace
