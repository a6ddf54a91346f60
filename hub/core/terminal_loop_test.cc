#include "hub/core/terminal_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "companions/util/ordella_util.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/module_state.h"
#include "hub/core/relay_slot.h"
#include "hub/core/terminal_port.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Notification = std::pair<uint32_t, int64_t>;

constexpr int kPatienceMs = 10000;
constexpr int kVanHandle = 77;

// A VAN module whose state follows a script (one value per GetVanState call, the last one
// repeated) and which records what it is given.
struct FakeVan {
  std::vector<int32_t> states;
  size_t next_state = 0;
  std::string protocol_bytes;
  int clear_calls = 0;
  int close_calls = 0;
  void* created_with = nullptr;
  int32_t created_path = -1;
};
FakeVan* g_van = nullptr;

int32_t FakeCreate(void* port, int32_t path) {
  g_van->created_with = port;
  g_van->created_path = path;
  return kVanHandle;
}
int32_t FakeSendProtocal(int32_t van, const unsigned char* bytes, int32_t count) {
  EXPECT_EQ(van, kVanHandle);
  g_van->protocol_bytes.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
  return 0;
}
int32_t FakeClose(int32_t van) {
  EXPECT_EQ(van, kVanHandle);
  return ++g_van->close_calls;
}
int32_t FakeClear(int32_t van) {
  EXPECT_EQ(van, kVanHandle);
  return ++g_van->clear_calls;
}
int32_t FakeState(int32_t van) {
  EXPECT_EQ(van, kVanHandle);
  if (g_van->states.empty()) return 0;
  const size_t at = std::min(g_van->next_state++, g_van->states.size() - 1);
  return g_van->states[at];
}
constexpr VanEntryPoints kFakeVanEntries{&FakeCreate, &FakeSendProtocal, &FakeClose, &FakeClear,
                                         &FakeState};

// Frames the dispatcher was given, and what it answers.
std::vector<std::string>* g_dispatched = nullptr;
int g_dispatch_result = kDispatchDone;
int RecordingDispatch(TerminalContext&, MessageRecord& record) {
  EXPECT_EQ(record.state, MessageRecord::kComplete);
  g_dispatched->push_back(record.frame);
  return g_dispatch_result;
}

std::string Frame(int code, std::vector<std::string_view> fields) {
  return BuildMessage(code, fields).value();
}

