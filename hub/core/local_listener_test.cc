#include "hub/core/local_listener.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "hub/core/pos_request.h"
#include "hub/core/pos_services.h"
#include "hub/core/terminal_loop.h"
#include "platform/clock.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "tools/pos_client.h"

namespace hub {

using namespace protocol;
namespace {

using platform::testing::Eventually;
using pos_client::Connection;

constexpr int kPatienceMs = 10000;
// Short, so the test of a silent client does not wait long; far above a local round trip.
constexpr int kTestReceiveLimitMs = 1500;

std::string Request(int code, const std::vector<std::string_view>& fields) {
  return BuildMessage(code, fields).value();
}

class LocalListenerTest : public ::testing::Test {
 protected:
  // Starts a listener of `kind` on a free port, serving `slot_` with the payments side's services
  // as the module installs them (hub/CMakeLists.txt), or with `pos`.
  void Start(ListenerKind kind, const PosServices& pos = InstalledPosServices()) {
    ListenerServices services;
    services.pos = pos;
    services.relay_slot = &slot_pointer_;
    services.notify = [this](uint32_t event, int64_t lparam) {
      std::lock_guard<std::mutex> lock(mutex_);
      notifications_.emplace_back(event, lparam);
    };
    services.receive_limit_ms = kTestReceiveLimitMs;
    listener_ = LocalListener::Start(kind, 0, std::move(services));
    ASSERT_NE(listener_, nullptr);
  }

  std::unique_ptr<Connection> Connect() {
    std::string error;
    std::unique_ptr<Connection> connection =
        Connection::Open(listener_->port(), kPatienceMs, &error);
    EXPECT_NE(connection, nullptr) << error;
    return connection;
  }

  std::string Queued() const {
    const auto count = static_cast<size_t>(slot_->byte_count.load());
    return std::string(reinterpret_cast<const char*>(slot_->send_buffer.data()), count);
  }

  size_t PosRequestsPosted() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const auto& [event, lparam] : notifications_) count += event == kEventPosRequest ? 1 : 0;
    return count;
  }

  // What terminal 0's loop does once the terminal is done with the request.
  void TerminalDone() {
    platform::ManualClock clock;
    CloseRelayClient(*slot_, nullptr, clock);
  }

  platform::testing::TempPrefix prefix_;
  std::unique_ptr<RelaySlot> slot_ = std::make_unique<RelaySlot>();
  std::atomic<RelaySlot*> slot_pointer_{slot_.get()};
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, int64_t>> notifications_;
  std::unique_ptr<LocalListener> listener_;
};

TEST_F(LocalListenerTest, ARequestInTwoSegmentsIsQueuedOnceAndItsClientWaitsForTheTerminal) {
  Start(ListenerKind::kPosRequest);
  const std::string request = Request(843, {"", "", "10", "20", "30"});
  std::unique_ptr<Connection> client = Connect();
  ASSERT_TRUE(client->Send(request, 2, 200));
  ASSERT_TRUE(Eventually([&] { return slot_->send_state.load() == RelaySlot::kWaiting; }));
  EXPECT_EQ(FrameContent(Queued()),
            "\x02TavenorGatewayXX0025TRM843\x1c\x1c\x1c"
            "10\x1c"
            "20\x1c"
            "30");
  EXPECT_EQ(PosRequestsPosted(), 1u);

  // The connection waits in the slot; the terminal's end closes it without an answer.
  EXPECT_EQ(client->Receive(1, 300), "");
  EXPECT_FALSE(client->closed());
  TerminalDone();
  std::string answer;
  EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer));
  EXPECT_EQ(answer, "");
  EXPECT_EQ(PosRequestsPosted(), 1u);
}

TEST_F(LocalListenerTest, ASignatureImageFrameInManySegmentsGoesToTheTerminalUnchanged) {
  Start(ListenerKind::kPosRequest);
  // The payload holds STX, ETX and a gateway frame's marker.
  const std::string frame =
      pos_client::SignatureFrame(std::string("\x02\x03TRM\x00\x0a", 7) + std::string(3000, 'x'))
          .value();
  std::unique_ptr<Connection> client = Connect();
  ASSERT_TRUE(client->Send(frame, 4, 100));
  ASSERT_TRUE(Eventually([&] { return slot_->send_state.load() == RelaySlot::kWaiting; }));
  EXPECT_EQ(Queued(), frame);
  EXPECT_EQ(PosRequestsPosted(), 1u);
  TerminalDone();
  std::string answer;
  EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer));
}

