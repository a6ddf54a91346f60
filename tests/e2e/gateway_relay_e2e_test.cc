// The host program with the hub, a card terminal on a simulated serial line, the simulated
// gateway server and Helvar's stand-in, in one temporary prefix: a sale relayed to the server and
// recorded through Helvar, a cancellation kept while the server is down, a barcode database
// downloaded in chunks with one repeat, and a terminal's sign-on registered with the server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stores/local_stores.h"
#include "protocol/frame.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/server_relay.h"
#include "hub/core/sign_on.h"
#include "platform/prefix.h"
#include "platform/testing/support.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "tests/e2e/host_fixture.h"
#include "protocol/testing/gateway_server_sim.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using terminal_sim::Received;

constexpr int kTerminalCom = 3;
constexpr char kTerminalId[] = "T0001";

// Message fields 1-20 of a terminal's sale without prescriptions and with one item.
std::vector<std::string> SaleFields(const std::string& answer) {
  std::vector<std::string> fields = {"01", answer, "T1", "0000012000", "0", ""};
  for (int n = 7; n <= 18; ++n) fields.push_back("f" + std::to_string(n));
  fields.push_back("1");
  fields.push_back(std::string(27, 'i') + "\x1D");
  return fields;
}

class GatewayRelayTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    std::string error;
    terminal_ = terminal_sim::TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
    server_ = gateway_sim::GatewayServerSimulator::Start({}, &error);
    ASSERT_NE(server_, nullptr) << error;
  }

  // Starts the host with the terminal on COM3 and the gateway server at `sale_port` for sales.
  void StartHost(const std::string& sale_port) {
    HostTest::StartHost(
        "terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
            "\nterminal0_id = " + kTerminalId + "\nserver_address = 127.0.0.1\nserver_port = " +
            std::to_string(server_->port(gateway_sim::PortKind::kPassThrough)) + "\n",
        {{hub::kSaleRelayPortVariable, sale_port},
         {hub::kRegistrationPortVariable,
          std::to_string(server_->port(gateway_sim::PortKind::kRegistration))}});
    // The hub purges its port when it opens it: talk once the terminal has been greeted.
    ASSERT_TRUE(terminal_->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  }

  // The Helvar request line the stand-in records for `code` and `payload`.
  static std::string HelvarLine(int code, const std::string& payload) {
    return "request code=" + std::to_string(code) + " wparam=" + std::to_string(code) +
           " payload=" + platform::ToHex(payload) + "\n";
  }

  // The next barcode chunk the terminal receives (the greeting and other frames skipped).
  std::optional<Received> NextChunk() {
    for (;;) {
      std::optional<Received> message = terminal_->Next(kPatienceMs);
      if (!message || message->kind == Received::Kind::kBarcodeChunk) return message;
    }
  }

  std::unique_ptr<terminal_sim::TerminalSimulator> terminal_;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> server_;
};

TEST_F(GatewayRelayTest, ASaleIsRelayedToTheServerAndRecordedThroughHelvar) {
  StartHost(std::to_string(server_->port(gateway_sim::PortKind::kSale)));
  const std::string sale = terminal_sim::TerminalFrame(812, SaleFields("0000")).value();
  ASSERT_TRUE(terminal_->Send(sale));

  std::string forwarded = sale;
  forwarded[2] = 'C';
  ASSERT_TRUE(server_->WaitForReceived(1, kPatienceMs)) << Diagnostics();
  EXPECT_EQ(server_->Received()[0].port, gateway_sim::PortKind::kSale);
  EXPECT_EQ(server_->Received()[0].bytes, forwarded);
  EXPECT_TRUE(WaitForText(helvar_log_, HelvarLine(800, hub::BuildSaleRecord(forwarded).value())))
      << platform::testing::ReadFile(helvar_log_);
  EXPECT_TRUE(stores::ReadUndeliveredFrames().empty());
}

TEST_F(GatewayRelayTest, ACancellationWhileTheServerIsDownIsKeptOnce) {
  // Nothing listens on the port the hub relays sales to.
  std::optional<int> closed_port;
  {
    gateway_sim::Options options;
    auto probe = gateway_sim::GatewayServerSimulator::Start(options, nullptr);
    ASSERT_NE(probe, nullptr);
    closed_port = probe->port(gateway_sim::PortKind::kSale);
  }
  StartHost(std::to_string(*closed_port));
  const std::string cancel = terminal_sim::TerminalFrame(883, SaleFields("0000")).value();
  ASSERT_TRUE(terminal_->Send(cancel));

  std::string forwarded = cancel;
  forwarded[2] = 'C';
  EXPECT_TRUE(WaitForText(helvar_log_, HelvarLine(860, hub::BuildSaleRecord(forwarded).value())))
      << platform::testing::ReadFile(helvar_log_) << host_->output();
  const std::vector<std::string> kept = stores::ReadUndeliveredFrames();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0], forwarded);
}