// One serial terminal on a pseudo-terminal (COM5), its port at terminal index `index`, and a
// loop driven cycle by cycle with a fake VAN module and a manual clock.
class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(0); }
  void TearDown() override {
    loop_.reset();
    g_van = nullptr;
    g_dispatched = nullptr;
    g_dispatch_result = kDispatchDone;
  }

  void Start(int index, const VanEntryPoints& van = kFakeVanEntries) {
    loop_.reset();
    port_.reset();
    terminal_.reset();
    van_ = FakeVan{};
    van_entries_ = van;
    notifications_.clear();
    dispatched_.clear();
    received_.clear();
    slot_ = std::make_unique<RelaySlot>();
    g_van = &van_;
    g_dispatched = &dispatched_;
    platform::Status error;
    terminal_ = platform::SerialPort::OpenPeer(5, &error);
    ASSERT_NE(terminal_, nullptr) << error.message();
    port_ = std::make_unique<TerminalPort>(index);
    ASSERT_TRUE(port_->Open("COM5", 115200));
    relay_slot_.store(slot_.get());

    TerminalLoopServices services;
    services.running = &running_;
    services.van = &van_entries_;
    services.relay_slot = &relay_slot_;
    services.notify = [this](uint32_t event, int64_t lparam) {
      notifications_.emplace_back(event, lparam);
    };
    services.clock = &clock_;
    services.dispatch = &RecordingDispatch;
    services.payment_path = 1;
    services.log = log_;
    loop_ = std::make_unique<TerminalLoop>(*port_, std::move(services));
    helvar_ = SharedBlock::Open({});
    ASSERT_NE(helvar_, nullptr);
  }

  // The terminal sends `bytes`; returns once the watcher has queued them all.
  void TerminalSends(std::string_view bytes) {
    ASSERT_EQ(terminal_->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                               kPatienceMs),
              static_cast<long>(bytes.size()));
    ASSERT_TRUE(platform::testing::Eventually([&] { return port_->queue().Count() >= bytes.size(); }));
    ASSERT_EQ(port_->queue().Count(), bytes.size());
  }

  // Everything the terminal has received, up to and including `last` (a marker the test has the
  // loop send at the end, so that what came before it is known to be complete).
  std::string TerminalReceivedThrough(std::string_view last) {
    while (received_.find(last) == std::string::npos &&
           terminal_->WaitEvent(kPatienceMs) == platform::SerialPort::Event::kReadable) {
      unsigned char chunk[4096];
      const long n = terminal_->Read(chunk, sizeof(chunk));
      if (n > 0) received_.append(reinterpret_cast<char*>(chunk), static_cast<size_t>(n));
    }
    const size_t end = received_.find(last);
    if (end == std::string::npos) return received_;
    std::string through = received_.substr(0, end + last.size());
    received_.erase(0, end + last.size());
    return through;
  }

  // Has Helvar leave `reply` for this terminal and the loop forward it: a marker that ends
  // what the terminal has been sent so far.
  std::string Marker(std::string_view reply) {
    EXPECT_TRUE(helvar_->WriteReply(kHelvarPrescriptions + port_->index(), reply));
    port_->WakeLoop();  // the block's own wake reaches the loop through its watcher, a thread
    loop_->Cycle();
    return std::string(reply);
  }

  void Cycles(int count) {
    for (int n = 0; n < count; ++n) loop_->Cycle();
  }

  void QueueRelayRequest(std::string_view frame) {
    std::copy(frame.begin(), frame.end(), slot_->send_buffer.begin());
    slot_->byte_count.store(static_cast<int32_t>(frame.size()));
    slot_->MarkQueued();
  }

  platform::testing::TempPrefix prefix_;
  FakeVan van_;
  VanEntryPoints van_entries_;
  platform::ManualClock clock_;  // time moves only when the loop sleeps or the test says so
  std::atomic<bool> running_{true};
  std::unique_ptr<RelaySlot> slot_ = std::make_unique<RelaySlot>();
  std::atomic<RelaySlot*> relay_slot_{nullptr};
  std::vector<Notification> notifications_;
  std::vector<std::string> dispatched_;
  std::unique_ptr<platform::SerialPort> terminal_;
  std::unique_ptr<TerminalPort> port_;
  std::unique_ptr<TerminalLoop> loop_;
  std::unique_ptr<SharedBlock> helvar_;
  std::string received_;
  LogTarget log_;  // where the loop's diagnostic records go (none by default)
};

TEST_F(LoopTest, VanModuleIsBoundToThePortAndReleasedAtTheEnd) {
  EXPECT_EQ(van_.created_with, port_->record());
  EXPECT_EQ(van_.created_path, 1);
  EXPECT_EQ(port_->record()->index, 0);
  loop_.reset();
  EXPECT_EQ(van_.close_calls, 1);
}

TEST_F(LoopTest, EachVanStateChangeIsPostedOnce) {
  van_.states = {0, 0, 3, 3, 0};
  Cycles(5);
  EXPECT_THAT(notifications_, ElementsAre(Notification{3, 0}, Notification{0, 0}));
}

TEST_F(LoopTest, WhileTheVanIsBusyHelvarRepliesAndRelayRequestsWait) {
  van_.states = {3, 3, 3, 0};
  loop_->Cycle();  // the module turns busy
  ASSERT_TRUE(helvar_->WriteReply(kHelvarPrescriptions, "reply"));
  const std::string request = Frame(151, {"", "", "PRINT"});
  QueueRelayRequest(request);

  Cycles(2);
  EXPECT_EQ(helvar_->status(), kHelvarPrescriptions);  // left in the block
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);

  Cycles(2);  // idle again: the reply goes at once, the request in the next cycle
  EXPECT_EQ(TerminalReceivedThrough(request), "reply" + request);
  EXPECT_EQ(helvar_->status(), kSharedEmpty);
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kSent);
}

