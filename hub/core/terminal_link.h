// What a terminal loop talks to its terminal through: a serial terminal's port (terminal_port.h)
// or the TCP terminal's connection (tcp_terminal.h). The loop itself (terminal_loop.h) is the
// same for both; the link says how the loop waits for bytes and how its frames reach the
// terminal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "companions/tavenorvan/tavenor_van.h"
#include "platform/clock.h"
#include "platform/wake_event.h"

namespace hub {

// What the VAN module is given for its terminal (CreateVanModule's first argument): a plain C
// record it may keep for the life of its handle, with the terminal's index and a way to write to
// the terminal through the link's serialised writer.
using TerminalPortRecord = ::VanTerminalPort;

// The copy of the last frame a loop wrote, kept for the terminal's BUSY answer.
class LastSentArea {
 public:
  static constexpr size_t kSize = 40000;

  // Keeps `bytes`; a frame longer than the area is not kept (the area is emptied): false.
  bool Set(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes.size() > kSize) {
      length_ = 0;
      return false;
    }
    std::memcpy(bytes_.data(), bytes.data(), bytes.size());
    length_ = bytes.size();
    return true;
  }

  // Hands the kept bytes to `write(bytes, length)` and returns its count; 0 when empty.
  template <typename Write>
  int Resend(Write&& write) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (length_ == 0) return 0;
    return write(bytes_.data(), static_cast<int>(length_));
  }

 private:
  std::mutex mutex_;
  size_t length_ = 0;                       // GUARDED_BY(mutex_)
  std::array<unsigned char, kSize> bytes_{};  // GUARDED_BY(mutex_)
};

class TerminalLink {
 public:
  virtual ~TerminalLink() = default;

  // The terminal index (0-2).
  virtual int index() const = 0;

  // Writes all bytes and returns their count; 0 on a write error or a link that is down.
  // Writes from the loop and the host thread never interleave.
  virtual int Write(const unsigned char* bytes, int length) = 0;

  // The last-sent area: SetLastSent keeps a frame, WriteLastSent writes it again (its count, 0
  // when the area is empty).
  virtual bool SetLastSent(std::string_view bytes) = 0;
  virtual int WriteLastSent() = 0;

  // Ends the loop's current wait: it has something to do. Safe from any thread.
  void WakeLoop() const { loop_wake_.Signal(); }
  const platform::WakeEvent& loop_wake() const { return loop_wake_; }

  // Waits until the terminal has sent bytes, the loop is woken or `wait_ms` have passed on
  // `clock`, then appends what has arrived to *bytes. False once the link has ended for good
  // (the TCP terminal closed its connection): the loop ends.
  virtual bool WaitAndTake(platform::Clock& clock, uint32_t wait_ms,
                           std::vector<unsigned char>* bytes) = 0;

  // What CreateVanModule is given for this terminal; null for a link that carries no VAN
  // traffic.
  virtual TerminalPortRecord* van_record() { return nullptr; }

 private:
  platform::WakeEvent loop_wake_;
};

}  // namespace hub