TEST_F(LocalListenerTest, BadClientsAreClosedAndTheNextOneIsServed) {
  Start(ListenerKind::kPosRequest);
  struct Case {
    const char* what;
    std::string sent;
  };
  const Case cases[] = {
      {"text that is no frame", "BUSY"},
      {"silence", ""},
      {"a frame cut short", Request(843, {"", "", "1"}).substr(0, 15)},
      {"40000 bytes that never complete",
       "\x02"
       "BMPP15999999" +
           std::string(40000, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<Connection> client = Connect();
    if (!c.sent.empty()) {
      ASSERT_TRUE(client->Send(c.sent));
    }
    std::string answer;
    EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer));
    EXPECT_EQ(answer, "");
  }
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
  EXPECT_EQ(PosRequestsPosted(), 0u);

  // A client that stops mid-frame does not keep the next one waiting past the receive limit.
  std::unique_ptr<Connection> stalled = Connect();
  ASSERT_TRUE(stalled->Send("\x02XX00"));
  std::unique_ptr<Connection> next = Connect();
  ASSERT_TRUE(next->Send(Request(843, {"", "", "1"})));
  EXPECT_TRUE(Eventually([&] { return slot_->send_state.load() == RelaySlot::kWaiting; }));
}

TEST_F(LocalListenerTest, ASecondRequestWhileOneIsPendingIsRefusedAtOnce) {
  Start(ListenerKind::kPosRequest);
  std::unique_ptr<Connection> first = Connect();
  ASSERT_TRUE(first->Send(Request(151, {"bill\n"})));
  ASSERT_TRUE(Eventually([&] { return slot_->send_state.load() == RelaySlot::kWaiting; }));
  const std::string queued = Queued();

  std::unique_ptr<Connection> second = Connect();
  ASSERT_TRUE(second->Send(Request(843, {"", "", "1"})));
  std::string answer;
  EXPECT_TRUE(second->ReceiveUntilClosed(kPatienceMs, &answer));
  const pos_client::Answer decoded = pos_client::DecodeAnswer(answer);
  EXPECT_EQ(decoded.code, 844);
  ASSERT_EQ(decoded.fields.size(), 3u);
  EXPECT_EQ(decoded.fields[1], kRefusalResponseCode);
  EXPECT_EQ(decoded.fields[2], kRefusedPending);
  EXPECT_EQ(Queued(), queued);
  EXPECT_FALSE(first->closed());
}

TEST_F(LocalListenerTest, AcknowledgementListenersAnswerBeforeTheyQueueThePrint) {
  struct Case {
    ListenerKind kind;
    std::string sent;
    std::string acks;
    const char* printed;
  };
  const Case cases[] = {
      {ListenerKind::kFirstAck, "bill\r\nline", "\x06\x06\x06", "151\x1c\x1c\x1cPRINTbill\nline"},
      {ListenerKind::kSecondAck,
       pos_client::FramedPrint("a\x1d"
                               "b\x1e"),
       "\x06",
       "151\x1c\x1c\x1cPRINTa\x0e"
       "b\x0f"},
  };
  for (const Case& c : cases) {
    slot_->send_state.store(RelaySlot::kIdle);
    Start(c.kind);
    std::unique_ptr<Connection> client = Connect();
    ASSERT_TRUE(client->Send(c.sent));
    EXPECT_EQ(client->Receive(c.acks.size(), kPatienceMs), c.acks);
    ASSERT_TRUE(Eventually([&] { return slot_->send_state.load() == RelaySlot::kWaiting; }));
    const std::string frame(FrameContent(Queued()));
    EXPECT_EQ(frame.substr(frame.find("151")), c.printed);
    TerminalDone();
    std::string rest;
    EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &rest));
    listener_->Stop();
  }
}

TEST_F(LocalListenerTest, AnAcknowledgementListenerWithoutAPrintServiceClosesWithoutPrinting) {
  const struct {
    ListenerKind kind;
    const char* acks;
  } cases[] = {{ListenerKind::kFirstAck, "\x06\x06\x06"}, {ListenerKind::kSecondAck, "\x06"}};
  for (const auto& c : cases) {
    Start(c.kind, PosServices{});
    std::unique_ptr<Connection> client = Connect();
    ASSERT_TRUE(client->Send(pos_client::FramedPrint("bill")));
    std::string answer;
    EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer));
    EXPECT_EQ(answer, c.acks);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
    listener_->Stop();
  }
}

TEST_F(LocalListenerTest, StoppingEndsAWaitingReceive) {
  Start(ListenerKind::kPosRequest);
  std::unique_ptr<Connection> client = Connect();
  ASSERT_TRUE(client->Send("\x02XX00"));
  listener_->Stop();  // returns: the receive is cancelled, not waited out
  std::string answer;
  EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer));
}

}  // namespace
}  // namespace hub