TEST_F(LoopTest, BytesThatAreNotGatewayTrafficReachTheVanModuleInOrder) {
  const std::string frame = Frame(835, {"8801234567890"});
  struct Case {
    const char* name;
    std::vector<std::string> cycles;  // what the terminal sends before each cycle
    std::string to_van;
    size_t dispatched;
  };
  const std::vector<Case> cases = {
      {"pure VAN traffic",
       {std::string("\x10\x20"
                    "AB\x00\xff",
                    6),
        "\x06\x15 CD"},
       std::string("\x10\x20"
                   "AB\x00\xff"
                   "\x06\x15 CD",
                   11),
       0},
      {"VAN traffic around a frame", {"ab" + frame + "cd", "ef"}, "abcdef", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(1);
    for (const std::string& bytes : c.cycles) {
      TerminalSends(bytes);
      loop_->Cycle();
    }
    EXPECT_EQ(van_.protocol_bytes, c.to_van);
    EXPECT_EQ(dispatched_.size(), c.dispatched);
  }
}

TEST_F(LoopTest, BusyResendsTheLastFrameFourTimesAndOnlyADispatchedFrameClearsTheVanBuffer) {
  const std::string request = Frame(41, {"1000", "00"});
  QueueRelayRequest(request);
  loop_->Cycle();
  const std::string busy = Frame(0, {"BUSY"});
  for (int n = 0; n < 5; ++n) {
    TerminalSends(busy);
    loop_->Cycle();
  }
  std::string expected;
  for (int n = 0; n < 5; ++n) expected += request;  // sent, then resent four times
  EXPECT_EQ(TerminalReceivedThrough(Marker("end")), expected + "end");
  EXPECT_EQ(van_.clear_calls, 0);
  EXPECT_THAT(dispatched_, IsEmpty());

  // A dispatched frame starts the count again.
  const std::string answer = Frame(42, {"0000"});
  TerminalSends(answer);
  loop_->Cycle();
  EXPECT_THAT(dispatched_, ElementsAre(answer));
  EXPECT_EQ(van_.clear_calls, 1);
  TerminalSends(busy);
  loop_->Cycle();  // the last frame sent was Helvar's reply "end"
  EXPECT_EQ(TerminalReceivedThrough(Marker("done")),
            "end"
            "done");
}

std::string GreetingBytes() {
  std::string frame = "\x02TavenorGatewayXX0035TRM841" + std::string(21, kFs) + kEtx;
  frame.push_back(
      static_cast<char>(UtilCheckByte(reinterpret_cast<const unsigned char*>(frame.data()) + 1,
                                      static_cast<int>(frame.size() - 1))));
  return frame;
}

TEST_F(LoopTest, ASilentTerminalIsGreetedOnceAfterTwoAndAHalfSeconds) {
  const uint32_t start = clock_.Now();
  clock_.Advance(kGreetingSilenceMs);  // at the limit
  port_->WakeLoop();
  loop_->Cycle();  // woken at the limit: no greeting yet, so the next wait is for it
  loop_->Cycle();  // not woken: the wait lasts until the greeting is due, 1 ms on
  EXPECT_EQ(clock_.Now() - start, kGreetingSilenceMs + 1);
  clock_.Advance(60000);
  Cycles(3);
  const std::string greeting = GreetingBytes();
  ASSERT_EQ(greeting.size(), 50u);
  EXPECT_EQ(TerminalReceivedThrough(Marker("end")), greeting + "end");
}

TEST_F(LoopTest, ATalkingTerminalIsGreetedAfterItsFirstPause) {
  for (int n = 0; n < 4; ++n) {  // bytes every second for four seconds
    TerminalSends("VAN");
    loop_->Cycle();
    clock_.Advance(1000);
  }
  Cycles(1);  // 1 s of silence so far
  EXPECT_EQ(TerminalReceivedThrough(Marker("quiet")), "quiet");
  clock_.Advance(kGreetingSilenceMs);
  loop_->Cycle();
  EXPECT_EQ(TerminalReceivedThrough(Marker("end")), GreetingBytes() + "end");
}

// The VAN module's state is looked at every 50 ms only while it may be busy: after bytes were
// handed to it and while it reports a state other than 0. Idle, it costs no wake of its own.
TEST_F(LoopTest, TheVanModuleIsWatchedCloselyOnlyWhileItMayBeBusy) {
  const uint32_t start = clock_.Now();
  EXPECT_EQ(loop_->NextWaitMs(), kIdleWakeMs);
  van_.states = {3, 0};  // the idle wake finds it busy; it is idle at the next look
  loop_->Cycle();
  EXPECT_EQ(clock_.Now() - start, kIdleWakeMs);
  EXPECT_EQ(loop_->last_van_state(), 3);
  EXPECT_EQ(loop_->NextWaitMs(), kVanPollMs);
  loop_->Cycle();
  EXPECT_EQ(loop_->last_van_state(), 0);
  EXPECT_EQ(loop_->NextWaitMs(), kIdleWakeMs);

  TerminalSends("VAN");
  loop_->Cycle();
  EXPECT_EQ(van_.protocol_bytes, "VAN");
  EXPECT_EQ(loop_->NextWaitMs(), kVanPollMs);
  clock_.Advance(kVanWatchAfterHandOffMs);
  EXPECT_EQ(loop_->NextWaitMs(), kVanPollMs);
  clock_.Advance(1);
  EXPECT_EQ(loop_->NextWaitMs(), kIdleWakeMs);
}

TEST_F(LoopTest, AnIdleLoopWaitsUntilItsNearestDeadline) {
  VanEntryPoints without_state = kFakeVanEntries;
  without_state.GetVanState = nullptr;
  Start(0, without_state);
  const uint32_t start = clock_.Now();
  EXPECT_EQ(loop_->NextWaitMs(), kIdleWakeMs);  // the greeting is further off
  clock_.Advance(kGreetingSilenceMs - 500);
  EXPECT_EQ(loop_->NextWaitMs(), 501u);
  loop_->Cycle();
  EXPECT_EQ(clock_.Now() - start, kGreetingSilenceMs + 1);
  EXPECT_EQ(TerminalReceivedThrough(GreetingBytes()), GreetingBytes());
  EXPECT_EQ(loop_->NextWaitMs(), kIdleWakeMs);  // nothing is due

  const std::string request = Frame(41, {"1000", "00"});
  QueueRelayRequest(request);
  EXPECT_EQ(loop_->NextWaitMs(), 0u);
  loop_->Cycle();
  EXPECT_EQ(TerminalReceivedThrough(request), request);
  clock_.Advance(kRelayAckTimeoutMs - 500);
  EXPECT_EQ(loop_->NextWaitMs(), 501u);  // the end of the acknowledgement window
  loop_->Cycle();
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);  // refused: not acknowledged in time
}

