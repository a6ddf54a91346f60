// The host program with the hub, a card terminal on a simulated serial line and POS clients on
// the hub's local ports, in one temporary prefix: a bill printed with its header rewritten, a
// request in two segments handled once, a print acknowledged before it is printed, text that is
// no request, a second request while one is pending, and a request the terminal refuses.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hub/core/pos_request.h"
#include "platform/socket.h"
#include "platform/testing/support.h"
#include "tests/e2e/host_fixture.h"
#include "tools/pos_client.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using pos_client::Connection;
using terminal_sim::Received;
using terminal_sim::TerminalSimulator;

constexpr int kTerminalCom = 4;

// A port that is free now (the system picks it; the hub takes it again moments later).
uint16_t FreePort() {
  std::unique_ptr<platform::TcpListener> listener;
  EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
  return listener ? listener->port() : 0;
}

std::string Cp(const std::string& utf8) { return pos_client::TextArgument(utf8).value(); }

class PosListenerTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    std::string error;
    terminal_ = TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
    HostTest::StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
                        "\npos_listener_port = " + std::to_string(pos_port_) +
                        "\nfirst_ack_listener_port = " + std::to_string(ack_port_) +
                        "\nsecond_ack_listener_port = 0000\nprogram_index = 0\n"
                        "convert_print_text = 1\nbusiness_number = 1234567890\n"
                        "trade_name = Ordella Pharmacy\nowner_name = Kim\n");
    // The hub purges its port when it opens it: talk once the terminal has been greeted.
    ASSERT_TRUE(terminal_->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  }

  // A client connected to `port`, once the hub listens there.
  std::unique_ptr<Connection> Connect(uint16_t port) {
    std::unique_ptr<Connection> connection;
    EXPECT_TRUE(platform::testing::Eventually([&] {
      connection = Connection::Open(port, kPatienceMs, nullptr);
      return connection != nullptr;
    })) << Diagnostics();
    return connection;
  }

  // The next message the terminal receives, which must be frame `code`.
  Received AwaitFrame(int code) {
    std::optional<Received> message = terminal_->Next(kPatienceMs);
    EXPECT_TRUE(message.has_value()) << Diagnostics();
    if (!message) return {};
    EXPECT_EQ(message->code, code) << terminal_sim::Describe(*message);
    return *message;
  }

  // The terminal ends the relayed request (message 2): the hub closes the client, no answer.
  void EndRelayedRequest(Connection& client) {
    ASSERT_TRUE(terminal_->SendFrame(2, {}));
    std::string answer;
    EXPECT_TRUE(client.ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();
    EXPECT_EQ(answer, "");
  }

  const uint16_t pos_port_ = FreePort();
  const uint16_t ack_port_ = FreePort();
  std::unique_ptr<TerminalSimulator> terminal_;
};

TEST_F(PosListenerTest, ABillInTwoSegmentsIsPrintedOnceWithItsHeaderRewritten) {
  terminal_->AnswerRelayedRequests(TerminalSimulator::RelayAnswer::kAck);
  const std::string bill =
      Cp("약제비 계산서\n상      호 : 옛약국\n사업자등록번호 : 999\n성      명 : 박\n"
         "사업장소재지 : 서울");
  std::unique_ptr<Connection> client = Connect(pos_port_);
  ASSERT_TRUE(client->Send(pos_client::RequestFrame(151, {bill}).value(), 2, 300));

  const Received print = AwaitFrame(151);
  EXPECT_TRUE(print.routing_prefix);
  EXPECT_EQ(print.check, "ok");
  const std::string paper = terminal_sim::RenderPrint(terminal_sim::PrintText(print).value());
  EXPECT_EQ(paper,
            "약제비 계산서\n<RS>17사업자번호 : 1234567890    \n상      호 : Ordella Pharmacy\n"
            "성      명 : Kim \n   <US>\n사업장소재지 : 서울\n\n");
  EXPECT_TRUE(host_->ReadLineWith("notify code=951 terminal=0 ", kPatienceMs)) << Diagnostics();
  EXPECT_EQ(client->Receive(1, 0), "");  // waits for the terminal, no answer yet
  EndRelayedRequest(*client);

  // Handled once: the next frame the terminal gets is the next request's.
  std::unique_ptr<Connection> next = Connect(pos_port_);
  ASSERT_TRUE(next->Send(pos_client::RequestFrame(843, {"", "", "01", "02", "03"}).value()));
  EXPECT_EQ(terminal_sim::Describe(AwaitFrame(843)),
            "frame 843 prefix=yes length=25 check=ok fields=5 ||01|02|03");
  EndRelayedRequest(*next);
}

TEST_F(PosListenerTest, APrintToTheFirstAckPortIsAcknowledgedBeforeItIsPrinted) {
  std::unique_ptr<Connection> client = Connect(ack_port_);
  ASSERT_TRUE(client->Send(Cp("영수증\r\n합계 1,000")));
  EXPECT_EQ(client->Receive(3, kPatienceMs), "\x06\x06\x06") << Diagnostics();
  const Received print = AwaitFrame(151);
  EXPECT_EQ(terminal_sim::RenderPrint(terminal_sim::PrintText(print).value()),
            "영수증\n합계 1,000");
  ASSERT_TRUE(terminal_->SendAck());
  EndRelayedRequest(*client);
}

TEST_F(PosListenerTest, BadInputASecondRequestAndATerminalRefusalEachEndTheirClient) {
  // Text that is no request: closed without an answer, nothing reaches the terminal.
  std::unique_ptr<Connection> busy = Connect(pos_port_);
  ASSERT_TRUE(busy->Send("BUSY"));
  std::string answer;
  EXPECT_TRUE(busy->ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();
  EXPECT_EQ(answer, "");

  // A request the terminal holds (no answer yet), and a second one meanwhile: refused at once.
  std::unique_ptr<Connection> first = Connect(pos_port_);
  ASSERT_TRUE(first->Send(pos_client::RequestFrame(157, {"", "", "shown"}).value()));
  AwaitFrame(157);
  std::unique_ptr<Connection> second = Connect(pos_port_);
  ASSERT_TRUE(second->Send(pos_client::RequestFrame(843, {"", "", "1"}).value()));
  ASSERT_TRUE(second->ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();
  const pos_client::Answer refusal = pos_client::DecodeAnswer(answer);
  EXPECT_EQ(pos_client::DescribeAnswer(refusal),
            "answer 844 type=TRM length=36 check=ok fields=3\n  field 1: \n  field 2: 9999\n"
            "  field 3: REQUEST PENDING");

  // The terminal refuses the first: notification 900, its client closed without an answer.
  ASSERT_TRUE(terminal_->SendNak());
  EXPECT_TRUE(host_->ReadLineWith("notify code=900 terminal=0 ", kPatienceMs)) << Diagnostics();
  EXPECT_TRUE(first->ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();
  EXPECT_EQ(answer, "");
}

}  // namespace
}  // namespace e2e
