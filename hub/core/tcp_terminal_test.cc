#include "hub/core/tcp_terminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hub/core/helvar_bridge.h"
#include "hub/core/relay_slot.h"
#include "platform/socket.h"
#include "platform/testing/answering_peer.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

using Notification = std::pair<uint32_t, int64_t>;
constexpr int kPatienceMs = 10000;
const std::string kLinkCheck = "\x05\x05\x05";

std::string Frame(int code, std::vector<std::string_view> fields) {
  return BuildMessage(code, fields).value();
}

// What the loops were given to do, collected from their threads.
struct Recorder {
  std::mutex mutex;
  std::vector<Notification> notifications;
  std::vector<std::string> dispatched;

  size_t Count(uint32_t event) {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<size_t>(std::count_if(notifications.begin(), notifications.end(),
                                             [&](const Notification& n) { return n.first == event; }));
  }
  std::vector<std::string> Dispatched() {
    std::lock_guard<std::mutex> lock(mutex);
    return dispatched;
  }
};
Recorder* g_recorder = nullptr;

int RecordingDispatch(TerminalContext& context, MessageRecord& record) {
  EXPECT_EQ(context.link_kind, kLinkTcp);
  std::lock_guard<std::mutex> lock(g_recorder->mutex);
  g_recorder->dispatched.push_back(record.frame);
  return kDispatchDone;
}

// A terminal on the far end of a TCP connection.
class Terminal {
 public:
  explicit Terminal(uint16_t port) {
    EXPECT_TRUE(platform::TcpConnect("127.0.0.1", port, platform::Deadline::After(kPatienceMs),
                                     &socket_)
                    .ok());
  }
  void Send(std::string_view bytes) {
    ASSERT_TRUE(platform::SendAll(socket_.get(), bytes, platform::Deadline::After(kPatienceMs)).ok());
  }
  // Everything received up to and including `text`; empty when it did not come.
  std::string ReceiveThrough(std::string_view text) {
    const platform::Deadline deadline = platform::Deadline::After(kPatienceMs);
    while (held_.find(text) == std::string::npos) {
      char chunk[4096];
      size_t count = 0;
      if (!platform::ReceiveSome(socket_.get(), chunk, sizeof(chunk), deadline, &count).ok()) {
        return std::string();
      }
      held_.append(chunk, count);
    }
    const size_t end = held_.find(text) + text.size();
    std::string through = held_.substr(0, end);
    held_.erase(0, end);
    return through;
  }
  // True once the hub has closed the connection.
  bool SeesClose() {
    char chunk[4096];
    size_t count = 0;
    for (;;) {
      const platform::Status status = platform::ReceiveSome(
          socket_.get(), chunk, sizeof(chunk), platform::Deadline::After(kPatienceMs), &count);
      if (status.code() == platform::StatusCode::kClosed) return true;
      if (!status.ok()) return false;
    }
  }
  void Close() { platform::CloseConnection(std::move(socket_)); }

 private:
  platform::UniqueFd socket_;
  std::string held_;
};

class TcpTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = &recorder_;
    relay_slot_.store(slot_.get());
  }
  void TearDown() override {
    if (terminal_) terminal_->Stop();
    if (peer_loop_) peer_loop_->Stop();
    g_recorder = nullptr;
  }

  TerminalLoopServices LoopServices() {
    TerminalLoopServices services;
    services.running = &running_;
    services.relay_slot = &relay_slot_;
    services.notify = [this](uint32_t event, int64_t lparam) {
      std::lock_guard<std::mutex> lock(recorder_.mutex);
      recorder_.notifications.emplace_back(event, lparam);
    };
    services.dispatch = &RecordingDispatch;
    services.log = log_;
    return services;
  }

  void StartTerminal(bool relay_peer = false) {
    terminal_ = TcpTerminal::Start(0, LoopServices(), relay_peer);
    ASSERT_NE(terminal_, nullptr);
  }

  void QueueRelayRequest(std::string_view frame, int client = RelaySlot::kNoClient) {
    std::copy(frame.begin(), frame.end(), slot_->send_buffer.begin());
    slot_->byte_count.store(static_cast<int32_t>(frame.size()));
    slot_->relay_client.store(client);
    slot_->MarkQueued();
  }

  std::string Log() { return platform::testing::ReadFilesBelow(prefix_.path() / "log"); }

  platform::testing::TempPrefix prefix_;
  LogTarget log_{(prefix_.path() / "log").string(), 1};
  Recorder recorder_;
  std::atomic<bool> running_{true};
  std::unique_ptr<RelaySlot> slot_ = std::make_unique<RelaySlot>();
  std::atomic<RelaySlot*> relay_slot_{nullptr};
  std::unique_ptr<TcpTerminal> terminal_;
  std::unique_ptr<RemoteRelayPeerLoop> peer_loop_;
};