// The relay client is one end of a connected pair; the test keeps the other.
class RelayTest : public LoopTest {
 protected:
  void SetUp() override { Restart(0); }
  void TearDown() override {
    DropPosClient();
    LoopTest::TearDown();
  }

  // A fresh loop for terminal `index`, with a POS client waiting in the relay slot.
  void Restart(int index) {
    DropPosClient();
    Start(index);
    auto [hub_end, pos_end] = platform::testing::SocketPair();
    ASSERT_TRUE(hub_end.valid());
    slot_->relay_client.store(hub_end.release());
    pos_client_ = std::move(pos_end);
  }

  void DropPosClient() {
    pos_client_.reset();
    platform::UniqueFd left(slot_->relay_client.exchange(RelaySlot::kNoClient));
  }

  // True when the hub closed the relay client's connection (without a word).
  bool PosClientClosed() {
    char byte;
    size_t got = 0;
    return platform::ReceiveSome(pos_client_.get(), &byte, 1, platform::Deadline::After(0), &got)
               .code() == platform::StatusCode::kClosed;
  }

  platform::UniqueFd pos_client_;
};

TEST_F(RelayTest, ARequestIsSentOnceAndTheTerminalsAnswerDecidesItsFate) {
  struct Case {
    const char* name;
    std::string answer;  // what the terminal sends after the request ("" nothing)
    uint32_t wait_ms;    // time that then passes
    std::vector<Notification> posted;
    int32_t state;
  };
  const std::vector<Case> cases = {
      {"acknowledged, never timed out",
       "\x06",
       60000,
       {{kEventRelayAcknowledged, 0}},
       RelaySlot::kSent},
      {"silent up to the limit", "", kRelayAckTimeoutMs, {}, RelaySlot::kSent},
      {"silent past the limit",
       "",
       kRelayAckTimeoutMs + 1,
       {{kEventRelayRefused, 0}, {kEventFrameOrRelayClosed, 0}},
       RelaySlot::kIdle},
      {"refused",
       "\x15",
       0,
       {{kEventRelayRefused, 0}, {kEventFrameOrRelayClosed, 0}},
       RelaySlot::kIdle},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart(0);
    const std::string request = Frame(41, {"1000", "00"});
    QueueRelayRequest(request);
    loop_->Cycle();  // a queued request ends the wait at once
    EXPECT_EQ(TerminalReceivedThrough(request), request);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kSent);
    EXPECT_FALSE(slot_->acknowledged.load());

    if (!c.answer.empty()) {
      TerminalSends(c.answer);
      loop_->Cycle();
    }
    clock_.Advance(c.wait_ms);
    port_->WakeLoop();  // a cycle at exactly that time
    loop_->Cycle();
    // Greetings come and go with the silence; only the relay's notifications count here.
    EXPECT_EQ(notifications_, c.posted);
    EXPECT_EQ(slot_->send_state.load(), c.state);
    EXPECT_EQ(PosClientClosed(), c.state == RelaySlot::kIdle);
    if (c.state == RelaySlot::kIdle) {
      EXPECT_EQ(slot_->byte_count.load(), 0);
      EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
    }
  }
}

