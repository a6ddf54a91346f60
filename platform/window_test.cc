#include "platform/window.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/child_process.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"

namespace platform {
namespace {

using testing::ChildProcess;
using testing::StartPeer;

constexpr int kPatienceMs = 30000;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kHostNotification = 2124;

// Collects what a window's handler is given, and lets a test hold the handler back.
class Inbox {
 public:
  WindowHandler Handler() {
    return [this](const WindowMessage& message) -> int64_t {
      std::unique_lock<std::mutex> lock(mutex_);
      messages_.push_back(message);
      changed_.notify_all();
      changed_.wait(lock, [this] { return !held_; });
      return static_cast<int64_t>(message.copy_data.size() + message.copy_data_id);
    };
  }

  // True once `count` messages have arrived (within the test's patience).
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kPatienceMs),
                             [&] { return messages_.size() >= count; });
  }

  void Hold(bool held) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = held;
    changed_.notify_all();
  }

  std::vector<WindowMessage> messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<WindowMessage> messages_;
  bool held_ = false;
};

class WindowTest : public ::testing::Test {
 protected:
  testing::TempPrefix prefix_;
  Inbox inbox_;
};

TEST_F(WindowTest, CopyDataReachesTheHandlerAndItsResultComesBack) {
  std::unique_ptr<WindowEndpoint> window = WindowEndpoint::Create("Helvar", "", inbox_.Handler());
  ASSERT_NE(window, nullptr);
  const std::string payloads[] = {"", std::string("8801234\0\xFF", 9),
                                  "\xB9\xD9\xC4\xDA\xB5\xE5",  // CP949 text
                                  std::string(kMaxCopyDataBytes, 'x')};
  uint64_t code = 705;
  for (const std::string& payload : payloads) {
    SCOPED_TRACE(payload.size());
    int64_t result = -1;
    ASSERT_TRUE(SendCopyData(window->handle(), code, code, payload, &result));
    EXPECT_EQ(result, static_cast<int64_t>(payload.size() + code));
    WindowMessage got = inbox_.messages().back();
    EXPECT_EQ(got.msg, kWmCopyData);
    EXPECT_EQ(got.wparam, code);
    EXPECT_EQ(got.copy_data_id, code);
    EXPECT_EQ(got.copy_data, payload);
    ++code;
  }
  int64_t untouched = -1;
  EXPECT_FALSE(
      SendCopyData(window->handle(), 1, 1, std::string(kMaxCopyDataBytes + 1, 'x'), &untouched));
  EXPECT_EQ(untouched, -1);
  EXPECT_EQ(inbox_.messages().size(), std::size(payloads));
}

TEST_F(WindowTest, FoundByExactTitleAndClassOnlyWhileAlive) {
  std::unique_ptr<WindowEndpoint> window =
      WindowEndpoint::Create("Ordella_VanExcute", "TfrmPMMain6", inbox_.Handler());
  ASSERT_NE(window, nullptr);
  std::optional<WindowHandle> by_title = FindWindowByTitle("Ordella_VanExcute");
  std::optional<WindowHandle> by_class = FindWindowByClass("TfrmPMMain6");
  ASSERT_TRUE(by_title && by_class);
  EXPECT_EQ(by_title->path, window->handle().path);
  EXPECT_EQ(by_class->path, window->handle().path);
  EXPECT_FALSE(FindWindowByTitle("ordella_vanexcute"));
  EXPECT_FALSE(FindWindowByTitle("TfrmPMMain6")) << "titles and classes are apart";
  EXPECT_FALSE(FindWindowByTitle(""));

  const WindowHandle old = window->handle();
  window.reset();
  EXPECT_FALSE(FindWindowByTitle("Ordella_VanExcute"));
  EXPECT_FALSE(FindWindowByClass("TfrmPMMain6"));
  EXPECT_FALSE(SendCopyData(old, 705, 705, "x", nullptr));
  EXPECT_FALSE(PostWindowMessage(old, kHostNotification, 1, 0));
}

