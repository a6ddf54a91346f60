// The start hooks of the local listeners that the start sequence calls with the port of each
// listener's property text. The TCP terminal with its remote relay peer loop is not built yet:
// its hook reports it as not started, and the start sequence posts its failure notification.
#include "hub/core/local_listener.h"
#include "hub/core/manager_main_thread.h"

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

std::optional<TcpTerminalWorkers> StartTcpTerminal(int /*port*/) { return std::nullopt; }

}  // namespace hub