TEST_F(RelayTest, OnlyTerminalZeroSendsTheRelayedRequest) {
  for (int index : {1, 2}) {
    SCOPED_TRACE(index);
    Restart(index);
    QueueRelayRequest(Frame(41, {"1000", "00"}));
    for (int n = 0; n < 3; ++n) {  // three woken cycles, before the greeting is due
      port_->WakeLoop();
      loop_->Cycle();
    }
    EXPECT_EQ(TerminalReceivedThrough(Marker("end")), "end");
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);
  }
}

TEST_F(RelayTest, ADispatcherThatDropsTheRequestClosesTheRelayClient) {
  g_dispatch_result = kDispatchCloseRelay;
  slot_->send_state.store(RelaySlot::kSent);
  slot_->acknowledged.store(true);
  TerminalSends(Frame(2, {}));
  loop_->Cycle();
  EXPECT_THAT(notifications_, ElementsAre(Notification{kEventFrameOrRelayClosed, 0}));
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
  EXPECT_TRUE(PosClientClosed());
}

TEST_F(RelayTest, ARequestTheVanModuleHoldsBackTooLongIsRefusedAndTheLoopGoesOn) {
  van_.states = {3};  // busy, and it stays so
  loop_->Cycle();
  QueueRelayRequest(Frame(41, {"1000", "00"}));
  loop_->Cycle();  // the hold begins
  clock_.Advance(kVanHoldLimitMs);
  port_->WakeLoop();
  loop_->Cycle();
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);  // up to the limit it waits

  EXPECT_EQ(loop_->NextWaitMs(), 1u);  // the loop wakes itself for the end of the hold
  clock_.Advance(1);
  port_->WakeLoop();
  loop_->Cycle();
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
  EXPECT_TRUE(PosClientClosed());
  EXPECT_THAT(notifications_, ElementsAre(Notification{3, 0}, Notification{kEventRelayRefused, 0},
                                          Notification{kEventFrameOrRelayClosed, 0}));
  // Frames are still dispatched while the module stays busy.
  TerminalSends(Frame(820, {}));
  loop_->Cycle();
  EXPECT_EQ(dispatched_.size(), 1u);
}

