#include "hub/core/tcp_terminal.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/server_relay.h"
#include "hub/core/shared_block_watcher.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

constexpr const char* kLogTag = "TcpTerminal";
constexpr const char* kPeerLogTag = "RelayPeer";
constexpr std::string_view kAllAddresses = "0.0.0.0";
constexpr int kBacklog = 4096;  // the largest the system takes (SOMAXCONN)

}  // namespace

RelayPeer RelayPeer::FromSettings(const char* record) {
  RelayPeer peer;
  if (record == nullptr) return peer;
  peer.address = connmap::ReadText(record, connmap::kRelayPeerAddress);
  peer.port = connmap::ReadText(record, connmap::kRelayPeerPort);
  return peer;
}

// --- The connection -----------------------------------------------------------------------

TcpTerminalConnection::TcpTerminalConnection(platform::UniqueFd socket,
                                             const platform::WakeEvent& stop, LogTarget log)
    : socket_(std::move(socket)), stop_(stop), log_(std::move(log)) {}

TcpTerminalConnection::~TcpTerminalConnection() {
  std::lock_guard<std::mutex> lock(write_mutex_);
  platform::CloseConnection(std::move(socket_));
}

int TcpTerminalConnection::Write(const unsigned char* bytes, int length) {
  if (bytes == nullptr || length <= 0) return 0;
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (!socket_.valid()) return 0;
  const platform::Status sent = platform::SendAll(
      socket_.get(),
      std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)),
      platform::Deadline::After(kTcpTerminalWriteLimitMs));
  if (!sent.ok()) {
    WriteFrameLog(log_, kLogTag, "write to the TCP terminal failed: " + sent.message());
    return 0;
  }
  return length;
}

int TcpTerminalConnection::WriteLastSent() {
  return last_sent_.Resend(
      [this](const unsigned char* bytes, int length) { return Write(bytes, length); });
}

bool TcpTerminalConnection::WaitAndTake(platform::Clock& /*clock*/, uint32_t wait_ms,
                                        std::vector<unsigned char>* bytes) {
  if (stop_.Signalled()) return false;
  (void)platform::WaitReadable(socket_.get(),
                               platform::Deadline::After(static_cast<int>(wait_ms)),
                               &loop_wake());
  // Cleared before looking, so a wake given from here on makes the next wait end at once.
  loop_wake().Clear();
  if (stop_.Signalled()) return false;
  char chunk[kTcpTerminalReceiveSize];
  size_t count = 0;
  const platform::Status received = platform::ReceiveSome(
      socket_.get(), chunk, sizeof(chunk), platform::Deadline::After(0), &count);
  if (received.ok()) {
    bytes->insert(bytes->end(), chunk, chunk + count);
    return true;
  }
  if (received.code() == platform::StatusCode::kTimedOut) return true;  // nothing arrived
  WriteFrameLog(log_, kLogTag,
                received.code() == platform::StatusCode::kClosed
                    ? std::string("the TCP terminal closed the connection")
                    : "receive from the TCP terminal failed: " + received.message());
  return false;
}

// --- The listener and its connection loop -------------------------------------------------

std::unique_ptr<TcpTerminal> TcpTerminal::Start(uint16_t port, TerminalLoopServices loop,
                                                bool relay_peer) {
  std::unique_ptr<platform::TcpListener> listener;
  const platform::Status status =
      platform::TcpListener::Listen(kAllAddresses, port, kBacklog, &listener);
  if (!status.ok()) {
    WriteFrameLog(loop.log, kLogTag,
                  "TCP terminal listener on port " + std::to_string(port) +
                      " not started: " + status.message());
    return nullptr;
  }
  std::unique_ptr<TcpTerminal> terminal(
      new TcpTerminal(std::move(listener), std::move(loop), relay_peer));
  try {
    terminal->thread_ = std::thread(&TcpTerminal::AcceptLoop, terminal.get());
  } catch (const std::system_error&) {
    WriteFrameLog(terminal->loop_services_.log, kLogTag, "accept thread did not start");
    return nullptr;
  }
  return terminal;
}

