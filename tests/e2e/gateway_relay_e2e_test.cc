// The host program with the hub, a card terminal on a simulated serial line, the simulated
// gateway server and Helvar's stand-in, in one temporary prefix: a sale relayed to the server and
// recorded through Helvar, a cancellation kept while the server is down, and a barcode database
// downloaded in chunks with one repeat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "helvar/sqlite/local_stores.h"
#include "hub/core/frame.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/server_relay.h"
#include "platform/prefix.h"
#include "platform/testing/support.h"
#include "platform/text.h"
#include "tests/e2e/host_fixture.h"
#include "tools/gateway_server_sim.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using terminal_sim::Received;

constexpr int kTerminalCom = 3;

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
    HostTest::StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
                            "\nserver_address = 127.0.0.1\nserver_port = " +
                            std::to_string(server_->port(gateway_sim::PortKind::kPassThrough)) +
                            "\n",
                        {{hub::kSaleRelayPortVariable, sale_port}});
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
  EXPECT_TRUE(helvar::ReadUndeliveredFrames().empty());
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
  const std::vector<std::string> kept = helvar::ReadUndeliveredFrames();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0], forwarded);
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

}  // namespace
}  // namespace e2e