TEST_F(WindowTest, NameHeldByALiveEndpointIsRefusedAndFreedOnClose) {
  struct Case {
    const char* title;
    const char* class_name;
  };
  const Case holders[] = {{"Helvar", ""}, {"", "TfrmPMMain6"}};
  for (const Case& holder : holders) {
    SCOPED_TRACE(std::string(holder.title) + "/" + holder.class_name);
    std::unique_ptr<WindowEndpoint> first =
        WindowEndpoint::Create(holder.title, holder.class_name, inbox_.Handler());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(WindowEndpoint::Create(holder.title, holder.class_name, inbox_.Handler()), nullptr);
    first.reset();
    EXPECT_NE(WindowEndpoint::Create(holder.title, holder.class_name, inbox_.Handler()), nullptr);
  }
  // A refused endpoint leaves the holder's other name alone.
  std::unique_ptr<WindowEndpoint> holder = WindowEndpoint::Create("Helvar", "A", inbox_.Handler());
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(WindowEndpoint::Create("B", "A", inbox_.Handler()), nullptr);
  EXPECT_FALSE(FindWindowByTitle("B"));
  EXPECT_TRUE(FindWindowByClass("A"));
}

TEST_F(WindowTest, UnusableEndpointsAreRefused) {
  EXPECT_EQ(WindowEndpoint::Create("Helvar", "", nullptr), nullptr);
  EXPECT_EQ(WindowEndpoint::Create(std::string(200, 'T'), "", inbox_.Handler()), nullptr);
  EXPECT_FALSE(FindWindowByTitle(std::string(200, 'T')));
}

TEST_F(WindowTest, MessagesAreHandledOneAtATimeInArrivalOrder) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<uint64_t> order;
  std::unique_ptr<WindowEndpoint> window =
      WindowEndpoint::Create("Helvar", "", [&](const WindowMessage& message) -> int64_t {
        if (inside.fetch_add(1) != 0) overlapped = true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        order.push_back(message.wparam);
        inside.fetch_sub(1);
        return 0;
      });
  ASSERT_NE(window, nullptr);
  for (uint64_t i = 0; i < 100; ++i) {
    ASSERT_TRUE(PostWindowMessage(window->handle(), kHostNotification, i, 0));
  }
  ASSERT_TRUE(SendCopyData(window->handle(), 100, 100, "last", nullptr));
  std::vector<uint64_t> expected;
  for (uint64_t i = 0; i <= 100; ++i) expected.push_back(i);
  EXPECT_EQ(order, expected) << "posts are handled before a send that came after them";

  std::vector<std::thread> senders;
  std::atomic<int> delivered{0};
  for (int s = 0; s < 4; ++s) {
    senders.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        if (SendCopyData(window->handle(), 1, 1, "x", nullptr)) ++delivered;
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  EXPECT_EQ(delivered.load(), 100);
  EXPECT_FALSE(overlapped.load());
}

TEST_F(WindowTest, SendFromTheHandlerToItsOwnWindowIsHandledDirectly) {
  std::unique_ptr<WindowEndpoint> window;
  window = WindowEndpoint::Create("Helvar", "", [&](const WindowMessage& message) -> int64_t {
    if (message.copy_data_id == 1) {
      int64_t inner = 0;
      if (!SendCopyData(window->handle(), 2, 2, "inner", &inner, 2000)) return -1;
      return inner + 1;
    }
    return 41;
  });
  ASSERT_NE(window, nullptr);
  int64_t result = 0;
  ASSERT_TRUE(SendCopyData(window->handle(), 1, 1, "outer", &result));
  EXPECT_EQ(result, 42);
}