TcpTerminal::TcpTerminal(std::unique_ptr<platform::TcpListener> listener,
                         TerminalLoopServices loop, bool relay_peer)
    : listener_(std::move(listener)),
      port_(listener_->port()),
      loop_services_(std::move(loop)),
      relay_peer_(relay_peer) {}

TcpTerminal::~TcpTerminal() { Stop(); }

void TcpTerminal::Stop() {
  stop_.Signal();
  if (listener_ != nullptr) listener_->Cancel();
  {
    std::lock_guard<std::mutex> lock(connection_mutex_);
    if (connection_ != nullptr) connection_->WakeLoop();
  }
  if (thread_.joinable()) thread_.join();
  listener_.reset();
}

int TcpTerminal::WriteToTerminal(std::string_view bytes) {
  std::lock_guard<std::mutex> lock(connection_mutex_);
  if (connection_ == nullptr) {
    WriteFrameLog(loop_services_.log, kLogTag, "no TCP terminal connected: frame not sent");
    return 0;
  }
  return connection_->Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
}

void TcpTerminal::AcceptLoop() {
  while (!stop_.Signalled()) {
    platform::UniqueFd socket;
    const platform::Status status = listener_->Accept(platform::Deadline::Never(), &socket);
    if (status.code() == platform::StatusCode::kCancelled) return;
    if (!status.ok()) {
      WriteFrameLog(loop_services_.log, kLogTag, "accept failed, listener ends: " + status.message());
      return;
    }
    if (loop_services_.notify) loop_services_.notify(kEventTcpTerminal, 0);
    const platform::Status limits = platform::DetectDeadPeer(socket.get(), kTcpTerminalDeadPeer);
    if (!limits.ok()) {
      WriteFrameLog(loop_services_.log, kLogTag,
                    "a vanished terminal will not be noticed: " + limits.message());
    }
    // Served on this thread: the next terminal is accepted once this one has gone.
    Serve(std::move(socket));
  }
}

void TcpTerminal::Serve(platform::UniqueFd socket) {
  TcpTerminalConnection connection(std::move(socket), stop_, loop_services_.log);
  {
    std::lock_guard<std::mutex> lock(connection_mutex_);
    connection_ = &connection;
  }
  {
    TerminalLoop loop(connection, loop_services_, TerminalLoopStyle::Tcp(!relay_peer_));
    loop.Run();
  }
  std::lock_guard<std::mutex> lock(connection_mutex_);
  connection_ = nullptr;
}

// --- The remote relay peer loop -----------------------------------------------------------

std::unique_ptr<RemoteRelayPeerLoop> RemoteRelayPeerLoop::Start(RelayPeer peer,
                                                                RelayPeerServices services) {
  if (!peer.configured()) return nullptr;
  std::unique_ptr<RemoteRelayPeerLoop> loop(
      new RemoteRelayPeerLoop(std::move(peer), std::move(services)));
  try {
    loop->thread_ = std::thread(&RemoteRelayPeerLoop::Run, loop.get());
  } catch (const std::system_error&) {
    WriteFrameLog(loop->services_.log, kPeerLogTag, "remote relay peer loop did not start");
    return nullptr;
  }
  return loop;
}

RemoteRelayPeerLoop::RemoteRelayPeerLoop(RelayPeer peer, RelayPeerServices services)
    : peer_(std::move(peer)), services_(std::move(services)), reply_(kTerminalReplyBuffer) {
  if (services_.clock == nullptr) services_.clock = &platform::SystemClock();
}

RemoteRelayPeerLoop::~RemoteRelayPeerLoop() { Stop(); }

void RemoteRelayPeerLoop::Stop() {
  stop_.store(true, std::memory_order_release);
  wake_.Signal();
  if (thread_.joinable()) thread_.join();
}

bool RemoteRelayPeerLoop::Running() const {
  return !stop_.load(std::memory_order_acquire) &&
         (services_.running == nullptr || services_.running->load(std::memory_order_acquire));
}

