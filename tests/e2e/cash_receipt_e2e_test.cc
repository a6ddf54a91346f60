// Cash receipts from end to end: the host program with the hub, a card terminal on a simulated
// serial line, the simulated cash-receipt server and a POS client, in one temporary prefix. The
// hub exchanges the request with the server through the card-network library it loads by name
// and answers the POS client: at once under a pharmacy program that prints its own receipts,
// after the terminal has printed the receipt under any other. And Helvar's cancellation of a
// cash receipt at the card network, which reaches the hub's POS port through the same library.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "companions/ediconn/cash_protocol.h"
#include "companions/kiccpad/kicc_protocol.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "hub/core/server_relay.h"
#include "platform/testing/support.h"
#include "protocol/testing/cash_receipt_sim.h"
#include "protocol/testing/gateway_server_sim.h"
#include "tests/e2e/host_fixture.h"
#include "tests/fixtures/fixture.h"
#include "tools/pos_client.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using gateway_sim::Behaviour;
using pos_client::Connection;
using terminal_sim::TerminalSimulator;

constexpr int kTerminalCom = 5;

uint16_t FreePort() {
  std::unique_ptr<platform::TcpListener> listener;
  EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
  return listener ? listener->port() : 0;
}

std::string Cp(const std::string& utf8) { return pos_client::TextArgument(utf8).value(); }

class CashReceiptTest : public HostTest {
 protected:
  // The hub with terminal 0 on the simulated line, under pharmacy program `program_index`, and
  // the cash-receipt server behaving as asked.
  void Start(int program_index, Behaviour behaviour = Behaviour::kAnswer) {
    gateway_sim::CashServerOptions options;
    options.port.behaviour = behaviour;
    std::string error;
    cash_server_ = gateway_sim::CashReceiptServerSimulator::Start(options, &error);
    ASSERT_NE(cash_server_, nullptr) << error;
    ASSERT_EQ(platform::RegSetString(ediconn::kTavenorKey, ediconn::kCashServerAddressValue,
                                     "127.0.0.1"),
              platform::RegStatus::kOk);
    ASSERT_EQ(platform::RegSetString(ediconn::kTavenorKey, ediconn::kCashServerPortValue,
                                     cash_server_->port_text()),
              platform::RegStatus::kOk);
    terminal_ = TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
    terminal_->AnswerRelayedRequests(TerminalSimulator::RelayAnswer::kAck);
    HostTest::StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
                        "\nterminal0_id = T0001\npos_listener_port = " +
                        std::to_string(pos_port_) +
                        "\nfirst_ack_listener_port = 0000\nsecond_ack_listener_port = 0000\n"
                        "program_index = " + std::to_string(program_index) +
                        "\nbusiness_number = 1234567890\n");
    ASSERT_TRUE(terminal_->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  }

  // Sends request `code` with fields 1 on and returns what came back before the hub closed the
  // connection, decoded.
  pos_client::Answer Request(int code, const std::vector<std::string>& fields) {
    std::unique_ptr<Connection> client;
    EXPECT_TRUE(platform::testing::Eventually([&] {
      client = Connection::Open(pos_port_, kPatienceMs, nullptr);
      return client != nullptr;
    })) << Diagnostics();
    if (client == nullptr) return {};
    EXPECT_TRUE(client->Send(pos_client::RequestFrame(code, fields).value()));
    std::string answer;
    EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();
    return pos_client::DecodeAnswer(answer);
  }

  const uint16_t pos_port_ = FreePort();
  std::unique_ptr<gateway_sim::CashReceiptServerSimulator> cash_server_;
  std::unique_ptr<TerminalSimulator> terminal_;
};

const std::vector<std::string> kFields = {"9000", "1000", "1000", "01", "", "", "01012345678"};

// The answer's fields 1 to 7, then the 19 empty ones.
std::vector<std::string> AnswerFields(const std::vector<std::string>& first_seven) {
  std::vector<std::string> fields = first_seven;
  fields.resize(26, "");
  return fields;
}