TEST_F(LoopTest, WithoutTheVanModuleFramesAreStillDispatched) {
  Start(0, VanEntryPoints{});
  const std::string frame = Frame(835, {"8801234567890"});
  TerminalSends("VAN bytes" + frame);
  loop_->Cycle();
  EXPECT_THAT(dispatched_, ElementsAre(frame));
  EXPECT_EQ(loop_->last_van_state(), 0);
}

TEST_F(LoopTest, APaymentFrameWithoutAPaymentServiceIsLoggedNotDroppedSilently) {
  log_ = {(prefix_.path() / "install").string(), 1};
  Start(0);
  g_dispatch_result = kDispatchPayment;
  TerminalSends(Frame(42, {"9410123456789012=2512101"}));
  loop_->Cycle();
  ASSERT_EQ(dispatched_.size(), 1u);
  const std::string log = platform::testing::ReadFilesBelow(prefix_.path() / "install");
  EXPECT_NE(log.find("payment frame dropped, no payment service: "), std::string::npos) << log;
  EXPECT_NE(log.find("941012******9012=*******"), std::string::npos) << log;
}

TEST(LogAndDropFrame, LogsTheFrameWithTheCardNumberMasked) {
  platform::testing::TempPrefix prefix;
  TerminalContext context;
  context.log = {(prefix.path() / "install").string(), 1};
  MessageRecord record;
  record.frame = Frame(42, {"9410123456789012=2512101", "1000"});
  record.state = MessageRecord::kComplete;
  EXPECT_EQ(LogAndDropFrame(context, record), kDispatchDone);

  const std::string log = platform::testing::ReadFilesBelow(prefix.path());
  EXPECT_NE(log.find("[TerminalFrame]"), std::string::npos) << log;
  EXPECT_NE(log.find("941012******9012=*******"), std::string::npos) << log;
  EXPECT_EQ(log.find("3456"), std::string::npos) << log;
}

