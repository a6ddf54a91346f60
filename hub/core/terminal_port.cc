#include "hub/core/terminal_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "hub/core/module_state.h"
#include "platform/clock.h"
#include "platform/system_info.h"
#include "platform/window.h"

namespace hub {

using namespace protocol;

namespace {

// The host program's window; the lost-port notification is posted to it by title.
constexpr std::string_view kHostWindowTitle = "Ordella_VanExcute";
// While that window cannot be found, the watcher looks again after this pause (cut short by
// Close).
constexpr uint32_t kLostPortRetryMs = 1000;

// Standard output is the host program's console; lines go out at once.
void Console(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

int32_t WriteThroughPort(void* port, const unsigned char* bytes, int32_t length) {
  return static_cast<TerminalPort*>(port)->Write(bytes, length);
}

}  // namespace

uint32_t ReceiveQueue::Count() const {
  const uint32_t write = write_.load(std::memory_order_acquire);
  const uint32_t read = read_.load(std::memory_order_acquire);
  return (write - read + kSize) % kSize;
}

bool ReceiveQueue::Append(const unsigned char* bytes, size_t length) {
  if (kSize - Count() <= length) return false;
  uint32_t write = write_.load(std::memory_order_relaxed);
  const size_t first = std::min<size_t>(length, kSize - write);
  std::memcpy(ring_.data() + write, bytes, first);
  std::memcpy(ring_.data(), bytes + first, length - first);
  write = static_cast<uint32_t>((write + length) % kSize);
  write_.store(write, std::memory_order_release);
  return true;
}

size_t ReceiveQueue::Take(unsigned char* out, size_t length) {
  length = std::min<size_t>(length, Count());
  uint32_t read = read_.load(std::memory_order_relaxed);
  const size_t first = std::min<size_t>(length, kSize - read);
  std::memcpy(out, ring_.data() + read, first);
  std::memcpy(out + first, ring_.data(), length - first);
  read = static_cast<uint32_t>((read + length) % kSize);
  read_.store(read, std::memory_order_release);
  return length;
}

TerminalPort::TerminalPort(int index) : index_(index), record_{index, this, &WriteThroughPort} {}

TerminalPort::~TerminalPort() {
  JoinLoop();
  Close();
}

bool TerminalPort::Open(const std::string& port_name, int baud) {
  Close();
  std::unique_ptr<platform::SerialPort> port = platform::SerialPort::Open(port_name, baud);
  if (port == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(write_mutex_);
    port_ = std::move(port);
  }
  connected_.store(1, std::memory_order_release);
  watcher_stop_.Clear();
  watcher_running_.store(true, std::memory_order_release);
  try {
    watcher_ = std::thread(&TerminalPort::Watch, this);
  } catch (const std::system_error&) {
    watcher_running_.store(false, std::memory_order_release);
    Close();
    return false;
  }
  return true;
}

void TerminalPort::Close() {
  connected_.store(0, std::memory_order_release);
  if (watcher_.joinable()) {
    // Woken by the interrupt (or, while it waits for the host window, by the stop event), the
    // watcher ends at its next test of `connected`.
    watcher_stop_.Signal();
    port_->Interrupt();
    watcher_.join();
  }
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (port_ != nullptr) {
    port_->Purge(platform::SerialPort::Queue::kBoth);
    port_.reset();
  }
}

int TerminalPort::Write(const unsigned char* bytes, int length) {
  if (bytes == nullptr || length <= 0) return 0;
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (port_ == nullptr) return 0;
  const long written = port_->Write(bytes, static_cast<size_t>(length), kWriteTimeoutMs);
  if (written != length) {
    // Bytes still waiting to go out are dropped, so the next write starts clean.
    port_->Purge(platform::SerialPort::Queue::kTransmit);
    return 0;
  }
  return length;
}

bool TerminalPort::SetLastSent(std::string_view bytes) { return last_sent_.Set(bytes); }

int TerminalPort::WriteLastSent() {
  return last_sent_.Resend(
      [this](const unsigned char* bytes, int length) { return Write(bytes, length); });
}

bool TerminalPort::WaitAndTake(platform::Clock& clock, uint32_t wait_ms,
                               std::vector<unsigned char>* bytes) {
  clock.SleepUnlessWoken(wait_ms, loop_wake());
  // Cleared before looking, so a wake given from here on makes the next wait end at once.
  loop_wake().Clear();
  const size_t held = bytes->size();
  const uint32_t queued = queue_.Count();
  bytes->resize(held + queued);
  bytes->resize(held + queue_.Take(bytes->data() + held, queued));
  return true;
}

bool TerminalPort::StartLoopThread(void (*body)(TerminalPort* port)) {
  if (body == nullptr || LoopRunning()) return false;
  JoinLoop();  // a loop that ended earlier
  loop_running_.store(true, std::memory_order_release);
  try {
    loop_ = std::thread([this, body] {
      body(this);
      std::lock_guard<std::mutex> lock(loop_end_mutex_);
      loop_running_.store(false, std::memory_order_release);
      loop_ended_.notify_all();
    });
  } catch (const std::system_error&) {
    loop_running_.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void TerminalPort::JoinLoop() {
  if (loop_.joinable()) loop_.join();
}

bool TerminalPort::WaitLoopEnd(int timeout_ms) {
  std::unique_lock<std::mutex> lock(loop_end_mutex_);
  return loop_ended_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [this] { return !LoopRunning(); });
}

void TerminalPort::Watch() {
  char started[40];
  std::snprintf(started, sizeof(started), "Thread Start....%d\n",
                connected_.load(std::memory_order_acquire));
  Console(started);
  while (connected()) {
    const platform::SerialPort::Event event = port_->WaitEvent(-1);
    if (event == platform::SerialPort::Event::kReadable) {
      Drain();
    } else if (event == platform::SerialPort::Event::kLost) {
      ReportLostPort();
    }
  }
  Console("\n  ThreadWatchComm");
  watcher_running_.store(false, std::memory_order_release);
}

void TerminalPort::Drain() {
  unsigned char chunk[kReadChunk];
  for (;;) {
    const long got = port_->Read(chunk, sizeof(chunk));
    if (got == 0) return;
    if (got < 0) {
      ReportLostPort();
      return;
    }
    if (!queue_.Append(chunk, static_cast<size_t>(got))) Console("\n m_QueueRead FULL!");
    WakeLoop();
  }
}

void TerminalPort::ReportLostPort() {
  while (connected()) {
    if (std::optional<platform::WindowHandle> host =
            platform::FindWindowByTitle(kHostWindowTitle)) {
      connected_.store(0, std::memory_order_release);
      platform::PostWindowMessage(*host, kHostNotifyMessage, kEventPortLost, 0);
      return;
    }
    // No host window to tell: look again after a pause rather than spin on the dead port.
    platform::SystemClock().SleepUnlessWoken(kLostPortRetryMs, watcher_stop_);
  }
}

}  // namespace hub