TEST_F(TcpTerminalTest, TheLinkCheckIsEchoedAndReportedAndFramesAreDispatched) {
  StartTerminal();
  Terminal terminal(terminal_->port());
  // Greeted in its first quiet moment.
  EXPECT_NE(terminal.ReceiveThrough(LinkFrame(841)), "");
  ASSERT_TRUE(platform::testing::Eventually([&] { return recorder_.Count(kEventTcpTerminal) == 1; }));

  terminal.Send(kLinkCheck);
  EXPECT_EQ(terminal.ReceiveThrough(kLinkCheck), kLinkCheck);
  ASSERT_TRUE(platform::testing::Eventually([&] { return recorder_.Count(kEventTcpTerminal) == 2; }));

  // A frame sent in two pieces is assembled, and short bytes that are no frame are dropped.
  const std::string frame = Frame(820, {"01"});
  terminal.Send("\x05\x05");
  terminal.Send(frame.substr(0, 7));
  terminal.Send(frame.substr(7));
  ASSERT_TRUE(platform::testing::Eventually([&] { return recorder_.Dispatched().size() == 1; }));
  EXPECT_EQ(recorder_.Dispatched()[0], frame);
  EXPECT_EQ(recorder_.Count(kEventTcpTerminal), 2u);

  // The host's requests reach the connected terminal.
  const std::string host_frame = Frame(843, {"", "", "00", "00", "00"});
  EXPECT_EQ(terminal_->WriteToTerminal(host_frame), static_cast<int>(host_frame.size()));
  EXPECT_NE(terminal.ReceiveThrough(host_frame), "");
}

TEST_F(TcpTerminalTest, ASecondTerminalWaitsUntilTheFirstHasGone) {
  StartTerminal();
  Terminal first(terminal_->port());
  ASSERT_NE(first.ReceiveThrough(LinkFrame(841)), "");
  Terminal second(terminal_->port());
  const std::string second_frame = Frame(820, {"second"});
  second.Send(second_frame);  // sent first, but not read while the first is served
  const std::string first_frame = Frame(820, {"first"});
  first.Send(first_frame);
  ASSERT_TRUE(platform::testing::Eventually([&] { return recorder_.Dispatched().size() == 1; }));
  EXPECT_EQ(recorder_.Dispatched()[0], first_frame);

  first.Close();
  EXPECT_NE(second.ReceiveThrough(LinkFrame(841)), "");
  ASSERT_TRUE(platform::testing::Eventually([&] { return recorder_.Dispatched().size() == 2; }));
  EXPECT_EQ(recorder_.Dispatched()[1], second_frame);
  EXPECT_EQ(recorder_.Count(kEventTcpTerminal), 2u);  // one per accepted connection
}

TEST_F(TcpTerminalTest, TerminalsThatSendNothingOrStopMidFrameDoNotHoldThePort) {
  StartTerminal();
  {
    Terminal silent(terminal_->port());
    ASSERT_NE(silent.ReceiveThrough(LinkFrame(841)), "");
    silent.Close();
  }
  {
    Terminal cut(terminal_->port());
    ASSERT_NE(cut.ReceiveThrough(LinkFrame(841)), "");
    const std::string frame = Frame(820, {"cut short"});
    cut.Send(frame.substr(0, frame.size() / 2));
    cut.Close();
  }
  Terminal next(terminal_->port());
  ASSERT_NE(next.ReceiveThrough(LinkFrame(841)), "");
  EXPECT_TRUE(recorder_.Dispatched().empty());
  EXPECT_NE(Log().find("link ended in the middle of a frame"), std::string::npos) << Log();
  EXPECT_NE(Log().find("the TCP terminal closed the connection"), std::string::npos);

  // Stopping ends a connection that is still being served.
  terminal_->Stop();
  EXPECT_TRUE(next.SeesClose());
}

// How the connected terminal answers a relayed request, and what becomes of the request.
TEST_F(TcpTerminalTest, RelayedRequestsAreAnsweredByRunsOfThreeBytes) {
  struct Case {
    std::string answer;
    uint32_t event;      // the notification that answer gives
    int32_t state_after;  // the slot's send state once it is taken
  };
  const Case cases[] = {
      {"\x06\x06\x06", kEventRelayAcknowledged, RelaySlot::kSent},
      {"\x15\x15\x15", kEventRelayRefused, RelaySlot::kIdle},
  };
  StartTerminal();
  Terminal terminal(terminal_->port());
  ASSERT_NE(terminal.ReceiveThrough(LinkFrame(841)), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    const std::string request = Frame(151, {"", "", "PRINT"});
    QueueRelayRequest(request);
    EXPECT_NE(terminal.ReceiveThrough(request), "");
    ASSERT_TRUE(platform::testing::Eventually(
        [&] { return slot_->send_state.load() == RelaySlot::kSent; }));
    terminal.Send(c.answer);
    ASSERT_TRUE(platform::testing::Eventually([&] { return recorder_.Count(c.event) == 1; }));
    EXPECT_EQ(slot_->send_state.load(), c.state_after);
    slot_->send_state.store(RelaySlot::kIdle);
  }
}