TEST_F(CashReceiptTest, ApprovalsAreAnsweredAtOnceWhenTheProgramPrintsItsOwnReceipts) {
  Start(/*program_index=*/1);
  struct Case {
    int code;
    int answer_code;
    std::string amount1, amount2;  // as the server receives them
  };
  const Case cases[] = {{181, 182, "9000", "1000"}, {161, 162, "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const pos_client::Answer answer = Request(c.code, kFields);
    ASSERT_EQ(answer.kind, pos_client::Answer::Kind::kFrame)
        << pos_client::DescribeAnswer(answer) << Diagnostics();
    EXPECT_EQ(answer.code, c.answer_code);
    EXPECT_FALSE(answer.type_field);  // the code stands where "TRM" would
    EXPECT_EQ(answer.check, "none");
    EXPECT_EQ(answer.fields, AnswerFields({"T0001", "0000", Cp("정상승인"), "", "01012345678",
                                           "123456789", "11000"}));
    ASSERT_TRUE(cash_server_->WaitForReceived(1, kPatienceMs));
    const std::vector<std::string> sent = cash_server_->Received().back();
    EXPECT_EQ(sent, (std::vector<std::string>{"0200", "1234567890", "", "01012345678", "11000",
                                              "1000", "", c.amount1, c.amount2, "00", "", "",
                                              ""}));
  }
  EXPECT_EQ(cash_server_->Received().size(), 2u);
  // Nothing was printed: the next thing the terminal sees is no print.
  EXPECT_EQ(terminal_->NextFrame(151, 0), std::nullopt);
}

TEST_F(CashReceiptTest, AServerThatCannotBeReachedIsAnsweredWith9999) {
  Start(/*program_index=*/3, Behaviour::kRefuse);
  const pos_client::Answer answer = Request(181, kFields);
  ASSERT_EQ(answer.kind, pos_client::Answer::Kind::kFrame)
        << pos_client::DescribeAnswer(answer) << Diagnostics();
  EXPECT_EQ(answer.code, 182);
  EXPECT_EQ(answer.fields, AnswerFields({"T0001", "9999", Cp("현금영수증 서버 접속 실패"), "",
                                         "01012345678", "", "11000"}));
  EXPECT_EQ(terminal_->NextFrame(151, 0), std::nullopt);
}

// Under a program that prints, the answer waits for the terminal's 152: the terminal answer
// handler sends the kept answer once the print is done.
TEST_F(CashReceiptTest, AnApprovalIsPrintedAndAnsweredOnceTheTerminalHasPrinted) {
  Start(/*program_index=*/3);
  std::unique_ptr<Connection> client;
  ASSERT_TRUE(platform::testing::Eventually([&] {
    client = Connection::Open(pos_port_, kPatienceMs, nullptr);
    return client != nullptr;
  })) << Diagnostics();
  ASSERT_TRUE(client->Send(pos_client::RequestFrame(161, kFields).value()));

  const std::optional<terminal_sim::Received> print = terminal_->NextFrame(151, kPatienceMs);
  ASSERT_TRUE(print.has_value()) << Diagnostics();
  const std::string paper = terminal_sim::RenderPrint(terminal_sim::PrintText(*print).value());
  EXPECT_NE(paper.find("거 래  금 액 : **       10,000원**"), std::string::npos) << paper;
  EXPECT_NE(paper.find("승 인  번 호 : **123456789**"), std::string::npos) << paper;
  EXPECT_EQ(client->Receive(1, 0), "");  // the answer waits for the print

  ASSERT_TRUE(terminal_->SendFrame(152, {}));
  std::string bytes;
  ASSERT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &bytes)) << Diagnostics();
  const pos_client::Answer answer = pos_client::DecodeAnswer(bytes);
  EXPECT_EQ(answer.code, 162);
  EXPECT_EQ(answer.fields, AnswerFields({"T0001", "0000", Cp("정상승인"), "", "01012345678",
                                         "123456789", "11000"}));
}

// Helvar, for real, cancels a cash receipt that the terminal's cancellation (883) names: the
// card-network library takes the cancellation to the hub's POS port (127.0.0.1:9988, where
// Helvar always finds it), the hub exchanges it with the cash-receipt server through the same
// library and answers at once, and Helvar shows the outcome on the terminal (157).
class CashCancellationTest : public HostTest {
 protected:
  CashCancellationTest() : HostTest("helvar") {}

