// The host program with the hub, a card terminal on a simulated serial line that plays the card
// side of a payment, the simulated gateway server's VAN approval service reached through the
// sign-pad module library, and a POS client, in one temporary prefix: a split payment printed in
// two copies and answered after the second, a payment whose card is read first, a cancellation,
// a decline, and a customer copy the terminal refuses.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "companions/kiccpad/kicc_protocol.h"
#include "hub/core/pos_request.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/testing/support.h"
#include "protocol/frame.h"
#include "protocol/testing/gateway_server_sim.h"
#include "tests/e2e/host_fixture.h"
#include "tools/pos_client.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using pos_client::Connection;
using terminal_sim::Received;
using terminal_sim::TerminalSimulator;

constexpr int kTerminalCom = 5;
constexpr char kTerminalId[] = "T0001";
// Card data as the POS side reads it: track 2, 37 characters.
constexpr char kTrack[] = "9410123456785678=25121011234567890123";
constexpr char kCardNumber[] = "9410123456785678";

uint16_t FreePort() {
  std::unique_ptr<platform::TcpListener> listener;
  EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
  return listener ? listener->port() : 0;
}

std::string Utf8(std::string_view cp949) { return platform::Cp949ToUtf8(cp949).value_or(""); }

class CardPaymentTest : public HostTest {
 protected:
  void SetUp() override { HostTest::SetUp(); }

  // The VAN service answering as `verdict`, the terminal answering prints as `prints`, and the
  // host with the second copy flag `second_copy`.
  // Payment path 2 (the sign-pad objects) instead, when `signpad` is given: the network's
  // verdict on the request packet; the terminal then sends its signature as an "SM" block.
  void Start(gateway_sim::VanVerdict verdict, TerminalSimulator::PrintAnswer prints,
             bool second_copy, std::string card_data = kTrack,
             std::optional<bool> signpad = std::nullopt) {
    std::string error;
    gateway_sim::Options options;
    options.van_answer.verdict = verdict;
    if (signpad) options.signpad_answer.approve = *signpad;
    server_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(server_, nullptr) << error;
    ASSERT_EQ(platform::RegSetString(kicc::kSettingsKey, kicc::kPortValue,
                                     std::to_string(server_->port(gateway_sim::PortKind::kVan))),
              platform::RegStatus::kOk);
    ASSERT_TRUE(server_->PointSignPadObjectsHere());
    terminal_ = TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
    terminal_->AnswerRelayedRequests(TerminalSimulator::RelayAnswer::kAck);
    terminal_->AnswerPrints(prints);
    terminal_->PlayCard({.card_data = std::move(card_data), .with_image = signpad.has_value()});
    settings_ = "terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
                "\nterminal0_id = " + kTerminalId + "\npos_listener_port = " +
                std::to_string(pos_port_) + "\nserver_address = 127.0.0.1\nprogram_index = 1\n" +
                "payment_path = " + (signpad ? "2" : "0") +
                "\nsecond_receipt_copy = " + (second_copy ? "1" : "0") +
                "\ntrade_name = Ordella Pharmacy\nowner_name = Kim\n";
    StartGreetedHost();
  }

