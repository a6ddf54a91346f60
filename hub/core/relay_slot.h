// The relay slot: the single record through which a POS client's request reaches terminal 0 and
// its answer returns. One request occupies it at a time. The threads that share it (the
// listeners that queue a request, terminal 0's loop that sends it and watches its
// acknowledgement, whoever answers the POS client) hand it over through `send_state`, stored last
// by every writer (release) and read first by every reader (acquire).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/process.h"

namespace hub {

struct RelaySlot {
  static constexpr size_t kSendBufferSize = 80000;

  // Send states.
  static constexpr int32_t kIdle = 0;
  static constexpr int32_t kWaiting = 1;  // a frame waits to be sent to the terminal
  static constexpr int32_t kSent = 2;     // sent, waiting for the terminal (each send adds 1)

  static constexpr int kNoClient = -1;

  // The frame (or frames) waiting for terminal 0 and how many bytes of it there are.
  std::array<unsigned char, kSendBufferSize> send_buffer{};
  std::atomic<int32_t> byte_count{0};
  std::atomic<int32_t> send_state{kIdle};
  // The socket of the POS or acknowledgement-listener client waiting for the answer.
  std::atomic<int> relay_client{kNoClient};
  // Tick count (platform::GetTickCount) of the last send to the terminal.
  std::atomic<uint32_t> send_time{0};
  // Set once the terminal has acknowledged the sent frame.
  std::atomic<bool> acknowledged{false};
  // Message code of the current POS request and of the terminal's last answer.
  std::atomic<int32_t> pending_request_code{0};
  std::atomic<int32_t> last_terminal_code{0};

  // The sign-pad module library (KiccPad.DLL), loaded when the slot is created; null when it is
  // missing, and the card payments that need it then fail.
  std::unique_ptr<platform::Library> sign_pad;
};

}  // namespace hub