TEST_F(WindowTest, ClosingFailsSendsStillWaitingAndHandlesNoMore) {
  std::unique_ptr<WindowEndpoint> window = WindowEndpoint::Create("Helvar", "", inbox_.Handler());
  ASSERT_NE(window, nullptr);
  const WindowHandle handle = window->handle();
  inbox_.Hold(true);
  bool first_sent = false;
  bool second_sent = true;
  std::thread first([&] { first_sent = SendCopyData(handle, 1, 1, "being handled", nullptr); });
  ASSERT_TRUE(inbox_.WaitFor(1));
  std::thread second([&] { second_sent = SendCopyData(handle, 2, 2, "waiting", nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely queued by now

  std::thread closing([&] { window.reset(); });
  testing::Eventually([] { return !FindWindowByTitle("Helvar"); });
  inbox_.Hold(false);
  closing.join();
  first.join();
  second.join();
  EXPECT_TRUE(first_sent) << "the message in hand is finished";
  EXPECT_FALSE(second_sent);
  EXPECT_EQ(inbox_.messages().size(), 1u);
}

TEST_F(WindowTest, PostsBeyondAFullQueueAreRefused) {
  std::unique_ptr<WindowEndpoint> window = WindowEndpoint::Create("Helvar", "", inbox_.Handler());
  ASSERT_NE(window, nullptr);
  inbox_.Hold(true);
  ASSERT_TRUE(PostWindowMessage(window->handle(), kHostNotification, 0, 0));
  ASSERT_TRUE(inbox_.WaitFor(1));  // in the handler, so out of the queue
  for (uint64_t i = 1; i <= 10000; ++i) {
    ASSERT_TRUE(PostWindowMessage(window->handle(), kHostNotification, i, 0)) << i;
  }
  EXPECT_FALSE(PostWindowMessage(window->handle(), kHostNotification, 10001, 0));
  inbox_.Hold(false);
  ASSERT_TRUE(inbox_.WaitFor(10001));  // the queue has room again
  ASSERT_TRUE(SendCopyData(window->handle(), 1, 1, "after", nullptr));
  EXPECT_EQ(inbox_.messages().size(), 10002u);
}

// A client that speaks the endpoint's wire format by hand, to send what ours never would.
class RawClient {
 public:
  explicit RawClient(const WindowHandle& window) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, window.path.c_str(), sizeof(address.sun_path) - 1);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawClient() { close(fd_); }
  bool connected() const { return connected_; }

  // magic, kind, msg, wparam, lparam, copy_data_id, length, little-endian.
  bool SendHeader(uint32_t magic, uint32_t kind, uint32_t msg, uint32_t length, size_t cut = 40) {
    std::array<unsigned char, 40> header{};
    auto put = [&](size_t at, uint64_t value, size_t width) {
      for (size_t i = 0; i < width; ++i)
        header[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    put(0, magic, 4);
    put(4, kind, 4);
    put(8, msg, 4);
    put(36, length, 4);
    return write(fd_, header.data(), cut) == static_cast<ssize_t>(cut);
  }

  // The reply's status word; nullopt when the endpoint closed without one.
  std::optional<uint32_t> ReplyStatus() {
    std::array<unsigned char, 12> reply{};
    size_t got = 0;
    while (got < reply.size()) {
      ssize_t n = read(fd_, reply.data() + got, reply.size() - got);
      if (n <= 0) return std::nullopt;
      got += static_cast<size_t>(n);
    }
    return reply[0] | reply[1] << 8 | reply[2] << 16 | static_cast<uint32_t>(reply[3]) << 24;
  }

 private:
  int fd_;
  bool connected_ = false;
};

TEST_F(WindowTest, MalformedMessagesAreRefusedAndTheEndpointCarriesOn) {
  std::unique_ptr<WindowEndpoint> window = WindowEndpoint::Create("Helvar", "", inbox_.Handler());
  ASSERT_NE(window, nullptr);
  constexpr uint32_t kMagic = 0x5744524F;
  constexpr uint32_t kSend = 1;
  constexpr uint32_t kPost = 2;
  struct Case {
    const char* what;
    uint32_t magic, kind, msg, length;
  };
  const Case cases[] = {
      {"wrong magic", 0x12345678, kSend, kWmCopyData, 0},
      {"unknown kind", kMagic, 7, kWmCopyData, 0},
      {"send of another message", kMagic, kSend, kHostNotification, 0},
      {"copy data too long", kMagic, kSend, kWmCopyData, kMaxCopyDataBytes + 1},
      {"post with data", kMagic, kPost, kHostNotification, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawClient client(window->handle());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.SendHeader(c.magic, c.kind, c.msg, c.length));
    EXPECT_EQ(client.ReplyStatus(), 0u);
  }

  // A sender that stalls half-way through its header is dropped; others still get through.
  RawClient stalled(window->handle());
  ASSERT_TRUE(stalled.SendHeader(kMagic, kSend, kWmCopyData, 0, 10));
  int64_t result = 0;
  EXPECT_TRUE(SendCopyData(window->handle(), 705, 705, "ok", &result));
  EXPECT_EQ(result, 707);
  EXPECT_EQ(stalled.ReplyStatus(), std::nullopt);
  EXPECT_EQ(inbox_.messages().size(), 1u);
}

TEST_F(WindowTest, WorksUnderAPrefixLongerThanASocketAddress) {
  const std::string deep = (prefix_.path() / std::string(120, 'p')).string();
  setenv("ORDELLA_PREFIX", deep.c_str(), 1);  // TempPrefix restores it
  std::unique_ptr<WindowEndpoint> window = WindowEndpoint::Create("Helvar", "", inbox_.Handler());
  ASSERT_NE(window, nullptr);
  ASSERT_GT(window->handle().path.size(), sizeof(sockaddr_un::sun_path));
  std::optional<WindowHandle> found = FindWindowByTitle("Helvar");
  ASSERT_TRUE(found);
  int64_t result = 0;
  EXPECT_TRUE(SendCopyData(*found, 705, 705, "deep", &result));
  EXPECT_EQ(result, 709);
  EXPECT_EQ(WindowEndpoint::Create("Helvar", "", inbox_.Handler()), nullptr);
}

std::vector<std::string> Lines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(WindowTest, CopyDataAndPostsReachAWindowOfAnotherProcess) {
  const std::filesystem::path record = prefix_.path() / "record.txt";
  std::unique_ptr<ChildProcess> peer = StartPeer({"window", "Helvar", record.string(), "#32770"});
  ASSERT_NE(peer, nullptr);
  ASSERT_EQ(peer->ReadLine(), "ready");
  std::optional<WindowHandle> helvar = FindWindowByTitle("Helvar");
  ASSERT_TRUE(helvar);
  ASSERT_TRUE(FindWindowByClass("#32770"));
  EXPECT_EQ(FindWindowByClass("#32770")->path, helvar->path);

  int64_t result = 0;
  ASSERT_TRUE(SendCopyData(*helvar, 705, 705, "8801234567890", &result));
  EXPECT_EQ(result, peer->pid()) << "the result is the other process's handler's";
  ASSERT_TRUE(PostWindowMessage(*helvar, kHostNotification, 7, -1));
  ASSERT_TRUE(PostWindowMessage(*helvar, kWmClose, 0, 0));
  EXPECT_EQ(peer->Wait(kPatienceMs), 0);
  EXPECT_FALSE(FindWindowByTitle("Helvar"));
  EXPECT_EQ(Lines(record), (std::vector<std::string>{"copy 705 705 " + ToHex("8801234567890"),
                                                     "post 2124 7 -1", "post 16 0 0"}));
}

TEST_F(WindowTest, NameOfACrashedOwnerIsTakenOver) {
  const std::filesystem::path record = prefix_.path() / "record.txt";
  std::unique_ptr<ChildProcess> peer = StartPeer({"window", "Helvar", record.string()});
  ASSERT_NE(peer, nullptr);
  ASSERT_EQ(peer->ReadLine(), "ready");
  std::optional<WindowHandle> crashed = FindWindowByTitle("Helvar");
  ASSERT_TRUE(crashed);
  peer->Kill();

  EXPECT_FALSE(FindWindowByTitle("Helvar"));
  EXPECT_FALSE(SendCopyData(*crashed, 705, 705, "x", nullptr));
  std::unique_ptr<WindowEndpoint> restarted =
      WindowEndpoint::Create("Helvar", "", inbox_.Handler());
  ASSERT_NE(restarted, nullptr);
  std::optional<WindowHandle> found = FindWindowByTitle("Helvar");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path, restarted->handle().path);
  EXPECT_TRUE(SendCopyData(*found, 705, 705, "x", nullptr));
}

// A window passed on as its 32-bit id (as a host hands its window to a module) leads back to
// that endpoint, and to nothing once the endpoint is gone.
TEST_F(WindowTest, WindowIdLeadsToItsEndpointOnlyWhileAlive) {
  std::unique_ptr<WindowEndpoint> host =
      WindowEndpoint::Create("Ordella_VanExcute", "", inbox_.Handler());
  Inbox unnamed_inbox;
  std::unique_ptr<WindowEndpoint> unnamed = WindowEndpoint::Create("", "", unnamed_inbox.Handler());
  ASSERT_TRUE(host && unnamed);
  ASSERT_NE(host->hwnd(), 0u);
  ASSERT_NE(unnamed->hwnd(), 0u);
  EXPECT_NE(host->hwnd(), unnamed->hwnd());

  for (WindowEndpoint* window : {host.get(), unnamed.get()}) {
    std::optional<WindowHandle> found = WindowFromHwnd(window->hwnd());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, window->handle().path);
  }
  ASSERT_TRUE(PostWindowMessage(*WindowFromHwnd(host->hwnd()), kHostNotification, 1030, 1));
  ASSERT_TRUE(inbox_.WaitFor(1));
  EXPECT_EQ(inbox_.messages()[0].wparam, 1030u);

  const uint32_t gone = host->hwnd();
  host.reset();
  EXPECT_FALSE(WindowFromHwnd(gone));
  EXPECT_FALSE(WindowFromHwnd(0));
  EXPECT_TRUE(WindowFromHwnd(unnamed->hwnd()));
}

}  // namespace
}  // namespace platform
