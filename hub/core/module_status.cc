#include "hub/core/module_status.h"

#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "hub/core/module_state.h"
#include "platform/clock.h"
#include "platform/file_mapping.h"
#include "protocol/status_board.h"

namespace hub {
namespace {

std::mutex board_mutex;
std::unique_ptr<platform::FileMapping> board_mapping;  // GUARDED_BY(board_mutex)
std::atomic<unsigned char*> board{nullptr};

int64_t Now() { return platform::SystemClock().WallTimeMs(); }

}  // namespace

void StartModuleStatus() {
  std::lock_guard<std::mutex> lock(board_mutex);
  if (!board_mapping) {
    board_mapping =
        platform::FileMapping::CreateOrOpen(protocol::kStatusBoardName, protocol::kStatusBoardSize);
    if (!board_mapping) {
      WriteModuleLog("ManagerMainThread", "status board not created: the status command sees no hub");
      return;
    }
  }
  protocol::StartBoard(board_mapping->data(), getpid(), Now());
  board.store(board_mapping->data(), std::memory_order_release);
}

void StopModuleStatus() {
  if (unsigned char* view = board.load(std::memory_order_acquire)) protocol::StopBoard(view);
}

void NoteTerminalLink(int terminal, int32_t link, std::string_view port) {
  if (unsigned char* view = board.load(std::memory_order_acquire)) {
    protocol::WriteBoardLink(view, terminal, link, port);
  }
}

void NoteTerminalFrame(int terminal, int32_t code) {
  if (unsigned char* view = board.load(std::memory_order_acquire)) {
    protocol::NoteBoardFrame(view, terminal, code, Now());
  }
}

void PublishModuleHeartbeat(const RelaySlot* slot) {
  unsigned char* view = board.load(std::memory_order_acquire);
  if (view == nullptr) return;
  protocol::BoardRelay relay;
  if (slot != nullptr) {
    relay.send_state = slot->send_state.load(std::memory_order_acquire);
    relay.pending_request_code = slot->pending_request_code.load(std::memory_order_relaxed);
    relay.client_waiting = slot->relay_client.load(std::memory_order_relaxed) >= 0 ? 1 : 0;
    relay.last_terminal_code = slot->last_terminal_code.load(std::memory_order_relaxed);
  }
  protocol::WriteBoardHeartbeat(view, Now(), relay);
}

}  // namespace hub