  void StartGreetedHost() {
    StartHost(settings_);
    // The hub purges its port when it opens it: talk once the terminal has been greeted.
    ASSERT_TRUE(terminal_->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  }

  std::unique_ptr<Connection> Connect() {
    std::unique_ptr<Connection> client;
    EXPECT_TRUE(platform::testing::Eventually([&] {
      client = Connection::Open(pos_port_, kPatienceMs, nullptr);
      return client != nullptr;
    })) << Diagnostics();
    return client;
  }

  // The approval requests the VAN service has received (its confirmations left out).
  size_t ApprovalRequests() const {
    size_t count = 0;
    for (const gateway_sim::ReceivedRequest& request : server_->Received()) {
      if (request.bytes.size() > kicc::kMagic.size() &&
          request.bytes[kicc::kMagic.size()] ==
              static_cast<char>(kicc::MessageKind::kApprovalRequest)) {
        ++count;
      }
    }
    return count;
  }

  // Sends a POS request and returns what came back before the hub closed the connection.
  std::string Pay(int code, const std::vector<std::string>& fields) {
    std::unique_ptr<Connection> client = Connect();
    if (client == nullptr) return {};
    EXPECT_TRUE(client->Send(pos_client::RequestFrame(code, fields).value()));
    std::string answer;
    EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();
    return answer;
  }

  // The next message the terminal receives, skipping nothing: it must be frame `code`.
  Received AwaitFrame(int code) {
    std::optional<Received> message = terminal_->Next(kPatienceMs);
    EXPECT_TRUE(message.has_value()) << Diagnostics();
    if (!message) return {};
    EXPECT_EQ(message->code, code) << terminal_sim::Describe(*message);
    return *message;
  }

  // The next print the terminal receives (its signature frame skipped), as readable text.
  std::string AwaitPrint() {
    for (;;) {
      std::optional<Received> message = terminal_->Next(kPatienceMs);
      EXPECT_TRUE(message.has_value()) << Diagnostics();
      if (!message) return {};
      if (message->kind == Received::Kind::kSignature) continue;
      const std::optional<std::string> text = terminal_sim::PrintText(*message);
      EXPECT_TRUE(text.has_value()) << terminal_sim::Describe(*message);
      return text ? terminal_sim::RenderPrint(*text) : std::string();
    }
  }

  // Card numbers and track data appear nowhere in the prefix's files (logs, journal).
  void ExpectNoCardDataKept() {
    const std::string files = platform::testing::ReadFilesBelow(prefix_.path());
    EXPECT_EQ(files.find(kCardNumber), std::string::npos);
    EXPECT_EQ(files.find("=2512101"), std::string::npos);
  }

  const uint16_t pos_port_ = FreePort();
  std::string settings_;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> server_;
  std::unique_ptr<TerminalSimulator> terminal_;
};

pos_client::Answer Decoded(const std::string& bytes) { return pos_client::DecodeAnswer(bytes); }

TEST_F(CardPaymentTest, ASplitPaymentIsPrintedTwiceAndAnsweredAfterTheMerchantCopy) {
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kPrinted, true);
  const std::string answer =
      Pay(61, {"9000", "1000", "1000", "3", "", "", "", "", "", kTrack});

  // The card was given: the total is asked for at once.
  const Received total = AwaitFrame(41);
  EXPECT_EQ(total.fields, (std::vector<std::string>{"", "11000", ""}));
  const std::string customer = AwaitPrint();
  EXPECT_NE(customer.find("[ 회원용 ]"), std::string::npos) << customer;
  EXPECT_NE(customer.find("11,000원"), std::string::npos) << customer;
  EXPECT_NE(customer.find("9410-12**-****-5678"), std::string::npos) << customer;
  // The merchant copy was printed before the answer came (the answer follows its 152).
  const std::string merchant = AwaitPrint();
  EXPECT_NE(merchant.find("[가맹점용]"), std::string::npos) << merchant;

  const pos_client::Answer decoded = Decoded(answer);
  ASSERT_EQ(decoded.kind, pos_client::Answer::Kind::kFrame) << pos_client::DescribeAnswer(decoded);
  EXPECT_EQ(decoded.code, 62);
  EXPECT_EQ(decoded.check, "none");
  EXPECT_EQ(decoded.length_field, static_cast<int>(answer.size()) - 11);
  ASSERT_EQ(decoded.fields.size(), 32u);  // fields 1-32
  EXPECT_EQ(decoded.fields[0], kTerminalId);
  EXPECT_EQ(decoded.fields[1], "0000");
  EXPECT_EQ(decoded.fields[5], "30012345");
  EXPECT_EQ(decoded.fields[6], "11000");
  for (size_t n = 10; n < 32; ++n) EXPECT_EQ(decoded.fields[n], "") << n;
  EXPECT_TRUE(host_->ReadLineWith("notify code=951 terminal=0 ", kPatienceMs)) << Diagnostics();
  ExpectNoCardDataKept();
}

