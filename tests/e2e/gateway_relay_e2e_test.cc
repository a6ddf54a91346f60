// The host program with the hub, a card terminal on a simulated serial line, the simulated
// gateway server and Helvar's stand-in, in one temporary prefix: a sale relayed to the server and
// recorded through Helvar, a cancellation kept while the server is down, a barcode database
// downloaded in chunks with one repeat, and a terminal's sign-on registered with the server.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helvar/sqlite/local_stores.h"
#include "hub/core/frame.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/server_relay.h"
#include "hub/core/sign_on.h"
#include "platform/prefix.h"
#include "platform/system_info.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tools/gateway_server_sim.h"
#include "tools/terminal_sim.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::ChildProcess;
using terminal_sim::Received;

constexpr int kPatienceMs = 30000;
constexpr int kTerminalCom = 3;
constexpr char kTerminalId[] = "T0001";
constexpr uint32_t kWmClose = 0x0010;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WaitForText(const fs::path& path, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  while (ReadFile(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Message fields 1-20 of a terminal's sale without prescriptions and with one item.
std::vector<std::string> SaleFields(const std::string& answer) {
  std::vector<std::string> fields = {"01", answer, "T1", "0000012000", "0", ""};
  for (int n = 7; n <= 18; ++n) fields.push_back("f" + std::to_string(n));
  fields.push_back("1");
  fields.push_back(std::string(27, 'i') + "\x1D");
  return fields;
}

class GatewayRelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    fs::create_directories(helvar_dir_);
    fs::create_symlink(bin_ / "helvar_standin", helvar_dir_ / "helvar");
    std::string error;
    terminal_ = terminal_sim::TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
    server_ = gateway_sim::GatewayServerSimulator::Start({}, &error);
    ASSERT_NE(server_, nullptr) << error;
  }

  void TearDown() override {
    if (host_ != nullptr) {
      host_->WriteLine("quit");
      EXPECT_EQ(host_->Wait(kPatienceMs), 0) << host_->output();
    }
    if (auto helvar = platform::FindWindowByTitle(hub::kHelvarWindowTitle)) {
      platform::PostWindowMessage(*helvar, kWmClose, 0, 0);
    }
  }

  // Starts the host with the terminal on COM3 and the gateway server at `sale_port` for sales.
  void StartHost(const std::string& sale_port) {
    const fs::path install = prefix_.path() / "drive_c" / "tavenor";
    fs::create_directories(install);
    std::ofstream(install / "ordella_connmap.ini")
        << "terminal_count = 1\nterminal0_port = " << kTerminalCom
        << "\nterminal0_id = " << kTerminalId << "\nserver_address = 127.0.0.1\nserver_port = "
        << server_->port(gateway_sim::PortKind::kPassThrough) << "\n";
    host_ = ChildProcess::Start(
        bin_ / "Ordella_VanExcute", {},
        {{"ORDELLA_BIN_PATH", helvar_dir_.string()},
         {hub::kSaleRelayPortVariable, sale_port},
         {hub::kRegistrationPortVariable,
          std::to_string(server_->port(gateway_sim::PortKind::kRegistration))}});
    ASSERT_NE(host_, nullptr);
    ASSERT_TRUE(host_->ReadLineWith("module started", kPatienceMs)) << host_->output();
    // The hub purges its port when it opens it: talk once the terminal has been greeted.
    ASSERT_TRUE(terminal_->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  }

  // The hub's diagnostic log and the host's output, for failure messages.
  std::string Diagnostics() {
    std::string all = host_ != nullptr ? host_->output() : std::string();
    return all + platform::testing::ReadFilesBelow(prefix_.path() / "drive_c" / "tavenor" / "Log");
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

  platform::testing::TempPrefix prefix_;
  fs::path bin_ = platform::testing::BuildDir() / "bin";
  fs::path helvar_dir_ = prefix_.path() / "helvar_bin";
  fs::path helvar_log_ = prefix_.path() / "run" / "helvar_standin.log";
  std::unique_ptr<terminal_sim::TerminalSimulator> terminal_;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> server_;
  std::unique_ptr<ChildProcess> host_;
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
      << ReadFile(helvar_log_);
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
      << ReadFile(helvar_log_) << host_->output();
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
  const auto sent = hub::FrameFields<hub::kRegistrationFields + 1>(registration.bytes);
  EXPECT_EQ(registration.bytes.substr(hub::kServerCodeOffset, 3), "851");
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
  EXPECT_TRUE(WaitForText(helvar_log_, HelvarLine(700, ""))) << ReadFile(helvar_log_);
}

}  // namespace
