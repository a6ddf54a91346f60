// The host program with the hub in a temporary prefix: notifications, Helvar requests, and the
// ways the host is stopped. Helvar is played by helvar_standin, found under the name "helvar".
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hub/core/helvar_bridge.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"
#include "platform/window.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::ChildProcess;

constexpr int kPatienceMs = 30000;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True once `file` contains `text`, within the patience.
bool WaitForText(const fs::path& file, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  while (ReadFile(file).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool WaitForNoHelvar() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  while (platform::FindWindowByTitle(protocol::kHelvarWindowTitle)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class HubHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    // Helvar's program, as the hub finds it by name: the stand-in under the name "helvar".
    fs::create_directories(helvar_dir_);
    fs::create_symlink(bin_ / "helvar_standin", helvar_dir_ / "helvar");
    // One serial terminal on COM40, which does not exist; the listeners are off.
    WriteSettings("terminal_count = 1\nterminal0_port = 40\n");
  }

  void TearDown() override {
    // A Helvar the hub started lives on its own; make sure it is gone.
    if (auto helvar = platform::FindWindowByTitle(protocol::kHelvarWindowTitle)) {
      platform::PostWindowMessage(*helvar, platform::kWmClose, 0, 0);
      WaitForNoHelvar();
    }
  }

  void WriteSettings(const std::string& text) {
    const fs::path install = prefix_.path() / "drive_c" / "tavenor";
    fs::create_directories(install);
    std::ofstream(install / "ordella_connmap.ini") << text;
  }

  std::unique_ptr<ChildProcess> StartHost(const std::vector<std::string>& args = {}) {
    return ChildProcess::Start(bin_ / "Ordella_VanExcute", args,
                               {{"ORDELLA_BIN_PATH", helvar_dir_.string()}});
  }

  platform::testing::TempPrefix prefix_;
  fs::path bin_ = platform::testing::BuildDir() / "bin";
  fs::path helvar_dir_ = prefix_.path() / "helvar_bin";
};

TEST_F(HubHostTest, MissingSerialPortIsReportedAndQuitStopsTheHost) {
  std::unique_ptr<ChildProcess> host = StartHost();
  ASSERT_NE(host, nullptr);
  EXPECT_TRUE(host->ReadLineWith("module started"));
  EXPECT_TRUE(host->ReadLineWith("notify code=1030 terminal=0 serial port failed to open"))
      << host->output();
  ASSERT_TRUE(host->WriteLine("send 843 0"));
  EXPECT_TRUE(host->ReadLineWith("massage code=843 parameter=0 result=0")) << host->output();
  ASSERT_TRUE(host->WriteLine("quit"));
  EXPECT_TRUE(host->ReadLineWith("module closed")) << host->output();
  EXPECT_EQ(host->Wait(kPatienceMs), 0);
}

TEST_F(HubHostTest, HelvarIsStartedForTheHostsRequestAndClosedWithTheModule) {
  ASSERT_FALSE(platform::FindWindowByTitle(protocol::kHelvarWindowTitle));
  std::unique_ptr<ChildProcess> host = StartHost();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(host->ReadLineWith("module started"));
  ASSERT_TRUE(host->WriteLine("helvar 300"));
  EXPECT_TRUE(host->ReadLineWith("massage code=2 parameter=300 result=1")) << host->output();
  const fs::path requests = prefix_.path() / "run" / "helvar_standin.log";
  EXPECT_TRUE(WaitForText(requests, "request code=300 wparam=300 payload=\n"))
      << ReadFile(requests);
  EXPECT_TRUE(platform::FindWindowByTitle(protocol::kHelvarWindowTitle));

  ASSERT_TRUE(host->WriteLine("quit"));
  EXPECT_EQ(host->Wait(kPatienceMs), 0) << host->output();
  EXPECT_TRUE(WaitForNoHelvar()) << "Helvar ends on UPDATE_ORDELLA_EVENT";
}

TEST_F(HubHostTest, HostStopsCleanlyOnEveryStopRequest) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    void (*stop)(ChildProcess& host);
  };
  const std::vector<Case> cases = {
      {"SIGTERM", {"--no-stdin"}, [](ChildProcess& host) { host.Signal(SIGTERM); }},
      {"SIGINT", {}, [](ChildProcess& host) { host.Signal(SIGINT); }},
      {"end of input", {}, [](ChildProcess& host) { host.CloseInput(); }},
      {"WM_CLOSE",
       {"--no-stdin"},
       [](ChildProcess&) {
         platform::PostWindowMessage(*platform::FindWindowByTitle("Ordella_VanExcute"),
                                     platform::kWmClose, 0, 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<ChildProcess> host = StartHost(c.args);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(host->ReadLineWith("notify code=1030")) << host->output();
    c.stop(*host);
    EXPECT_TRUE(host->ReadLineWith("module closed")) << host->output();
    EXPECT_EQ(host->Wait(kPatienceMs), 0);
  }
}

TEST_F(HubHostTest, HostEndsWithAnErrorWhenTheModuleDoesNotStart) {
  WriteSettings("terminal_count = 9\n");  // outside 0-3: the settings are refused
  std::unique_ptr<ChildProcess> host = StartHost();
  ASSERT_NE(host, nullptr);
  EXPECT_TRUE(host->ReadLineWith("CreateClientModule failed")) << host->output();
  EXPECT_EQ(host->Wait(kPatienceMs), 1);
}

TEST_F(HubHostTest, StandInAnswersThroughTheSharedBlock) {
  // The block as a terminal loop holds it.
  std::unique_ptr<hub::SharedBlock> loop = hub::SharedBlock::Open(hub::LogTarget{});
  ASSERT_NE(loop, nullptr);
  std::unique_ptr<ChildProcess> helvar =
      ChildProcess::Start(bin_ / "helvar_standin", {"--reply", "301", "301", "today's list"});
  ASSERT_NE(helvar, nullptr);
  ASSERT_TRUE(helvar->ReadLineWith("ready"));
  ASSERT_TRUE(platform::SendCopyData(*platform::FindWindowByTitle(protocol::kHelvarWindowTitle),
                                     301, 301, "", nullptr));

  std::string reply(hub::kTerminalReplyBuffer, '\0');
  int count = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  while ((count = loop->Read(1, reinterpret_cast<unsigned char*>(reply.data()),
                             hub::kTerminalReplyBuffer)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(reply.substr(0, static_cast<size_t>(count)), "today's list");
  platform::PostWindowMessage(*platform::FindWindowByTitle(protocol::kHelvarWindowTitle),
                              platform::kWmClose, 0, 0);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0);
}

}  // namespace