using platform::testing::AnsweringPeer;

RelayPeer PeerAt(const AnsweringPeer& peer) {
  return RelayPeer{"127.0.0.1", std::to_string(peer.port())};
}

TEST_F(TcpTerminalTest, WithARemoteRelayPeerThePeerTakesGreetingRequestsAndReplies) {
  AnsweringPeer peer("\x06\x06\x06");
  RelayPeerServices services;
  services.running = &running_;
  services.relay_slot = &relay_slot_;
  services.notify = LoopServices().notify;
  services.log = log_;
  StartTerminal(/*relay_peer=*/true);
  peer_loop_ = RemoteRelayPeerLoop::Start(PeerAt(peer), services);
  ASSERT_NE(peer_loop_, nullptr);
  EXPECT_EQ(peer.AwaitReceived(1).at(0), LinkFrame(841));

  Terminal terminal(terminal_->port());
  terminal.Send(kLinkCheck);  // the link check still belongs to the connection
  ASSERT_EQ(terminal.ReceiveThrough(kLinkCheck), kLinkCheck);

  auto [client, far_end] = platform::testing::SocketPair();
  const std::string request = Frame(151, {"", "", "PRINT"});
  QueueRelayRequest(request, client.release());
  EXPECT_EQ(peer.AwaitReceived(2).at(1), request);
  ASSERT_TRUE(platform::testing::Eventually(
      [&] { return recorder_.Count(kEventRelayAcknowledged) == 1; }));
  // Delivered: the relay client is closed and the slot takes the next request.
  ASSERT_TRUE(platform::testing::Eventually(
      [&] { return slot_->send_state.load() == RelaySlot::kIdle; }));
  EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);

  auto block = SharedBlock::Open({});
  ASSERT_NE(block, nullptr);
  ASSERT_TRUE(block->Write("reply for the TCP terminal"));
  EXPECT_EQ(peer.AwaitReceived(3).at(2), "reply for the TCP terminal");

  // The connected terminal was neither greeted nor given the request or the reply: the first
  // thing it gets after its link check is the host's frame.
  const std::string host_frame = Frame(843, {"", "", "00", "00", "00"});
  ASSERT_EQ(terminal_->WriteToTerminal(host_frame), static_cast<int>(host_frame.size()));
  EXPECT_EQ(terminal.ReceiveThrough(host_frame), host_frame);
}

TEST_F(TcpTerminalTest, ARequestThePeerDoesNotAcknowledgeOrCannotTakeClosesTheRelayClient) {
  AnsweringPeer refusing("\x15");
  const RelayPeer unreachable{"127.0.0.1", "1"};
  for (const RelayPeer& peer : {PeerAt(refusing), unreachable}) {
    SCOPED_TRACE(peer.port);
    RelayPeerServices services;
    services.running = &running_;
    services.relay_slot = &relay_slot_;
    services.notify = LoopServices().notify;
    services.log = log_;
    services.limit_ms = 2000;
    peer_loop_ = RemoteRelayPeerLoop::Start(peer, services);
    ASSERT_NE(peer_loop_, nullptr);
    auto [client, far_end] = platform::testing::SocketPair();
    QueueRelayRequest(Frame(151, {"", "", "PRINT"}), client.release());
    ASSERT_TRUE(platform::testing::Eventually(
        [&] { return slot_->relay_client.load() == RelaySlot::kNoClient; }));
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    char byte = 0;
    size_t count = 0;
    EXPECT_EQ(platform::ReceiveSome(far_end.get(), &byte, 1, platform::Deadline::After(kPatienceMs),
                                    &count)
                  .code(),
              platform::StatusCode::kClosed);
    peer_loop_->Stop();
    peer_loop_.reset();
  }
  EXPECT_EQ(recorder_.Count(kEventRelayAcknowledged), 0u);
}

TEST(RelayPeerTest, TheAddressZeroMeansNoPeer) {
  EXPECT_FALSE(RelayPeer{}.configured());
  EXPECT_FALSE((RelayPeer{"0.0.0.0", "9000"}.configured()));
  EXPECT_TRUE((RelayPeer{"10.0.0.5", "9000"}.configured()));
  EXPECT_EQ(RemoteRelayPeerLoop::Start(RelayPeer{}, RelayPeerServices{}), nullptr);
}

}  // namespace
}  // namespace hub
