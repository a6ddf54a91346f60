#include "platform/socket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace platform {
namespace {


// A listener on a free local port and one client connected to it.
struct Connected {
  std::unique_ptr<TcpListener> listener;
  UniqueFd client;  // the connecting end
  UniqueFd server;  // the accepted end
};

Connected Connect() {
  Connected c;
  EXPECT_TRUE(TcpListener::Listen("127.0.0.1", 0, 4, &c.listener).ok());
  if (!c.listener) return c;
  EXPECT_NE(c.listener->port(), 0);
  EXPECT_TRUE(TcpConnect("127.0.0.1", c.listener->port(), Deadline::After(10000), &c.client).ok());
  EXPECT_TRUE(c.listener->Accept(Deadline::After(10000), &c.server).ok());
  return c;
}

std::string ReceiveAll(int socket, size_t size) {
  std::string got(size, '\0');
  EXPECT_TRUE(ReceiveExactly(socket, got.data(), size, Deadline::After(10000)).ok());
  return got;
}

TEST(TcpTest, BytesCrossBothWaysAndAnEndIsSeenAsClosed) {
  Connected c = Connect();
  ASSERT_TRUE(c.server.valid());
  // More than a socket buffer holds at once, so SendAll has to wait for the reader.
  const std::string big(4 << 20, 'x');
  std::thread reader([&] { EXPECT_EQ(ReceiveAll(c.server.get(), big.size()), big); });
  EXPECT_TRUE(SendAll(c.client.get(), big, Deadline::After(10000)).ok());
  reader.join();

  ASSERT_TRUE(SendAll(c.server.get(), "answer", Deadline::Never()).ok());
  char buffer[64];
  size_t got = 0;
  ASSERT_TRUE(ReceiveSome(c.client.get(), buffer, sizeof buffer, Deadline::After(10000), &got).ok());
  EXPECT_EQ(std::string(buffer, got), "answer");

  // Nothing more to read: the deadline ends the wait.
  EXPECT_EQ(ReceiveSome(c.client.get(), buffer, sizeof buffer, Deadline::After(20), &got).code(),
            StatusCode::kTimedOut);
  EXPECT_EQ(got, 0u);

  CloseConnection(std::move(c.server));
  EXPECT_EQ(ReceiveSome(c.client.get(), buffer, sizeof buffer, Deadline::After(10000), &got).code(),
            StatusCode::kClosed);
}

// The system takes the limits as given, and refuses ones it cannot keep (no probe at all).
TEST(TcpTest, DeadPeerLimitsAreSetOrRefused) {
  Connected c = Connect();
  ASSERT_TRUE(c.server.valid());
  ASSERT_TRUE(DetectDeadPeer(c.server.get(), DeadPeerLimits{30, 10, 3}).ok());
  const auto option = [&](int level, int name) {
    int value = -1;
    socklen_t size = sizeof value;
    EXPECT_EQ(getsockopt(c.server.get(), level, name, &value, &size), 0);
    return value;
  };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 30);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 60000);
  EXPECT_FALSE(DetectDeadPeer(c.server.get(), DeadPeerLimits{30, 10, 0}).ok());
}

TEST(TcpTest, CancelEndsABlockedAcceptAndEveryLaterOne) {
  std::unique_ptr<TcpListener> listener;
  ASSERT_TRUE(TcpListener::Listen("127.0.0.1", 0, 4, &listener).ok());
  std::optional<StatusCode> ended;
  std::thread acceptor([&] {
    UniqueFd connection;
    ended = listener->Accept(Deadline::Never(), &connection).code();
  });
  listener->Cancel();
  acceptor.join();
  EXPECT_EQ(ended, StatusCode::kCancelled);

  UniqueFd connection;
  EXPECT_EQ(listener->Accept(Deadline::Never(), &connection).code(), StatusCode::kCancelled);
  EXPECT_FALSE(connection.valid());
}

TEST(TcpTest, AWaitingReceiveEndsWhenItsCancelIsSignalled) {
  Connected c = Connect();
  ASSERT_TRUE(c.server.valid());
  WakeEvent cancel;
  std::optional<StatusCode> ended;
  std::thread receiver([&] {
    char byte;
    size_t got = 0;
    ended = ReceiveSome(c.server.get(), &byte, 1, Deadline::Never(), &got, &cancel).code();
  });
  cancel.Signal();
  receiver.join();
  EXPECT_EQ(ended, StatusCode::kCancelled);
}

TEST(TcpTest, ConnectFailuresSayWhy) {
  // A port nobody listens at: the listener is gone again.
  uint16_t closed_port = 0;
  {
    std::unique_ptr<TcpListener> probe;
    ASSERT_TRUE(TcpListener::Listen("127.0.0.1", 0, 1, &probe).ok());
    closed_port = probe->port();
  }
  UniqueFd connection;
  const Status refused = TcpConnect("127.0.0.1", closed_port, Deadline::After(10000), &connection);
  EXPECT_EQ(refused.code(), StatusCode::kIoError);
  EXPECT_EQ(refused.system_error(), ECONNREFUSED);
  EXPECT_NE(refused.message().find(ErrnoText(ECONNREFUSED)), std::string::npos)
      << refused.message();
  EXPECT_FALSE(connection.valid());

  for (const char* address : {"", "localhost", "10.0.0", "1.2.3.4.5", "::1"}) {
    EXPECT_EQ(TcpConnect(address, 80, Deadline::After(0), &connection).code(),
              StatusCode::kInvalidArgument)
        << address;
  }
  EXPECT_EQ(TcpConnect("127.0.0.1", 0, Deadline::After(0), &connection).code(),
            StatusCode::kInvalidArgument);

  std::unique_ptr<TcpListener> listener;
  EXPECT_EQ(TcpListener::Listen("not an address", 0, 1, &listener).code(),
            StatusCode::kInvalidArgument);
  EXPECT_EQ(listener, nullptr);
}

TEST(TcpTest, APortTakenTwiceIsRefused) {
  std::unique_ptr<TcpListener> first;
  ASSERT_TRUE(TcpListener::Listen("127.0.0.1", 0, 1, &first).ok());
  std::unique_ptr<TcpListener> second;
  const Status taken = TcpListener::Listen("127.0.0.1", first->port(), 1, &second);
  EXPECT_EQ(taken.system_error(), EADDRINUSE) << taken.message();
  EXPECT_EQ(second, nullptr);
}

TEST(TcpTest, NamesResolveToDottedAddressesOrNothing) {
  EXPECT_EQ(ResolveIpv4("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ResolveIpv4("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveIpv4("no-such-host.invalid"), "");
}

TEST(TcpTest, PortsAreDecimalFrom1To65535) {
  struct Case {
    const char* text;
    std::optional<uint16_t> port;
  };
  const Case cases[] = {{"15041", 15041}, {"1", 1},        {"65535", 65535}, {"0", std::nullopt},
                        {"65536", std::nullopt}, {"", std::nullopt}, {" 80", std::nullopt},
                        {"80 ", std::nullopt},   {"-1", std::nullopt}, {"8o", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(ParsePort(c.text), c.port) << c.text;
}

}  // namespace
}  // namespace platform
