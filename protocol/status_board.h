// The hub's status board "ordellastatus": what the hub is doing right now, kept in a named
// mapping so that the status command (tools/ordella_status) can read it from its own process
// without asking the hub anything and without writing anything. The hub creates it when its main
// thread starts and is its only writer; a reader maps it read-only.
//
// Board (kStatusBoardSize bytes); every field is a native-endian integer read and written whole
// (std::atomic_ref), so a reader never sees half a value:
//
//   offset 0   magic "OSTB" (uint32)            offset 4   layout version (uint32)
//   offset 8   pid of the hub's process (int64)
//   offset 16  wall time the module started (int64, ms since 1970-01-01 UTC)
//   offset 24  heartbeat: wall time of the main thread's last look (int64; about once a second)
//   offset 32  module state (int32: 1 running, 0 stopped)
//   offset 36  relay slot: send state, pending request code, relay client waiting (0/1),
//              last terminal code (4 x int32)
//   offset 52  (4 bytes unused, so that every 64-bit field is aligned)
//   offset 56  terminals 0-2, kTerminalEntrySize bytes each:
//                +0   link kind (int32: 0 not started, 1 serial, 2 TCP)
//                +4   message code of the last frame dispatched (int32)
//                +8   wall time of the last frame (int64)
//                +16  frames dispatched since the start (int64)
//                +24  the link's port text, NUL-padded ("COM1", "TCP 5555")
//
// The hub keeps the board mapped until its process ends; a stopped module leaves state 0 and
// its last figures. A board whose magic or version differs is not read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace protocol {

inline constexpr std::string_view kStatusBoardName = "ordellastatus";
inline constexpr uint32_t kStatusBoardMagic = 0x4254534F;  // "OSTB" in memory order
inline constexpr uint32_t kStatusBoardVersion = 1;

inline constexpr int kStatusTerminals = 3;
inline constexpr size_t kStatusPortRoom = 16;

inline constexpr size_t kBoardMagicOffset = 0;
inline constexpr size_t kBoardVersionOffset = 4;
inline constexpr size_t kBoardPidOffset = 8;
inline constexpr size_t kBoardStartedOffset = 16;
inline constexpr size_t kBoardHeartbeatOffset = 24;
inline constexpr size_t kBoardStateOffset = 32;
inline constexpr size_t kBoardRelayOffset = kBoardStateOffset + 4;           // 36
inline constexpr size_t kBoardRelayFields = 4;
inline constexpr size_t kBoardTerminalsOffset = kBoardRelayOffset + 4 * kBoardRelayFields + 4;  // 56
inline constexpr size_t kTerminalLinkOffset = 0;
inline constexpr size_t kTerminalCodeOffset = 4;
inline constexpr size_t kTerminalTimeOffset = 8;
inline constexpr size_t kTerminalFramesOffset = 16;
inline constexpr size_t kTerminalPortOffset = 24;
inline constexpr size_t kTerminalEntrySize = kTerminalPortOffset + kStatusPortRoom;  // 40
inline constexpr size_t kStatusBoardSize =
    kBoardTerminalsOffset + kStatusTerminals * kTerminalEntrySize;  // 176
static_assert(kBoardTerminalsOffset % 8 == 0 && kTerminalEntrySize % 8 == 0,
              "the 64-bit fields of the terminal entries must be aligned");

// Link kinds.
inline constexpr int32_t kBoardLinkNone = 0;
inline constexpr int32_t kBoardLinkSerial = 1;
inline constexpr int32_t kBoardLinkTcp = 2;

struct BoardRelay {
  int32_t send_state = 0;
  int32_t pending_request_code = 0;
  int32_t client_waiting = 0;
  int32_t last_terminal_code = 0;
};

struct BoardTerminal {
  int32_t link = kBoardLinkNone;
  int32_t last_code = 0;
  int64_t last_frame_ms = 0;
  int64_t frames = 0;
  std::string port;
};

struct BoardSnapshot {
  int64_t pid = 0;
  int64_t started_ms = 0;
  int64_t heartbeat_ms = 0;
  bool running = false;
  BoardRelay relay;
  std::array<BoardTerminal, kStatusTerminals> terminals;
};

// The hub's side. `board` is the mapping's view of kStatusBoardSize bytes at least.
void StartBoard(unsigned char* board, int64_t pid, int64_t now_ms);  // all else cleared
void StopBoard(unsigned char* board);
void WriteBoardHeartbeat(unsigned char* board, int64_t now_ms, const BoardRelay& relay);
// Out-of-range terminal indexes are ignored; the port text is cut to its room.
void WriteBoardLink(unsigned char* board, int terminal, int32_t link, std::string_view port);
void NoteBoardFrame(unsigned char* board, int terminal, int32_t code, int64_t now_ms);

// The reader's side: nullopt when the view is too small or is not a board of this layout.
std::optional<BoardSnapshot> ReadBoard(const unsigned char* board, size_t size);

}  // namespace protocol
