#include "tools/terminal_tcp_line.h"

#include <atomic>
#include <string_view>
#include <utility>

#include "platform/socket.h"
#include "platform/wake_event.h"

namespace terminal_sim {

namespace {

constexpr int kConnectLimitMs = 10000;

class TcpLine final : public platform::SerialPort {
 public:
  TcpLine(platform::UniqueFd socket, std::string name)
      : socket_(std::move(socket)), name_(std::move(name)) {}
  ~TcpLine() override { platform::CloseConnection(std::move(socket_)); }

  Event WaitEvent(int timeout_ms) override {
    if (lost_.load()) {
      // Stays lost; the wait still ends on Interrupt.
      if (interrupt_.Signalled() ||
          platform::WaitReadable(interrupt_.fd(), platform::Deadline::After(timeout_ms)).ok()) {
        interrupt_.Clear();
        return Event::kInterrupted;
      }
      return Event::kLost;
    }
    const platform::Status ready =
        platform::WaitReadable(socket_.get(), platform::Deadline::After(timeout_ms), &interrupt_);
    if (ready.ok()) return Event::kReadable;
    if (ready.code() == platform::StatusCode::kCancelled) {
      interrupt_.Clear();
      return Event::kInterrupted;
    }
    return ready.code() == platform::StatusCode::kTimedOut ? Event::kTimeout : Event::kLost;
  }

  void Interrupt() override { interrupt_.Signal(); }

  long Read(unsigned char* buffer, size_t size) override {
    if (lost_.load()) return -1;
    size_t count = 0;
    const platform::Status status =
        platform::ReceiveSome(socket_.get(), reinterpret_cast<char*>(buffer), size,
                              platform::Deadline::After(0), &count);
    if (status.ok()) return static_cast<long>(count);
    if (status.code() == platform::StatusCode::kTimedOut) return 0;
    lost_.store(true);
    return -1;
  }

  long Write(const unsigned char* bytes, size_t length, int timeout_ms) override {
    if (lost_.load()) return -1;
    const platform::Status sent = platform::SendAll(
        socket_.get(), std::string_view(reinterpret_cast<const char*>(bytes), length),
        platform::Deadline::After(timeout_ms));
    return sent.ok() ? static_cast<long>(length) : -1;
  }

  void Purge(Queue /*queue*/) override {}  // a connection has no driver queues to drop

  std::string device() const override { return name_; }

 private:
  platform::UniqueFd socket_;
  const std::string name_;
  platform::WakeEvent interrupt_;
  std::atomic<bool> lost_{false};
};

}  // namespace

std::unique_ptr<platform::SerialPort> ConnectTcpLine(const std::string& address, uint16_t port,
                                                     platform::Status* error) {
  platform::UniqueFd socket;
  const platform::Status status =
      platform::TcpConnect(address, port, platform::Deadline::After(kConnectLimitMs), &socket);
  if (!status.ok()) {
    if (error != nullptr) *error = status;
    return nullptr;
  }
  return std::make_unique<TcpLine>(std::move(socket),
                                   "tcp:" + address + ":" + std::to_string(port));
}

}  // namespace terminal_sim