// The answer reaches a client that waits for it; a client that left has not been answered. In
// both cases the slot is idle afterwards and the connection is closed.
TEST(AnswerRelayClient, ReportsWhetherTheWholeAnswerReachedTheClient) {
  platform::testing::TempPrefix prefix;
  const LogTarget log{(prefix.path() / "install").string(), 1};
  platform::ManualClock clock;
  const std::string answer = Frame(52, {"TERM0001", "0000", "OK"});
  for (const bool client_waits : {true, false}) {
    SCOPED_TRACE(client_waits ? "client waits" : "client left");
    auto slot = std::make_unique<RelaySlot>();
    auto [ours, theirs] = platform::testing::SocketPair();
    if (!client_waits) theirs.reset();
    slot->relay_client.store(ours.release());
    slot->byte_count.store(10);
    slot->send_state.store(RelaySlot::kSent);

    EXPECT_EQ(AnswerRelayClient(*slot, answer, nullptr, clock, log), client_waits);

    EXPECT_EQ(slot->relay_client.load(), RelaySlot::kNoClient);
    EXPECT_EQ(slot->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(slot->byte_count.load(), 0);
    if (client_waits) {
      std::string got(answer.size() + 1, '\0');
      size_t count = 0;
      ASSERT_TRUE(platform::ReceiveExactly(theirs.get(), got.data(), answer.size(),
                                           platform::Deadline::After(kPatienceMs), nullptr)
                      .ok());
      got.resize(answer.size());
      EXPECT_EQ(got, answer);
      // Then the connection ends.
      EXPECT_FALSE(platform::ReceiveSome(theirs.get(), got.data(), got.size(),
                                         platform::Deadline::After(kPatienceMs), &count)
                       .ok());
    }
  }
  // Without a client there is nobody to answer.
  RelaySlot idle;
  EXPECT_FALSE(AnswerRelayClient(idle, answer, nullptr, clock, log));
}

TEST(TerminalLoopThread, EndsWhenTheModuleStops) {
  platform::testing::TempPrefix prefix;
  std::unique_ptr<platform::SerialPort> terminal = platform::SerialPort::OpenPeer(6);
  ASSERT_NE(terminal, nullptr);
  TerminalPort port(2);
  ASSERT_TRUE(port.Open("COM6", 115200));
  Module().running.store(true);
  ASSERT_TRUE(StartTerminalLoop(&port));
  EXPECT_TRUE(port.LoopRunning());
  Module().running.store(false);
  port.WakeLoop();  // as the module does when it stops
  EXPECT_TRUE(port.WaitLoopEnd(kPatienceMs));
  port.JoinLoop();
  EXPECT_FALSE(port.LoopRunning());
}

// A clock on which time never moves: a pause ends only when its wait is woken.
class StoppedClock final : public platform::Clock {
 public:
  uint32_t Now() override { return 100000; }
  void Sleep(uint32_t) override {}
  bool SleepUnlessWoken(uint32_t, const platform::WakeEvent& wake) override {
    pollfd watched{wake.fd(), POLLIN, 0};
    while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
    return true;
  }
  std::string LocalDate() override { return "20300101"; }
};

// The second process of the test below: Helvar's side, writing the reply it is given.
constexpr char kChildReplyEnv[] = "ORDELLA_TEST_HELVAR_REPLY";
constexpr char kChildPrefixEnv[] = "ORDELLA_TEST_HELVAR_PREFIX";  // the test's own prefix
constexpr int kChildTerminal = 1;

TEST(HelvarReplyChild, WritesTheReplyItIsGiven) {
  const char* reply = std::getenv(kChildReplyEnv);
  const char* prefix = std::getenv(kChildPrefixEnv);
  if (reply == nullptr || prefix == nullptr) {
    GTEST_SKIP() << "the second process of a cross-process test";
  }
  setenv("ORDELLA_PREFIX", prefix, 1);  // the test program's main gave this process its own
  std::unique_ptr<SharedBlock> block = SharedBlock::OpenExisting({});
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(block->WriteReply(kHelvarPrescriptions + kChildTerminal, reply));
}

TEST(TerminalLoopWake, AReplyWrittenByAnotherProcessWakesTheLoop) {
  platform::testing::TempPrefix prefix;
  std::unique_ptr<platform::SerialPort> terminal = platform::SerialPort::OpenPeer(7);
  ASSERT_NE(terminal, nullptr);
  TerminalPort port(kChildTerminal);
  ASSERT_TRUE(port.Open("COM7", 115200));
  StoppedClock clock;  // no deadline ever comes: only a wake makes the loop cycle
  std::atomic<bool> running{true};
  TerminalLoopServices services;
  services.running = &running;
  services.clock = &clock;
  auto loop = std::make_unique<TerminalLoop>(port, std::move(services));
  std::thread runner([&] { loop->Run(); });

  const std::string reply = "reply from the other process";
  std::unique_ptr<platform::testing::ChildProcess> helvar = platform::testing::ChildProcess::Start(
      std::filesystem::read_symlink("/proc/self/exe"), {"--gtest_filter=HelvarReplyChild.*"},
      {{kChildReplyEnv, reply}, {kChildPrefixEnv, std::getenv("ORDELLA_PREFIX")}});
  ASSERT_NE(helvar, nullptr);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0);
  std::string received;
  while (received.size() < reply.size() &&
         terminal->WaitEvent(kPatienceMs) == platform::SerialPort::Event::kReadable) {
    unsigned char chunk[256];
    const long n = terminal->Read(chunk, sizeof(chunk));
    if (n > 0) received.append(reinterpret_cast<char*>(chunk), static_cast<size_t>(n));
  }
  EXPECT_EQ(received, reply);

  running.store(false);
  port.WakeLoop();
  runner.join();
}

}  // namespace
}  // namespace hub