// The server comes back: the next sale it takes is followed by the cancellation kept while it
// was down, which then leaves the store.
TEST_F(GatewayRelayTest, AKeptCancellationIsSentAgainOnceTheServerAnswersAgain) {
  std::optional<int> closed_port;
  {
    auto probe = gateway_sim::GatewayServerSimulator::Start({}, nullptr);
    ASSERT_NE(probe, nullptr);
    closed_port = probe->port(gateway_sim::PortKind::kSale);
  }
  StartHost(std::to_string(*closed_port));
  const std::string cancel = terminal_sim::TerminalFrame(883, SaleFields("0000")).value();
  ASSERT_TRUE(terminal_->Send(cancel));
  std::string kept = cancel;
  kept[2] = 'C';
  ASSERT_TRUE(platform::testing::Eventually(
      [] { return stores::ReadUndeliveredFrames().size() == 1; }))
      << host_->output();

  gateway_sim::Options options;
  options.sale.port = *closed_port;
  std::string error;
  auto back = gateway_sim::GatewayServerSimulator::Start(options, &error);
  ASSERT_NE(back, nullptr) << error;
  const std::string sale = terminal_sim::TerminalFrame(812, SaleFields("0000")).value();
  ASSERT_TRUE(terminal_->Send(sale));
  std::string forwarded = sale;
  forwarded[2] = 'C';
  ASSERT_TRUE(back->WaitForReceived(2, kPatienceMs)) << Diagnostics();
  EXPECT_EQ(back->Received()[0].bytes, forwarded);
  EXPECT_EQ(back->Received()[1].bytes, kept);
  EXPECT_TRUE(platform::testing::Eventually([] { return stores::ReadUndeliveredFrames().empty(); }))
      << Diagnostics();
}

TEST_F(GatewayRelayTest, TheBarcodeDatabaseReachesTheTerminalByteForByteDespiteARepeat) {
  std::string file(50000, '\0');
  for (size_t n = 0; n < file.size(); ++n) file[n] = static_cast<char>((n * 131) ^ (n >> 8));
  const fs::path path = platform::MapPath("c:\\tavenor\\BarcodeDB700.db").value();
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << file;
  StartHost(std::to_string(server_->port(gateway_sim::PortKind::kSale)));

  std::string assembled;
  int expected_chunk = 1;
  for (const char* control : {"BDB", "BDB", "NACK", "BDB"}) {
    ASSERT_TRUE(terminal_->SendFrame(1, {control})) << control;
    const std::optional<Received> chunk = NextChunk();
    ASSERT_TRUE(chunk.has_value()) << control << host_->output();
    EXPECT_EQ(chunk->check, "ok");
    if (std::string_view(control) == "NACK") {
      // The repeat replaces the chunk taken before it.
      EXPECT_EQ(chunk->chunk_number, expected_chunk - 1);
      assembled.resize(assembled.size() - chunk->chunk_data.size());
    } else {
      EXPECT_EQ(chunk->chunk_number, expected_chunk++);
    }
    assembled += chunk->chunk_data;
  }
  EXPECT_EQ(assembled.size(), file.size());
  EXPECT_TRUE(assembled == file);

  ASSERT_TRUE(terminal_->SendFrame(818, {}));
  EXPECT_TRUE(host_->ReadLineWith("notify code=982 terminal=0", kPatienceMs)) << host_->output();
}

TEST_F(GatewayRelayTest, ASignOnIsRegisteredAndATerminalBehindTheServerIsAnswered840) {
  gateway_sim::Options options;
  options.terminal_version = "V2503";
  server_ = gateway_sim::GatewayServerSimulator::Start(options, nullptr);
  ASSERT_NE(server_, nullptr);
  StartHost(std::to_string(server_->port(gateway_sim::PortKind::kSale)));
  std::vector<std::string> fields;
  for (int n = 1; n <= 21; ++n) fields.push_back("f" + std::to_string(n));
  fields[9] = "V2501";
  ASSERT_TRUE(terminal_->SendFrame(842, fields));

  ASSERT_TRUE(server_->WaitForReceived(1, kPatienceMs)) << Diagnostics();
  const gateway_sim::ReceivedRequest registration = server_->Received()[0];
  EXPECT_EQ(registration.port, gateway_sim::PortKind::kRegistration);
  const auto sent = protocol::FrameFields<hub::kRegistrationFields + 1>(registration.bytes);
  EXPECT_EQ(registration.bytes.substr(protocol::kServerCodeOffset, 3), "851");
  EXPECT_EQ(sent[hub::kRegTerminalId], kTerminalId);
  EXPECT_EQ(sent[hub::kRegTerminalField10], "V2501");
  EXPECT_EQ(sent[hub::kRegTerminalField21], "f21");
  EXPECT_EQ(sent[hub::kRegPortText], "C03");
  EXPECT_EQ(sent[hub::kRegAdapterAddress],
            hub::AdapterAddressText(platform::FirstAdapterAddress()));
  EXPECT_EQ(sent[hub::kRegHostVersion],
            hub::HostVersionText(platform::FileVersion((bin_ / "Ordella_VanExcute").string())));
  EXPECT_TRUE(terminal_->NextFrame(840, kPatienceMs).has_value()) << Diagnostics();
  // The first sign-on of the day also starts the day's barcode database rebuild.
  EXPECT_TRUE(host_->ReadLineWith("notify code=981 terminal=0", kPatienceMs)) << host_->output();
  EXPECT_TRUE(WaitForText(helvar_log_, HelvarLine(700, ""))) << platform::testing::ReadFile(helvar_log_);
}

}  // namespace
}  // namespace e2e
