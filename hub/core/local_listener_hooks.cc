// The start hooks of the local listeners (POS requests, the two acknowledgement listeners, the
// TCP terminal with its remote relay peer loop). The listeners are not built yet: each hook
// reports its listener as not started, and the start sequence posts the listener's failure
// notification to the host. The listeners replace these hooks.
#include "hub/core/manager_main_thread.h"

namespace hub {

std::unique_ptr<Worker> StartPosRequestListener(int /*port*/) { return nullptr; }

std::unique_ptr<Worker> StartFirstAckListener(int /*port*/) { return nullptr; }

std::unique_ptr<Worker> StartSecondAckListener(int /*port*/) { return nullptr; }

std::optional<TcpTerminalWorkers> StartTcpTerminal(int /*port*/) { return std::nullopt; }

}  // namespace hub
