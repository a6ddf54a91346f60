// The host program with the hub and a card terminal that reaches it over TCP, in one temporary
// prefix: the link check, the greeting and a frame the host asks for; a POS request delivered to
// a remote relay peer instead of the connected terminal; and, on a serial terminal, VAN traffic
// passed to the VAN module (our libOrdella_TavenorVanDll.so) and on to the simulated VAN server
// beside the gateway frames, with the module's state changes reported to the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "companions/tavenorvan/van_link.h"
#include "platform/socket.h"
#include "platform/testing/answering_peer.h"
#include "platform/testing/support.h"
#include "protocol/frame.h"
#include "protocol/testing/gateway_server_sim.h"
#include "tests/e2e/host_fixture.h"
#include "tools/pos_client.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

using terminal_sim::Received;
using terminal_sim::TerminalSimulator;

constexpr char kLinkCheck[] = "\x05\x05\x05";
constexpr char kGreeting[] = "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||";

// A port that is free now (the system picks it; the hub takes it again moments later).
uint16_t FreePort() {
  std::unique_ptr<platform::TcpListener> listener;
  EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
  return listener ? listener->port() : 0;
}

class TcpTerminalTest : public HostTest {
 protected:
  // Starts the host with terminal 0 as the TCP terminal and waits for its listener (1010).
  void StartWithTcpTerminal(const std::string& more_settings = "") {
    StartHost("terminal_count = 1\nterminal0_port = 0\ntcp_terminal_port = " +
              std::to_string(tcp_port_) + "\n" + more_settings);
    ASSERT_TRUE(host_->ReadLineWith("notify code=1010 terminal=0 ", kPatienceMs)) << Diagnostics();
  }

  std::unique_ptr<TerminalSimulator> ConnectTerminal() {
    std::string error;
    std::unique_ptr<TerminalSimulator> terminal =
        TerminalSimulator::ConnectTcp("127.0.0.1", tcp_port_, &error);
    EXPECT_NE(terminal, nullptr) << error;
    return terminal;
  }

  // The next messages the terminal gets, described, `count` of them.
  static std::vector<std::string> Next(TerminalSimulator& terminal, size_t count) {
    std::vector<std::string> described;
    while (described.size() < count) {
      std::optional<Received> message = terminal.Next(kPatienceMs);
      if (!message) break;
      described.push_back(terminal_sim::Describe(*message));
    }
    return described;
  }

  const uint16_t tcp_port_ = FreePort();
};

TEST_F(TcpTerminalTest, ATcpTerminalIsLinkCheckedGreetedAndGetsTheHostsFrames) {
  StartWithTcpTerminal();
  std::unique_ptr<TerminalSimulator> terminal = ConnectTerminal();
  ASSERT_NE(terminal, nullptr);
  // The echo of the link check and the greeting, in whichever order the hub sent them.
  std::vector<std::string> first = Next(*terminal, 2);
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<std::string>{"bytes 050505", kGreeting})) << Diagnostics();
  // The connection and the link check are both reported.
  ASSERT_TRUE(host_->ReadLineWith("notify code=1010 terminal=0 ", kPatienceMs)) << Diagnostics();
  ASSERT_TRUE(host_->ReadLineWith("notify code=1010 terminal=0 ", kPatienceMs)) << Diagnostics();

  ASSERT_TRUE(host_->WriteLine("send 843 0"));
  EXPECT_EQ(Next(*terminal, 1),
            (std::vector<std::string>{"frame 843 prefix=yes length=39 check=ok fields=5 ||00|00|00"}))
      << Diagnostics();
}