int RemoteRelayPeerLoop::Exchange(std::string_view bytes, std::string* answer) {
  ServerConnection connection;
  const int got =
      hub::Exchange(peer_.port, &connection, bytes, peer_.address, answer, kExchangeReceiveSize,
                    std::chrono::milliseconds(services_.limit_ms));
  if (got < 1) {
    WriteFrameLog(services_.log, kPeerLogTag,
                  "no answer from the remote relay peer " + peer_.address + ":" + peer_.port +
                      " (" + std::to_string(connection.last_error()) + ")");
  }
  return got;
}

void RemoteRelayPeerLoop::Run() {
  shared_block_ = SharedBlock::Open(services_.log);
  std::unique_ptr<SharedBlockWatcher> watcher;
  if (shared_block_ != nullptr) {
    watcher = std::make_unique<SharedBlockWatcher>(*shared_block_, 0, [this] { wake_.Signal(); });
  }
  std::string ignored;
  Exchange(GreetingFrame(), &ignored);  // the peer's answer to the greeting is not used
  RelaySlot* registered = nullptr;
  while (Running()) {
    RelaySlot* slot =
        services_.relay_slot != nullptr ? services_.relay_slot->load(std::memory_order_acquire)
                                        : nullptr;
    if (slot != registered && slot != nullptr) {
      slot->terminal_wake.store(&wake_, std::memory_order_release);
      registered = slot;
    }
    if (slot != nullptr) ServeRelaySlot(*slot);
    ForwardHelvarReply();
    if (watcher != nullptr) watcher->Looked();
    if (slot != nullptr && slot->send_state.load(std::memory_order_acquire) == RelaySlot::kWaiting) {
      continue;
    }
    services_.clock->SleepUnlessWoken(kIdleWakeMs, wake_);
    wake_.Clear();
  }
  if (registered != nullptr && services_.relay_slot != nullptr &&
      services_.relay_slot->load(std::memory_order_acquire) == registered) {
    const platform::WakeEvent* mine = &wake_;
    registered->terminal_wake.compare_exchange_strong(mine, nullptr, std::memory_order_acq_rel);
  }
  watcher.reset();
  shared_block_.reset();
}

void RemoteRelayPeerLoop::ServeRelaySlot(RelaySlot& slot) {
  const int32_t state = slot.send_state.load(std::memory_order_acquire);
  if (state != RelaySlot::kWaiting) return;
  const int32_t count = slot.byte_count.load(std::memory_order_relaxed);
  const size_t length = static_cast<size_t>(
      std::clamp<int32_t>(count, 0, static_cast<int32_t>(RelaySlot::kSendBufferSize)));
  std::string answer;
  const int got = Exchange(
      std::string_view(reinterpret_cast<const char*>(slot.send_buffer.data()), length), &answer);
  if (got >= 1) {
    slot.send_time.store(services_.clock->Now(), std::memory_order_relaxed);
    slot.acknowledged.store(false, std::memory_order_relaxed);
    slot.send_state.store(state + 1, std::memory_order_release);
    if (answer.find(std::string(kTcpAnswerRun, kAck)) != std::string::npos) {
      if (services_.notify) services_.notify(kEventRelayAcknowledged, 0);
      slot.acknowledged.store(true, std::memory_order_release);
      WriteFrameLog(services_.log, kPeerLogTag, "request delivered to the remote relay peer");
    } else {
      WriteFrameLog(services_.log, kPeerLogTag, "the remote relay peer did not acknowledge");
    }
  }
  // Refused, unreachable, or delivered: nothing more comes from the peer for this request.
  CloseRelayClient(slot, services_.notify, *services_.clock);
}

void RemoteRelayPeerLoop::ForwardHelvarReply() {
  if (shared_block_ == nullptr) return;
  const int taken = shared_block_->Read(0, reply_.data(), static_cast<int>(reply_.size()));
  if (taken <= 0) return;
  std::string ignored;
  Exchange(std::string_view(reinterpret_cast<const char*>(reply_.data()),
                            static_cast<size_t>(taken)),
           &ignored);
}

}  // namespace hub