  void SetUp() override {
    HostTest::SetUp();
    LayPharmacy();
    std::string error;

    cash_server_ = gateway_sim::CashReceiptServerSimulator::Start({}, &error);
    ASSERT_NE(cash_server_, nullptr) << error;
    ASSERT_EQ(platform::RegSetString(ediconn::kTavenorKey, ediconn::kCashServerPortValue,
                                     cash_server_->port_text()),
              platform::RegStatus::kOk);
    gateway_ = gateway_sim::GatewayServerSimulator::Start({}, &error);
    ASSERT_NE(gateway_, nullptr) << error;
    terminal_ = TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
    HostTest::StartHost(
        "terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
            "\nterminal0_id = T0001\npos_listener_port = 9988\nfirst_ack_listener_port = 0000"
            "\nsecond_ack_listener_port = 0000\nprogram_index = 1"
            "\nbusiness_number = 1234567890\nserver_address = 127.0.0.1\nserver_port = " +
            std::to_string(gateway_->port(gateway_sim::PortKind::kPassThrough)) + "\n",
        {{hub::kSaleRelayPortVariable,
          std::to_string(gateway_->port(gateway_sim::PortKind::kSale))}});
    ASSERT_TRUE(terminal_->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  }

  std::unique_ptr<gateway_sim::CashReceiptServerSimulator> cash_server_;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> gateway_;
  std::unique_ptr<TerminalSimulator> terminal_;
};

TEST_F(CashCancellationTest, ACashReceiptIsCancelledAtTheServerAndTheTerminalIsTold) {
  // Message fields 1-20 of the terminal's cancellation: identity (7), approval number (8), the
  // prescription amount, the amount over the counter and its tax (9-11), the approval date of
  // the cancelled sale (17), payment kind "H" (18), no items.
  std::vector<std::string> fields(20, "");
  fields[0] = "01";
  fields[1] = "0000";
  fields[4] = "0";
  fields[6] = "01012345678";
  fields[7] = "A200";
  fields[8] = "1500";
  fields[9] = "700";
  fields[10] = "70";
  fields[16] = "131220153000";
  fields[17] = "H";
  fields[18] = "0";
  ASSERT_TRUE(terminal_->SendFrame(883, fields));

  ASSERT_TRUE(cash_server_->WaitForReceived(1, kPatienceMs)) << Diagnostics();
  EXPECT_EQ(cash_server_->Received()[0],
            (std::vector<std::string>{"0210", "1234567890", "", "01012345678", "2270", "70", "",
                                      "1500", "700", "00", "A200", "20131220", "200"}));
  const std::optional<terminal_sim::Received> told = terminal_->NextFrame(157, kPatienceMs);
  ASSERT_TRUE(told.has_value()) << Diagnostics();
  ASSERT_GE(told->fields.size(), 2u);
  std::string shown = told->fields[1];
  shown.erase(std::remove(shown.begin(), shown.end(), ' '), shown.end());
  EXPECT_EQ(shown, Cp("현금영수증취소승인성공"));
}

// A card payment named by the terminal's cancellation (883, kind "C") is cancelled at the card
// network the same way: the library has the hub read the card (011 -> 012) and sends the
// cancellation 063 to the hub's POS port; the hub takes it to terminal 0 (041 -> 042), has it
// approved by the VAN service and prints the cancellation receipt.
TEST_F(CashCancellationTest, ACardPaymentIsCancelledThroughTheHubsCardPayment) {
  ASSERT_EQ(platform::RegSetString(kicc::kSettingsKey, kicc::kPortValue,
                                   std::to_string(gateway_->port(gateway_sim::PortKind::kVan))),
            platform::RegStatus::kOk);
  terminal_->AnswerRelayedRequests(TerminalSimulator::RelayAnswer::kAck);
  terminal_->AnswerPrints(TerminalSimulator::PrintAnswer::kPrinted);
  terminal_->PlayCard({.card_data = "9410123456785678=25121011234567890123"});
  std::vector<std::string> fields(20, "");
  fields[0] = "01";
  fields[1] = "0000";
  fields[4] = "0";
  fields[7] = "30012345";
  fields[8] = "1500";
  fields[9] = "700";
  fields[10] = "70";
  fields[16] = "131220153000";
  fields[17] = "C";
  fields[18] = "0";
  ASSERT_TRUE(terminal_->SendFrame(883, fields));

  ASSERT_TRUE(terminal_->NextFrame(41, kPatienceMs).has_value()) << Diagnostics();
  std::string request;
  ASSERT_TRUE(platform::testing::Eventually([&] {
    for (const gateway_sim::ReceivedRequest& received : gateway_->Received()) {
      if (received.port == gateway_sim::PortKind::kVan) request = received.bytes;
    }
    return request.size() > kicc::kHeaderSize;
  })) << Diagnostics();
  request = request.substr(kicc::kHeaderSize);
  EXPECT_EQ(kicc::FieldOf(request, kicc::kRequestKind), "D4");
  EXPECT_EQ(kicc::FieldOf(request, kicc::kOriginalApproval), "30012345    ");
}

}  // namespace
}  // namespace e2e