TEST_F(CardPaymentTest, APaymentWithoutCardDataReadsTheCardFirst) {
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kPrinted, false);
  const std::string answer = Pay(51, {"5000", "", "500", "", "", "", "", "", "", ""});
  EXPECT_EQ(AwaitFrame(11).fields, (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(AwaitFrame(41).fields, (std::vector<std::string>{"", "5500", ""}));
  const std::string customer = AwaitPrint();
  EXPECT_NE(customer.find("[ 회원용 ]"), std::string::npos) << customer;
  const pos_client::Answer decoded = Decoded(answer);
  EXPECT_EQ(decoded.code, 52) << pos_client::DescribeAnswer(decoded);
  ASSERT_EQ(decoded.fields.size(), 32u);
  EXPECT_EQ(decoded.fields[1], "0000");
  EXPECT_EQ(decoded.fields[6], "5500");
  // The card the terminal read went to the VAN service.
  ASSERT_TRUE(server_->WaitForReceived(1, kPatienceMs));
  const std::string request = server_->Received()[0].bytes.substr(kicc::kHeaderSize);
  EXPECT_EQ(kicc::FieldOf(request, kicc::kCardData), kTrack);
  ExpectNoCardDataKept();
}

TEST_F(CardPaymentTest, ACancellationCarriesItsOriginalTransaction) {
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kPrinted, false);
  const std::string answer =
      Pay(71, {"5000", "", "0", "", "251209", "30012345", "", "", "", kTrack});
  AwaitFrame(41);
  const std::string customer = AwaitPrint();
  EXPECT_NE(customer.find("[신용취소]"), std::string::npos) << customer;
  EXPECT_NE(customer.find("원 거래 일자 : 2025/12/09"), std::string::npos) << customer;
  EXPECT_NE(customer.find("-5,000원"), std::string::npos) << customer;
  EXPECT_EQ(Decoded(answer).code, 72) << pos_client::DescribeAnswer(Decoded(answer));
  ASSERT_TRUE(server_->WaitForReceived(1, kPatienceMs));
  const std::string request = server_->Received()[0].bytes.substr(kicc::kHeaderSize);
  EXPECT_EQ(kicc::FieldOf(request, kicc::kRequestKind), "D4");
  EXPECT_EQ(kicc::FieldOf(request, kicc::kOriginalDate), "251209");
  EXPECT_EQ(kicc::FieldOf(request, kicc::kOriginalApproval), "30012345    ");
}

TEST_F(CardPaymentTest, ADeclineIsAnsweredAtOnceAndNothingIsPrinted) {
  Start(gateway_sim::VanVerdict::kDecline, TerminalSimulator::PrintAnswer::kPrinted, true);
  const pos_client::Answer decoded =
      Decoded(Pay(51, {"5000", "", "500", "", "", "", "", "", "", kTrack}));
  ASSERT_EQ(decoded.fields.size(), 32u) << pos_client::DescribeAnswer(decoded);
  EXPECT_EQ(decoded.code, 52);
  EXPECT_EQ(decoded.fields[1], "8037");
  EXPECT_EQ(Utf8(decoded.fields[2]), "LIMIT EXCEEDED");
  AwaitFrame(41);
  // Nothing was printed: the next thing the terminal receives is the next request's. The slot
  // turns idle just after the connection closed, so a request sent at once may still find it
  // taken.
  EXPECT_TRUE(platform::testing::Eventually([&] {
    return Pay(151, {"after the decline"}).find(hub::kRefusedPending) == std::string::npos;
  })) << Diagnostics();
  const std::string print = AwaitPrint();
  EXPECT_NE(print.find("after the decline"), std::string::npos) << print;
}

TEST_F(CardPaymentTest, ARefusedCustomerCopyClosesThePosClientWithoutAnAnswer) {
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kNak, true);
  EXPECT_EQ(Pay(61, {"9000", "1000", "1000", "3", "", "", "", "", "", kTrack}), "");
  AwaitFrame(41);
  EXPECT_NE(AwaitPrint().find("[ 회원용 ]"), std::string::npos);
  EXPECT_TRUE(host_->ReadLineWith("notify code=900 terminal=0 ", kPatienceMs)) << Diagnostics();
}

