#include "companions/tavenorvan/tavenor_van.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "companions/tavenorvan/van_link.h"
#include "platform/testing/support.h"
#include "protocol/testing/gateway_server_sim.h"

namespace tavenor_van {
namespace {

using gateway_sim::Behaviour;
using gateway_sim::PortKind;

std::string Message(std::string_view payload) { return EncodeMessage(payload).value(); }

TEST(VanFramerTest, WholeMessagesAreTakenAndEverythingElseDropped) {
  struct Case {
    const char* name;
    std::vector<std::string> feeds;
    std::vector<std::string> messages;
    size_t dropped;
  };
  const std::string hello = Message("HELLO");
  const std::string empty = Message("");
  const Case cases[] = {
      {"whole", {hello}, {hello}, 0},
      {"in pieces", {hello.substr(0, 3), hello.substr(3, 4), hello.substr(7)}, {hello}, 0},
      {"two at once", {hello + empty}, {hello, empty}, 0},
      {"noise before", {"xyz" + hello}, {hello}, 3},
      {"length that is no number", {std::string("\x01") + "00a5HELLO\x04" + hello}, {hello}, 11},
      {"wrong end byte", {std::string("\x01") + "0002AB!" + hello}, {hello}, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Framer framer;
    std::vector<std::string> messages;
    for (const std::string& feed : c.feeds) {
      framer.Feed(feed);
      while (std::optional<std::string> message = framer.Next()) messages.push_back(*message);
    }
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(framer.dropped(), c.dropped);
    EXPECT_EQ(framer.held(), 0u);
  }
  EXPECT_EQ(PayloadOf(hello), std::optional<std::string_view>("HELLO"));
  EXPECT_EQ(PayloadOf(hello.substr(1)), std::nullopt);
  EXPECT_EQ(EncodeMessage(std::string(kMaxPayload + 1, 'x')), std::nullopt);
}

// What the module wrote to its terminal.
struct TerminalSide {
  std::mutex mutex;
  std::string written;

  static int32_t Write(void* port, const unsigned char* bytes, int32_t length) {
    auto* self = static_cast<TerminalSide*>(port);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->written.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    return length;
  }
  std::string Written() {
    std::lock_guard<std::mutex> lock(mutex);
    return written;
  }
};

class VanModuleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (handle_ > 0) {
      EXPECT_EQ(CloseVanPort(handle_), 1);
    }
    unsetenv(kServerPortVariable);
  }

  void Start(Behaviour behaviour) {
    gateway_sim::Options options;
    options.van_link.behaviour = behaviour;
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    setenv(kServerPortVariable, std::to_string(sim_->port(PortKind::kVanLink)).c_str(), 1);
    handle_ = CreateVanModule(&record_, 1);
    ASSERT_GT(handle_, 0);
  }

  int32_t Send(std::string_view bytes) {
    return SendProtocal(handle_, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int32_t>(bytes.size()));
  }

  TerminalSide terminal_;
  VanTerminalPort record_{1, &terminal_, &TerminalSide::Write};
  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
  int32_t handle_ = 0;
};

TEST_F(VanModuleTest, AMessageGoesToTheServerAndItsAnswerToTheTerminal) {
  Start(Behaviour::kAnswer);
  const std::string message = Message("PAY 1000");
  EXPECT_EQ(GetVanState(handle_), kIdle);
  EXPECT_EQ(Send(message.substr(0, 4)), 4);
  EXPECT_EQ(GetVanState(handle_), kIdle);  // a partial message is no exchange yet
  EXPECT_EQ(Send(message.substr(4)), static_cast<int32_t>(message.size() - 4));
  EXPECT_EQ(GetVanState(handle_), kExchanging);

  const std::string answer = Message("ANSPAY 1000");
  ASSERT_TRUE(platform::testing::Eventually([&] { return terminal_.Written() == answer; }));
  ASSERT_TRUE(platform::testing::Eventually([&] { return GetVanState(handle_) == kIdle; }));
  ASSERT_EQ(sim_->Received().size(), 1u);
  EXPECT_EQ(sim_->Received()[0].port, PortKind::kVanLink);
  EXPECT_EQ(sim_->Received()[0].bytes, message);
}

TEST_F(VanModuleTest, AnExchangeIsReportedEvenWhenItEndsBeforeAnyoneLooks) {
  Start(Behaviour::kAnswer);
  ASSERT_EQ(Send(Message("QUICK")), 11);
  ASSERT_TRUE(platform::testing::Eventually([&] { return !terminal_.Written().empty(); }));
  ASSERT_TRUE(platform::testing::Eventually([&] { return sim_->Received().size() == 1; }));
  EXPECT_EQ(GetVanState(handle_), kExchanging);  // finished, but not yet seen
  EXPECT_EQ(GetVanState(handle_), kIdle);
}

TEST_F(VanModuleTest, AClearedPartialMessageIsNeverSent) {
  Start(Behaviour::kAnswer);
  const std::string message = Message("HALF");
  ASSERT_EQ(Send(message.substr(0, 5)), 5);
  EXPECT_EQ(SendClearBuffer(handle_), 1);
  ASSERT_EQ(Send(message.substr(5)), static_cast<int32_t>(message.size() - 5));
  ASSERT_EQ(Send(Message("NEXT")), 10);  // the next whole message still goes
  ASSERT_TRUE(platform::testing::Eventually([&] { return sim_->Received().size() == 1; }));
  EXPECT_EQ(sim_->Received()[0].bytes, Message("NEXT"));
}

TEST_F(VanModuleTest, AServerThatClosesWithoutAnswerDropsTheMessageAndTheStateReturnsToIdle) {
  Start(Behaviour::kRefuse);
  ASSERT_EQ(Send(Message("LOST")), 10);
  EXPECT_EQ(GetVanState(handle_), kExchanging);
  ASSERT_TRUE(platform::testing::Eventually([&] { return GetVanState(handle_) == kIdle; }));
  EXPECT_EQ(terminal_.Written(), "");
}

TEST_F(VanModuleTest, ClosingDuringAnExchangeGivesItUpAndWritesNothing) {
  Start(Behaviour::kSilent);
  ASSERT_EQ(Send(Message("WAIT")), 10);
  ASSERT_TRUE(platform::testing::Eventually([&] { return sim_->Received().size() == 1; }));
  EXPECT_EQ(CloseVanPort(handle_), 1);
  const int32_t closed = handle_;
  handle_ = 0;
  EXPECT_EQ(terminal_.Written(), "");
  EXPECT_EQ(GetVanState(closed), -1);
}

TEST(VanModuleEntryTest, BadArgumentsAndUnknownHandlesAreRefused) {
  EXPECT_EQ(CreateVanModule(nullptr, 0), 0);
  VanTerminalPort no_writer{0, nullptr, nullptr};
  EXPECT_EQ(CreateVanModule(&no_writer, 0), 0);
  EXPECT_EQ(SendProtocal(12345, nullptr, 0), -1);
  EXPECT_EQ(SendClearBuffer(12345), -1);
  EXPECT_EQ(GetVanState(12345), -1);
  EXPECT_EQ(CloseVanPort(12345), -1);
}

}  // namespace
}  // namespace tavenor_van