TEST_F(TcpTerminalTest, WithARemoteRelayPeerThePosRequestGoesToThePeerNotToTheTerminal) {
  // The remote relay peer acknowledges every delivery.
  platform::testing::AnsweringPeer peer("\x06\x06\x06");
  const uint16_t pos_port = FreePort();
  StartWithTcpTerminal("relay_peer_address = 127.0.0.1\nrelay_peer_port = " +
                       std::to_string(peer.port()) + "\npos_listener_port = " +
                       std::to_string(pos_port) + "\n");
  EXPECT_EQ(peer.AwaitReceived(1).at(0), protocol::LinkFrame(841)) << Diagnostics();
  std::unique_ptr<TerminalSimulator> terminal = ConnectTerminal();
  ASSERT_NE(terminal, nullptr);
  EXPECT_EQ(Next(*terminal, 1), (std::vector<std::string>{"bytes 050505"}));

  std::unique_ptr<pos_client::Connection> client;
  ASSERT_TRUE(platform::testing::Eventually([&] {
    client = pos_client::Connection::Open(pos_port, kPatienceMs, nullptr);
    return client != nullptr;
  })) << Diagnostics();
  const std::string request = pos_client::RequestFrame(843, {"", "", "01", "02", "03"}).value();
  ASSERT_TRUE(client->Send(request));
  const std::vector<std::string> deliveries = peer.AwaitReceived(2);
  ASSERT_GE(deliveries.size(), 2u);
  EXPECT_NE(deliveries[1].find("843\x1C\x1C\x1C" "01\x1C" "02\x1C" "03"), std::string::npos)
      << platform::testing::ReadFile(install_dir_ / "Log");
  EXPECT_TRUE(host_->ReadLineWith("notify code=951 terminal=0 ", kPatienceMs)) << Diagnostics();
  std::string answer;
  EXPECT_TRUE(client->ReceiveUntilClosed(kPatienceMs, &answer)) << Diagnostics();

  // Neither the greeting nor the request reached the connected terminal: the next thing it gets
  // is the host's frame.
  ASSERT_TRUE(host_->WriteLine("send 843 0"));
  EXPECT_EQ(Next(*terminal, 1),
            (std::vector<std::string>{"frame 843 prefix=yes length=39 check=ok fields=5 ||00|00|00"}))
      << Diagnostics();
}

class VanModuleTest : public HostTest {
 protected:
  static constexpr int kTerminalCom = 6;
};

TEST_F(VanModuleTest, VanTrafficReachesTheVanServerUnchangedBesideDispatchedFrames) {
  std::string error;
  gateway_sim::Options options;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> server =
      gateway_sim::GatewayServerSimulator::Start(options, &error);
  ASSERT_NE(server, nullptr) << error;
  std::unique_ptr<TerminalSimulator> terminal = TerminalSimulator::Create(kTerminalCom, &error);
  ASSERT_NE(terminal, nullptr) << error;
  StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kTerminalCom) +
                "\nserver_address = 127.0.0.1\n",
            {{tavenor_van::kServerPortVariable,
              std::to_string(server->port(gateway_sim::PortKind::kVanLink))}});
  ASSERT_TRUE(terminal->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();

  // One write: a VAN message, then a gateway frame (820: today's prescriptions, Helvar 300).
  const std::string van_message = tavenor_van::EncodeMessage("PAY 12000").value();
  ASSERT_TRUE(terminal->Send(van_message + terminal_sim::TerminalFrame(820, {}).value()));

  ASSERT_TRUE(WaitForText(helvar_log_, "request code=300 ")) << Diagnostics();
  ASSERT_TRUE(server->WaitForReceived(1, kPatienceMs)) << Diagnostics();
  EXPECT_EQ(server->Received().at(0).port, gateway_sim::PortKind::kVanLink);
  EXPECT_EQ(server->Received().at(0).bytes, van_message);
  std::optional<Received> answer;
  do {
    answer = terminal->Next(kPatienceMs);  // past a reply to the 820, should one come
  } while (answer && answer->kind != Received::Kind::kBytes);
  ASSERT_TRUE(answer.has_value()) << Diagnostics();
  EXPECT_EQ(answer->bytes, tavenor_van::EncodeMessage("ANSPAY 12000").value());

  // The module's state went 0, 3, 0: reported twice, as 3 and then as 0.
  ASSERT_TRUE(host_->ReadLineWith("notify code=3 terminal=0 ", kPatienceMs)) << Diagnostics();
  ASSERT_TRUE(host_->ReadLineWith("notify code=0 terminal=0 ", kPatienceMs)) << Diagnostics();
  ASSERT_TRUE(host_->WriteLine("quit"));
  EXPECT_EQ(host_->Wait(kPatienceMs), 0) << host_->output();
  const std::string output = host_->output();
  size_t reports = 0;
  for (size_t at = 0; (at = output.find("notify code=3 terminal=0 ", at)) != std::string::npos;
       ++at) {
    ++reports;
  }
  EXPECT_EQ(reports, 1u) << output;
}

}  // namespace
}  // namespace e2e