// The host dies after the network approved and before the till heard: the journal keeps the
// approval, the staff's command lists it, and the till's repeat gets it without a second charge.
TEST_F(CardPaymentTest, AnApprovalACrashLeftUnansweredIsAnsweredFromTheJournalOnTheRepeat) {
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kSilent, false);
  const std::vector<std::string> fields = {"9000", "1000", "1000", "3", "", "", "", "", "", kTrack};
  std::unique_ptr<Connection> till = Connect();
  ASSERT_NE(till, nullptr);
  ASSERT_TRUE(till->Send(pos_client::RequestFrame(61, fields).value()));
  AwaitFrame(41);
  EXPECT_NE(AwaitPrint().find("[ 회원용 ]"), std::string::npos);  // approved, printing
  host_->Kill();
  std::string nothing;
  EXPECT_TRUE(till->ReceiveUntilClosed(kPatienceMs, &nothing));
  EXPECT_EQ(nothing, "");

  const std::unique_ptr<ChildProcess> journal = ChildProcess::Start(bin_ / "ordella_journal", {"list"});
  ASSERT_NE(journal, nullptr);
  EXPECT_TRUE(journal->ReadLineWith("approved", kPatienceMs)) << journal->output();
  EXPECT_NE(journal->output().find("30012345"), std::string::npos) << journal->output();
  EXPECT_EQ(journal->Wait(kPatienceMs), 0) << journal->output();

  terminal_->AnswerPrints(TerminalSimulator::PrintAnswer::kPrinted);
  StartGreetedHost();
  EXPECT_TRUE(host_->ReadLineWith("notify code=1040 ", kPatienceMs)) << Diagnostics();
  const pos_client::Answer repeat = Decoded(Pay(61, fields));
  ASSERT_EQ(repeat.fields.size(), 32u) << pos_client::DescribeAnswer(repeat);
  EXPECT_EQ(repeat.code, 62);
  EXPECT_EQ(repeat.fields[1], "0000");
  EXPECT_EQ(repeat.fields[5], "30012345");
  EXPECT_EQ(ApprovalRequests(), 1u);
  ExpectNoCardDataKept();
}

// Payment path 2: the terminal's "SM" signature goes with the request packet through the
// sign-pad objects to their network; an approval prints and is answered like the module path's,
// a decline is answered at once with "9999" and nothing printed.
TEST_F(CardPaymentTest, OnPaymentPathTwoTheSignPadObjectsApproveAndDecline) {
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kPrinted, false,
        kTrack, /*signpad=*/true);
  const std::string answer = Pay(61, {"9000", "1000", "1000", "3", "", "", "", "", "", kTrack});
  AwaitFrame(41);
  EXPECT_NE(AwaitPrint().find("[ 회원용 ]"), std::string::npos);
  const pos_client::Answer approved = Decoded(answer);
  ASSERT_EQ(approved.fields.size(), 32u) << pos_client::DescribeAnswer(approved);
  EXPECT_EQ(approved.code, 62);
  EXPECT_EQ(approved.fields[1], "0000");
  EXPECT_EQ(approved.fields[5], "30012345");
  EXPECT_EQ(approved.fields[6], "11000");
  EXPECT_EQ(ApprovalRequests(), 0u);  // the sign-pad module's network was not asked
  ExpectNoCardDataKept();

  host_->Kill();
  terminal_.reset();
  server_.reset();
  Start(gateway_sim::VanVerdict::kApprove, TerminalSimulator::PrintAnswer::kPrinted, false,
        kTrack, /*signpad=*/false);
  const pos_client::Answer declined =
      Decoded(Pay(51, {"5000", "", "500", "", "", "", "", "", "", kTrack}));
  ASSERT_EQ(declined.fields.size(), 32u) << pos_client::DescribeAnswer(declined);
  EXPECT_EQ(declined.code, 52);
  EXPECT_EQ(declined.fields[1], "9999");
  AwaitFrame(41);
  EXPECT_TRUE(platform::testing::Eventually([&] {
    return Pay(151, {"after the decline"}).find(hub::kRefusedPending) == std::string::npos;
  })) << Diagnostics();
  EXPECT_NE(AwaitPrint().find("after the decline"), std::string::npos);
}

}  // namespace
}  // namespace e2e
