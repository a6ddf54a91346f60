#include "protocol/status_board.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace protocol {
namespace {

// Every field is naturally aligned (the mapping starts on a page) and read or written whole.
template <typename T>
std::atomic_ref<T> Field(const unsigned char* board, size_t offset) {
  static_assert(std::atomic_ref<T>::required_alignment <= alignof(T));
  // Only loads are made through a reader's (read-only) view.
  return std::atomic_ref<T>(*reinterpret_cast<T*>(const_cast<unsigned char*>(board) + offset));
}

size_t TerminalOffset(int terminal, size_t field) {
  return kBoardTerminalsOffset + static_cast<size_t>(terminal) * kTerminalEntrySize + field;
}

bool IsTerminal(int terminal) { return terminal >= 0 && terminal < kStatusTerminals; }

}  // namespace

void StartBoard(unsigned char* board, int64_t pid, int64_t now_ms) {
  Field<uint32_t>(board, kBoardMagicOffset).store(0, std::memory_order_release);
  std::memset(board + kBoardPidOffset, 0, kStatusBoardSize - kBoardPidOffset);
  Field<int64_t>(board, kBoardPidOffset).store(pid, std::memory_order_relaxed);
  Field<int64_t>(board, kBoardStartedOffset).store(now_ms, std::memory_order_relaxed);
  Field<int64_t>(board, kBoardHeartbeatOffset).store(now_ms, std::memory_order_relaxed);
  Field<int32_t>(board, kBoardStateOffset).store(1, std::memory_order_relaxed);
  Field<uint32_t>(board, kBoardVersionOffset).store(kStatusBoardVersion, std::memory_order_relaxed);
  Field<uint32_t>(board, kBoardMagicOffset).store(kStatusBoardMagic, std::memory_order_release);
}

void StopBoard(unsigned char* board) {
  Field<int32_t>(board, kBoardStateOffset).store(0, std::memory_order_release);
}

void WriteBoardHeartbeat(unsigned char* board, int64_t now_ms, const BoardRelay& relay) {
  const int32_t values[kBoardRelayFields] = {relay.send_state, relay.pending_request_code,
                                             relay.client_waiting, relay.last_terminal_code};
  for (size_t i = 0; i < kBoardRelayFields; ++i) {
    Field<int32_t>(board, kBoardRelayOffset + 4 * i).store(values[i], std::memory_order_relaxed);
  }
  Field<int64_t>(board, kBoardHeartbeatOffset).store(now_ms, std::memory_order_release);
}

void WriteBoardLink(unsigned char* board, int terminal, int32_t link, std::string_view port) {
  if (!IsTerminal(terminal)) return;
  // The text is written a byte at a time: a reader racing a change sees one or the other byte,
  // never a torn integer; the link kind is stored last.
  const size_t length = std::min(port.size(), kStatusPortRoom - 1);
  for (size_t i = 0; i < kStatusPortRoom; ++i) {
    const auto byte = static_cast<unsigned char>(i < length ? port[i] : '\0');
    Field<unsigned char>(board, TerminalOffset(terminal, kTerminalPortOffset + i))
        .store(byte, std::memory_order_relaxed);
  }
  Field<int32_t>(board, TerminalOffset(terminal, kTerminalLinkOffset))
      .store(link, std::memory_order_release);
}

void NoteBoardFrame(unsigned char* board, int terminal, int32_t code, int64_t now_ms) {
  if (!IsTerminal(terminal)) return;
  Field<int32_t>(board, TerminalOffset(terminal, kTerminalCodeOffset))
      .store(code, std::memory_order_relaxed);
  Field<int64_t>(board, TerminalOffset(terminal, kTerminalTimeOffset))
      .store(now_ms, std::memory_order_relaxed);
  Field<int64_t>(board, TerminalOffset(terminal, kTerminalFramesOffset))
      .fetch_add(1, std::memory_order_release);
}

std::optional<BoardSnapshot> ReadBoard(const unsigned char* board, size_t size) {
  if (board == nullptr || size < kStatusBoardSize) return std::nullopt;
  if (Field<uint32_t>(board, kBoardMagicOffset).load(std::memory_order_acquire) !=
          kStatusBoardMagic ||
      Field<uint32_t>(board, kBoardVersionOffset).load(std::memory_order_relaxed) !=
          kStatusBoardVersion) {
    return std::nullopt;
  }
  BoardSnapshot snapshot;
  snapshot.heartbeat_ms = Field<int64_t>(board, kBoardHeartbeatOffset).load(std::memory_order_acquire);
  snapshot.pid = Field<int64_t>(board, kBoardPidOffset).load(std::memory_order_relaxed);
  snapshot.started_ms = Field<int64_t>(board, kBoardStartedOffset).load(std::memory_order_relaxed);
  snapshot.running = Field<int32_t>(board, kBoardStateOffset).load(std::memory_order_acquire) == 1;
  int32_t relay[kBoardRelayFields];
  for (size_t i = 0; i < kBoardRelayFields; ++i) {
    relay[i] = Field<int32_t>(board, kBoardRelayOffset + 4 * i).load(std::memory_order_relaxed);
  }
  snapshot.relay = BoardRelay{relay[0], relay[1], relay[2], relay[3]};
  for (int t = 0; t < kStatusTerminals; ++t) {
    BoardTerminal& terminal = snapshot.terminals[static_cast<size_t>(t)];
    terminal.frames =
        Field<int64_t>(board, TerminalOffset(t, kTerminalFramesOffset)).load(std::memory_order_acquire);
    terminal.link =
        Field<int32_t>(board, TerminalOffset(t, kTerminalLinkOffset)).load(std::memory_order_acquire);
    terminal.last_code =
        Field<int32_t>(board, TerminalOffset(t, kTerminalCodeOffset)).load(std::memory_order_relaxed);
    terminal.last_frame_ms =
        Field<int64_t>(board, TerminalOffset(t, kTerminalTimeOffset)).load(std::memory_order_relaxed);
    for (size_t i = 0; i < kStatusPortRoom - 1; ++i) {
      const unsigned char byte =
          Field<unsigned char>(board, TerminalOffset(t, kTerminalPortOffset + i))
              .load(std::memory_order_relaxed);
      if (byte == 0) break;
      terminal.port.push_back(static_cast<char>(byte));
    }
  }
  return snapshot;
}

}  // namespace protocol
