// The start hooks of the local listeners and of the TCP terminal that the start sequence calls
// with the port of each listener's property text.
#include "hub/core/local_listener.h"
#include "hub/core/manager_main_thread.h"
#include "hub/core/module_state.h"
#include "hub/core/tcp_terminal.h"

namespace hub {
namespace {

std::unique_ptr<Worker> StartLocalListener(ListenerKind kind, int port) {
  if (port <= 0 || port > 65535) return nullptr;
  return LocalListener::Start(kind, static_cast<uint16_t>(port), ListenerServices::ForModule());
}

}  // namespace

std::unique_ptr<Worker> StartPosRequestListener(int port) {
  return StartLocalListener(ListenerKind::kPosRequest, port);
}

std::unique_ptr<Worker> StartFirstAckListener(int port) {
  return StartLocalListener(ListenerKind::kFirstAck, port);
}

std::unique_ptr<Worker> StartSecondAckListener(int port) {
  return StartLocalListener(ListenerKind::kSecondAck, port);
}

std::optional<TcpTerminalWorkers> StartTcpTerminal(int port) {
  if (port <= 0 || port > 65535) return std::nullopt;
  const RelayPeer peer = RelayPeer::FromSettings(PropertyRecord());
  std::unique_ptr<TcpTerminal> terminal = TcpTerminal::Start(
      static_cast<uint16_t>(port), TerminalLoopServices::ForModule(), peer.configured());
  if (terminal == nullptr) return std::nullopt;
  RelayPeerServices services;
  services.running = &Module().running;
  services.relay_slot = &Module().relay_slot;
  services.notify = &PostHostNotification;
  services.log = ModuleLogTarget();
  TcpTerminalWorkers workers;
  workers.write = [raw = terminal.get()](std::string_view bytes) {
    return raw->WriteToTerminal(bytes);
  };
  workers.listener = std::move(terminal);
  workers.peer_loop = RemoteRelayPeerLoop::Start(peer, std::move(services));
  return workers;
}

}  // namespace hub
