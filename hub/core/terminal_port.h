// The serial link of one card terminal: the open port, a watcher thread that moves incoming
// bytes into the receive queue, and the writer that the terminal loop and the host thread share.
//
// The watcher prints "Thread Start....<connected>" when it starts and "\n  ThreadWatchComm" when
// it ends. A read chunk that does not fit the receive queue is dropped whole ("\n m_QueueRead
// FULL!"). When the port is lost (the device hangs up or fails) the watcher posts host
// notification 99999 to the window titled "Ordella_VanExcute", clears `connected` and ends; the
// terminal loop keeps waiting on an empty queue.
//
// The port holds the terminal loop's wake event: the watcher signals it when it has queued
// bytes, and so does everyone else who has work for the loop (see TerminalLoop).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <condition_variable>

#include "hub/core/terminal_link.h"
#include "platform/serial_port.h"
#include "platform/wake_event.h"

namespace hub {

// The receive queue (m_QueueRead): an 8192-byte ring with one writer (the watcher) and one
// reader (the terminal loop). Each index has one writer; the count is computed from both
// without a lock, so it holds at most 8191 bytes.
class ReceiveQueue {
 public:
  static constexpr uint32_t kSize = 8192;

  // (write - read + 8192) mod 8192.
  uint32_t Count() const;

  // Appends a whole chunk, or nothing: false when the free room (8192 - count) is not greater
  // than the chunk's length. Writer side only.
  bool Append(const unsigned char* bytes, size_t length);

  // Moves up to `length` bytes out into `out`; returns how many. Reader side only.
  size_t Take(unsigned char* out, size_t length);

 private:
  std::array<unsigned char, kSize> ring_{};
  std::atomic<uint32_t> write_{0};
  std::atomic<uint32_t> read_{0};
};

class TerminalPort final : public TerminalLink {
 public:
  static constexpr size_t kReadChunk = 1024;      // the most one read takes
  static constexpr size_t kLastSentSize = LastSentArea::kSize;  // the last frame the loop wrote
  static constexpr int kWriteTimeoutMs = 10000;   // a write that cannot drain gives up

  explicit TerminalPort(int index);
  ~TerminalPort() override;  // closes the port; REQUIRES: the terminal loop has ended
  TerminalPort(const TerminalPort&) = delete;
  TerminalPort& operator=(const TerminalPort&) = delete;

  // Opens "COM3" or "\\.\COM12" at `baud` (raw, 8N1, no XON/XOFF, purged) and starts the
  // watcher. False when the port cannot be opened or set up, or the watcher does not start.
  bool Open(const std::string& port_name, int baud);

  // Stops watching (the watcher is woken and ends at once) and closes the port. Writes after it
  // return 0.
  void Close();

  // Writes all bytes and returns their count; 0 on a write error or a closed port (nothing is
  // retried). Writes from the loop and the host thread never interleave.
  int Write(const unsigned char* bytes, int length) override;

  // The last-sent area: a copy of the last frame the loop wrote, for BUSY resends. A frame
  // longer than the area is not kept (the area is emptied) and false is returned.
  bool SetLastSent(std::string_view bytes) override;
  // Writes the last-sent bytes again; the count written (0 when the area is empty).
  int WriteLastSent() override;

  // Sleeps on `clock` until the watcher has queued bytes or the loop is woken, then takes what
  // the queue holds. Always true: a lost port leaves the loop waiting on an empty queue.
  bool WaitAndTake(platform::Clock& clock, uint32_t wait_ms,
                   std::vector<unsigned char>* bytes) override;
  TerminalPortRecord* van_record() override { return &record_; }

  ReceiveQueue& queue() { return queue_; }
  int index() const override { return index_; }
  bool connected() const { return connected_.load(std::memory_order_acquire); }
  bool WatcherRunning() const { return watcher_running_.load(std::memory_order_acquire); }

  // The terminal loop's thread (StartTerminalLoop). LoopRunning is true from its start until
  // the loop body has ended.
  bool LoopRunning() const { return loop_running_.load(std::memory_order_acquire); }
  bool StartLoopThread(void (*body)(TerminalPort* port));
  // Waits for the loop thread to end and releases it. REQUIRES: the running flag is cleared.
  void JoinLoop();
  // Waits up to `timeout_ms` for the loop body to end; true when it has (or never started).
  bool WaitLoopEnd(int timeout_ms);

  TerminalPortRecord* record() { return &record_; }

 private:
  void Watch();
  void Drain();
  void ReportLostPort();

  const int index_;
  // Set by Open before the watcher starts; released by Close under write_mutex_ once the
  // watcher has ended.
  std::unique_ptr<platform::SerialPort> port_;
  std::mutex write_mutex_;  // one write at a time; Close waits for it
  std::atomic<int32_t> connected_{0};
  std::atomic<bool> watcher_running_{false};
  platform::WakeEvent watcher_stop_;  // signalled by Close: ends the watcher's pauses
  std::thread watcher_;
  ReceiveQueue queue_;

  LastSentArea last_sent_;

  std::atomic<bool> loop_running_{false};
  std::mutex loop_end_mutex_;
  std::condition_variable loop_ended_;
  std::thread loop_;

  TerminalPortRecord record_;
};

}  // namespace hub
