// The module's side of the status board (protocol/status_board.h): the main thread opens it when
// the module starts and marks it stopped when the module stops; the terminal links note their
// kind and each frame they dispatch; the main thread's once-a-second look writes the heartbeat
// and the relay slot's state. Every call is cheap (a few stores into mapped memory) and does
// nothing while no board is open (a test that runs a loop alone, or a board that could not be
// created, which is logged once).
#pragma once

#include <cstdint>
#include <string_view>

#include "hub/core/relay_slot.h"

namespace hub {

// Opens (or reopens) the board and marks the module running. The mapping then stays for the
// life of the process, so a terminal loop that outlives the module never writes into memory
// that has gone.
void StartModuleStatus();
void StopModuleStatus();

void NoteTerminalLink(int terminal, int32_t link, std::string_view port);
void NoteTerminalFrame(int terminal, int32_t code);
// The heartbeat with the relay slot's state (an idle slot when null).
void PublishModuleHeartbeat(const RelaySlot* slot);

}  // namespace hub
