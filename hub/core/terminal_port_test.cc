#include "hub/core/terminal_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hub/core/module_state.h"
#include "platform/serial_port.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "platform/window.h"

namespace hub {

using namespace protocol;

namespace {

constexpr int kPatienceMs = 10000;

const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

std::string TakeAll(ReceiveQueue& queue) {
  std::string out(ReceiveQueue::kSize, '\0');
  const size_t got = queue.Take(reinterpret_cast<unsigned char*>(out.data()), out.size());
  out.resize(got);
  return out;
}

TEST(ReceiveQueue, AChunkThatDoesNotFitIsDroppedWhole) {
  struct Case {
    std::vector<size_t> chunks;
    std::vector<bool> kept;
  };
  const std::vector<Case> cases = {
      {{8191}, {true}},   // the most the ring holds
      {{8192}, {false}},  // one more and the whole chunk goes
      {{8000, 191}, {true, true}},
      {{8000, 192}, {true, false}},  // free room 192 is not greater than the chunk
      {{1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024},
       {true, true, true, true, true, true, true, false}},
  };
  for (const Case& c : cases) {
    ReceiveQueue queue;
    std::string expected;
    char fill = 'a';
    for (size_t n = 0; n < c.chunks.size(); ++n, ++fill) {
      const std::string chunk(c.chunks[n], fill);
      EXPECT_EQ(queue.Append(Bytes(chunk), chunk.size()), c.kept[n]) << "chunk " << n;
      if (c.kept[n]) expected += chunk;
    }
    EXPECT_EQ(queue.Count(), expected.size());
    EXPECT_EQ(TakeAll(queue), expected);
    EXPECT_EQ(queue.Count(), 0u);
  }
}

TEST(ReceiveQueue, KeepsOrderAcrossTheRingsEnd) {
  ReceiveQueue queue;
  std::string sent;
  for (int i = 0; i < 6000; ++i) sent.push_back(static_cast<char>(i * 7));
  ASSERT_TRUE(queue.Append(Bytes(sent), sent.size()));
  std::string taken(5000, '\0');
  ASSERT_EQ(queue.Take(reinterpret_cast<unsigned char*>(taken.data()), taken.size()), 5000u);
  ASSERT_TRUE(queue.Append(Bytes(sent), sent.size()));  // wraps past byte 8191
  EXPECT_EQ(taken + TakeAll(queue), sent + sent);
}

// Host notifications posted to the window titled "Ordella_VanExcute".
class HostWindow {
 public:
  HostWindow() {
    endpoint_ = platform::WindowEndpoint::Create(
        "Ordella_VanExcute", "", [this](const platform::WindowMessage& message) -> int64_t {
          std::lock_guard<std::mutex> lock(mutex_);
          messages_.push_back(message);
          arrived_.notify_all();
          return 0;
        });
  }
  bool ready() const { return endpoint_ != nullptr; }

  std::vector<platform::WindowMessage> WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(kPatienceMs),
                      [&] { return messages_.size() >= count; });
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<platform::WindowMessage> messages_;
  std::unique_ptr<platform::WindowEndpoint> endpoint_;
};

class TerminalPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Status error;
    terminal_ = platform::SerialPort::OpenPeer(4, &error);
    ASSERT_NE(terminal_, nullptr) << error.message();
    ASSERT_TRUE(port_.Open("COM4", 115200));
  }

  // What the terminal receives, up to `want` bytes.
  std::string TerminalReads(size_t want) {
    std::string got;
    while (got.size() < want &&
           terminal_->WaitEvent(kPatienceMs) == platform::SerialPort::Event::kReadable) {
      unsigned char chunk[4096];
      const long n = terminal_->Read(chunk, sizeof(chunk));
      if (n > 0) got.append(reinterpret_cast<char*>(chunk), static_cast<size_t>(n));
    }
    return got;
  }

  // The receive queue's content once it holds `want` bytes.
  std::string QueueHolds(size_t want) {
    platform::testing::Eventually([&] { return port_.queue().Count() >= want; });
    return TakeAll(port_.queue());
  }

  platform::testing::TempPrefix prefix_;
  std::unique_ptr<platform::SerialPort> terminal_;
  TerminalPort port_{1};
};

