// The host program with the hub and a card terminal on a simulated serial line, in a temporary
// prefix: the greeting, BUSY resends, a port that is missing or lost, and a frame the host asks
// the hub to send.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/host_fixture.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using terminal_sim::Received;
using terminal_sim::TerminalSimulator;

constexpr int kTerminalCom = 3;
// Longer than the hub's 2.5 s of silence before it greets, and its 300 ms BUSY pause.
constexpr int kGreetingSilenceWaitMs = 4000;
constexpr int kBusyWaitMs = 1500;

class TerminalLinkTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    std::string error;
    terminal_ = TerminalSimulator::Create(kTerminalCom, &error);
    ASSERT_NE(terminal_, nullptr) << error;
  }

  void StartHostWithTerminal() {
    StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) + "\n");
  }

  // The greeting the hub sends a terminal that stays silent after the port opens.
  Received AwaitGreeting() {
    std::optional<Received> greeting = terminal_->Next(kPatienceMs);
    EXPECT_TRUE(greeting.has_value()) << host_->output();
    if (!greeting) return {};
    EXPECT_EQ(terminal_sim::Describe(*greeting),
              "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||");
    return *greeting;
  }

  void StopHost() {
    ASSERT_TRUE(host_->WriteLine("quit"));
    EXPECT_EQ(host_->Wait(kPatienceMs), 0) << host_->output();
  }

  std::unique_ptr<TerminalSimulator> terminal_;
};

TEST_F(TerminalLinkTest, ASilentTerminalIsGreetedOnceAndGetsTheFramesTheHostAsksFor) {
  StartHostWithTerminal();
  AwaitGreeting();
  std::optional<Received> more = terminal_->Next(kGreetingSilenceWaitMs);
  EXPECT_FALSE(more.has_value()) << terminal_sim::Describe(*more);

  ASSERT_TRUE(host_->WriteLine("send 843 0"));
  const std::optional<Received> frame = terminal_->Next(kPatienceMs);
  ASSERT_TRUE(frame.has_value()) << host_->output();
  EXPECT_EQ(terminal_sim::Describe(*frame),
            "frame 843 prefix=yes length=39 check=ok fields=5 ||00|00|00");
  StopHost();
}

TEST_F(TerminalLinkTest, BusyAnswersMakeTheHubResendItsLastFrameFourTimes) {
  StartHostWithTerminal();
  const Received greeting = AwaitGreeting();
  for (int resend = 1; resend <= 4; ++resend) {
    ASSERT_TRUE(terminal_->SendBusy());
    const std::optional<Received> again = terminal_->Next(kPatienceMs);
    ASSERT_TRUE(again.has_value()) << "resend " << resend;
    EXPECT_EQ(again->bytes, greeting.bytes) << "resend " << resend;
  }
  ASSERT_TRUE(terminal_->SendBusy());  // the fifth is not answered
  std::optional<Received> more = terminal_->Next(kBusyWaitMs);
  EXPECT_FALSE(more.has_value()) << terminal_sim::Describe(*more);
  StopHost();
}

TEST_F(TerminalLinkTest, AMissingPortAndALostPortAreReportedForTheirTerminals) {
  // Terminal 0 is the simulated one; terminal 1's COM41 does not exist.
  StartHost("terminal_count = 2\nterminal0_port = " + std::to_string(kTerminalCom) +
            "\nterminal1_port = 41\n");
  AwaitGreeting();
  EXPECT_TRUE(host_->ReadLineWith("notify code=1030 terminal=1 ", kPatienceMs)) << host_->output();

  terminal_->LosePort();
  EXPECT_TRUE(host_->ReadLineWith("notify code=99999 terminal=0 ", kPatienceMs)) << host_->output();
  StopHost();
}

}  // namespace
}  // namespace e2e
