// The host program with the hub in a temporary prefix: notifications, Helvar requests, and the
// ways the host is stopped. Helvar is played by helvar_standin, found under the name "helvar".
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "hub/core/helvar_bridge.h"
#include "platform/testing/support.h"
#include "platform/window.h"
#include "tests/e2e/host_fixture.h"

namespace e2e {
namespace {

class HubHostTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    // One serial terminal on COM40, which does not exist; the listeners are off.
    WriteSettings("terminal_count = 1\nterminal0_port = 40\n");
  }
};

TEST_F(HubHostTest, MissingSerialPortIsReportedAndQuitStopsTheHost) {
  std::unique_ptr<ChildProcess> host = LaunchHost();
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
  ASSERT_FALSE(platform::FindWindowByTitle(hub::kHelvarWindowTitle));
  std::unique_ptr<ChildProcess> host = LaunchHost();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(host->ReadLineWith("module started"));
  ASSERT_TRUE(host->WriteLine("helvar 300"));
  EXPECT_TRUE(host->ReadLineWith("massage code=2 parameter=300 result=1")) << host->output();
  EXPECT_TRUE(WaitForText(helvar_log_, "request code=300 wparam=300 payload=\n"))
      << platform::testing::ReadFile(helvar_log_);
  EXPECT_TRUE(platform::FindWindowByTitle(hub::kHelvarWindowTitle));

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
         platform::PostWindowMessage(*platform::FindWindowByTitle("Ordella_VanExcute"), kWmClose, 0,
                                     0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<ChildProcess> host = LaunchHost(c.args);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(host->ReadLineWith("notify code=1030")) << host->output();
    c.stop(*host);
    EXPECT_TRUE(host->ReadLineWith("module closed")) << host->output();
    EXPECT_EQ(host->Wait(kPatienceMs), 0);
  }
}

TEST_F(HubHostTest, HostEndsWithAnErrorWhenTheModuleDoesNotStart) {
  WriteSettings("terminal_count = 9\n");  // outside 0-3: the settings are refused
  std::unique_ptr<ChildProcess> host = LaunchHost();
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
  ASSERT_TRUE(platform::SendCopyData(*platform::FindWindowByTitle(hub::kHelvarWindowTitle), 301,
                                     301, "", nullptr));

  std::string reply(hub::kTerminalReplyBuffer, '\0');
  int count = 0;
  EXPECT_TRUE(platform::testing::Eventually(
      [&] {
        count = loop->Read(1, reinterpret_cast<unsigned char*>(reply.data()),
                           hub::kTerminalReplyBuffer);
        return count != 0;
      },
      std::chrono::milliseconds(kPatienceMs)));
  EXPECT_EQ(reply.substr(0, static_cast<size_t>(count)), "today's list");
  platform::PostWindowMessage(*platform::FindWindowByTitle(hub::kHelvarWindowTitle), kWmClose, 0,
                              0);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0);
}

}  // namespace
}  // namespace e2e