TEST_F(TerminalPortTest, BytesMoveBothWaysInOrder) {
  EXPECT_TRUE(port_.connected());
  EXPECT_TRUE(port_.WatcherRunning());
  std::string sent;
  for (int i = 0; i < 3000; ++i) sent.push_back(static_cast<char>(i % 251));
  for (size_t at = 0; at < sent.size(); at += 700) {
    const std::string piece = sent.substr(at, 700);
    ASSERT_EQ(terminal_->Write(Bytes(piece), piece.size(), kPatienceMs),
              static_cast<long>(piece.size()));
  }
  EXPECT_EQ(QueueHolds(sent.size()), sent);

  const std::string frame = "\x02TavenorGatewayXX0035TRM841\x1c\x03\x2b";
  EXPECT_EQ(port_.Write(Bytes(frame), static_cast<int>(frame.size())),
            static_cast<int>(frame.size()));
  EXPECT_EQ(TerminalReads(frame.size()), frame);
}

TEST_F(TerminalPortTest, WritesFromTwoThreadsNeverInterleave) {
  constexpr int kFrames = 60;
  const std::string a(3000, 'A');
  const std::string b(3000, 'B');
  std::string received;
  std::thread reader([&] { received = TerminalReads(2 * kFrames * a.size()); });
  auto writer = [this](const std::string& frame) {
    for (int n = 0; n < kFrames; ++n) {
      EXPECT_EQ(port_.Write(Bytes(frame), static_cast<int>(frame.size())),
                static_cast<int>(frame.size()));
    }
  };
  std::thread host(writer, a);
  writer(b);
  host.join();
  reader.join();
  ASSERT_EQ(received.size(), 2 * kFrames * a.size());
  for (size_t at = 0; at < received.size(); at += a.size()) {
    const std::string frame = received.substr(at, a.size());
    EXPECT_TRUE(frame == a || frame == b) << "frame at " << at << " is mixed";
  }
}

TEST_F(TerminalPortTest, LastSentIsWrittenAgainAndBounded) {
  const std::string frame =
      "\x02XX0016TRM000\x1c"
      "BUSY\x03\x30";
  ASSERT_TRUE(port_.SetLastSent(frame));
  EXPECT_EQ(port_.WriteLastSent(), static_cast<int>(frame.size()));
  EXPECT_EQ(TerminalReads(frame.size()), frame);

  EXPECT_FALSE(port_.SetLastSent(std::string(TerminalPort::kLastSentSize + 1, 'x')));
  EXPECT_EQ(port_.WriteLastSent(), 0);  // an over-long frame is not resent cut short
}

TEST_F(TerminalPortTest, LostPortIsReportedToTheHostWindow) {
  HostWindow host;
  ASSERT_TRUE(host.ready());
  terminal_.reset();  // the terminal's end of the line is gone

  const std::vector<platform::WindowMessage> messages = host.WaitFor(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].msg, kHostNotifyMessage);
  EXPECT_EQ(messages[0].wparam, static_cast<uint64_t>(kEventPortLost));
  EXPECT_EQ(messages[0].lparam, 0);
  EXPECT_FALSE(port_.connected());

  port_.Close();
  EXPECT_FALSE(port_.WatcherRunning());
}

TEST_F(TerminalPortTest, CloseStopsTheWatcherAndLaterWritesReportNothing) {
  port_.Close();
  EXPECT_FALSE(port_.connected());
  EXPECT_FALSE(port_.WatcherRunning());
  const std::string frame = "\x06";
  EXPECT_EQ(port_.Write(Bytes(frame), 1), 0);
  // The port is free again once closed.
  EXPECT_TRUE(port_.Open("COM4", 115200));
}

TEST(TerminalPortOpen, MissingPortFails) {
  platform::testing::TempPrefix prefix;
  TerminalPort port(0);
  EXPECT_FALSE(port.Open("COM200", 115200));
  EXPECT_FALSE(port.connected());
  const std::string frame = "x";
  EXPECT_EQ(port.Write(Bytes(frame), 1), 0);
}

}  // namespace
}  // namespace hub
