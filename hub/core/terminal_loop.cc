#include "hub/core/terminal_loop.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/dispatch.h"
#include "hub/core/frame.h"
#include "platform/socket.h"
#include "platform/system_info.h"

namespace hub {
namespace {

constexpr char kTerminalFrameLogTag[] = "TerminalFrame";
constexpr int kGreetingCode = 841;
constexpr size_t kGreetingEmptyFields = 21;

// The greeting: body "841" and 21 empty fields, with the routing prefix and the length field 35.
std::string GreetingFrame() {
  const std::array<std::string_view, kGreetingEmptyFields> empty{};
  const std::optional<std::string> body = MessageBody(kGreetingCode, empty);
  return BuildFrame(*body, LengthRule::kGreeting, kTerminalShape).value_or(std::string());
}

void RunTerminalLoop(TerminalPort* port) {
  TerminalLoop loop(*port, TerminalLoopServices::ForModule());
  loop.Run();
}

}  // namespace

int TerminalContext::SendToTerminal(std::string_view bytes) {
  if (port == nullptr || bytes.empty()) return 0;
  port->SetLastSent(bytes);
  return port->Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size()));
}

int LogAndDropFrame(TerminalContext& context, MessageRecord& record) {
  WriteFrameLog(context.log, kTerminalFrameLogTag, record.frame);
  return kDispatchDone;
}


TerminalLoopServices TerminalLoopServices::ForModule() {
  ModuleState& module = Module();
  TerminalLoopServices services;
  services.running = &module.running;
  services.van = &module.van;
  services.relay_slot = &module.relay_slot;
  services.notify = &PostHostNotification;
  services.clock = &platform::SystemClock();
  services.log = ModuleLogTarget();
  services.dispatch = &Dispatch;
  if (const char* record = PropertyRecord(); record != nullptr) {
    services.payment_path = connmap::ReadInt(record, connmap::kPaymentPath);
  }
  return services;
}

void CloseRelayClient(RelaySlot& slot, const std::function<void(uint32_t, int64_t)>& notify,
                      platform::Clock& clock) {
  if (notify) notify(kEventFrameOrRelayClosed, 0);
  const int client = slot.relay_client.exchange(RelaySlot::kNoClient, std::memory_order_acq_rel);
  // No answer: the client sees the connection end.
  if (client >= 0) platform::CloseConnection(platform::UniqueFd(client));
  slot.byte_count.store(0, std::memory_order_relaxed);
  slot.send_state.store(RelaySlot::kIdle, std::memory_order_release);
  clock.Sleep(kRelayClosePauseMs);
}

TerminalLoop::TerminalLoop(TerminalPort& port, TerminalLoopServices services)
    : port_(port),
      services_(std::move(services)),
      assembler_(services_.log),
      reply_(kTerminalReplyBuffer) {
  if (services_.clock == nullptr) services_.clock = &platform::SystemClock();
  if (services_.dispatch == nullptr) services_.dispatch = &LogAndDropFrame;
  sign_pad_ = platform::Library::Load(services_.sign_pad_library);

  context_.index = port_.index();
  context_.link_kind = kLinkSerial;
  context_.port = &port_;
  context_.shared_block = SharedBlock::Open(services_.log);
  context_.sign_pad = sign_pad_.get();
  context_.log = services_.log;

  if (services_.van != nullptr && services_.van->CreateVanModule != nullptr) {
    van_handle_ = services_.van->CreateVanModule(port_.record(), services_.payment_path);
  }
  last_receive_ = services_.clock->Now();
  cycle_bytes_.reserve(ReceiveQueue::kSize);
}

TerminalLoop::~TerminalLoop() {
  context_.shared_block.reset();
  if (services_.van != nullptr && services_.van->CloseVanPort != nullptr) {
    services_.van->CloseVanPort(van_handle_);
  }
  context_.sign_pad = nullptr;
  sign_pad_.reset();
}

void TerminalLoop::Run() {
  while (services_.running != nullptr && services_.running->load(std::memory_order_acquire)) {
    Cycle();
  }
}

void TerminalLoop::Cycle() {
  const uint32_t queued = port_.queue().Count();
  services_.clock->Sleep(kPollMs);
  cycle_bytes_.resize(queued);
  cycle_bytes_.resize(port_.queue().Take(cycle_bytes_.data(), queued));
  const bool read_bytes = !cycle_bytes_.empty();
  assembler_.Feed(
      std::string_view(reinterpret_cast<const char*>(cycle_bytes_.data()), cycle_bytes_.size()),
      &fed_);
  record_.state = assembler_.receiving() ? MessageRecord::kReceiving : MessageRecord::kIdle;

  if (context_.index == 0 && last_van_state_ == 0) {
    ServeRelaySlot(read_bytes, read_bytes ? cycle_bytes_.front() : 0);
  }
  Greet(read_bytes);
  FollowVanState();
  if (last_van_state_ == 0) ForwardHelvarReply();
  if (!read_bytes) return;

  if (!fed_.other_bytes.empty() && services_.van != nullptr &&
      services_.van->SendProtocal != nullptr) {
    services_.van->SendProtocal(van_handle_,
                                reinterpret_cast<const unsigned char*>(fed_.other_bytes.data()),
                                static_cast<int32_t>(fed_.other_bytes.size()));
  }
  for (const std::string& frame : fed_.frames) HandleFrame(frame);
}

void TerminalLoop::ServeRelaySlot(bool read_bytes, unsigned char first_byte) {
  if (services_.relay_slot == nullptr) return;
  RelaySlot* slot = services_.relay_slot->load(std::memory_order_acquire);
  if (slot == nullptr) return;
  const int32_t state = slot->send_state.load(std::memory_order_acquire);
  if (state == RelaySlot::kWaiting) {
    const int32_t count = slot->byte_count.load(std::memory_order_relaxed);
    const size_t length = static_cast<size_t>(
        std::clamp<int32_t>(count, 0, static_cast<int32_t>(RelaySlot::kSendBufferSize)));
    context_.SendToTerminal(
        std::string_view(reinterpret_cast<const char*>(slot->send_buffer.data()), length));
    slot->send_time.store(services_.clock->Now(), std::memory_order_relaxed);
    slot->acknowledged.store(false, std::memory_order_relaxed);
    slot->send_state.store(state + 1, std::memory_order_release);
    return;
  }
  if (state < RelaySlot::kSent) return;
  const bool acknowledged = slot->acknowledged.load(std::memory_order_acquire);
  const uint32_t waited = services_.clock->Now() - slot->send_time.load(std::memory_order_relaxed);
  const bool refused_by_terminal = read_bytes && first_byte == static_cast<unsigned char>(kNak);
  if ((!acknowledged && waited > kRelayAckTimeoutMs) || refused_by_terminal) {
    if (services_.notify) services_.notify(kEventRelayRefused, context_.index);
    CloseRelayClient(*slot, services_.notify, *services_.clock);
  } else if (read_bytes && first_byte == static_cast<unsigned char>(kAck)) {
    if (services_.notify) services_.notify(kEventRelayAcknowledged, context_.index);
    slot->acknowledged.store(true, std::memory_order_release);
  }
}

void TerminalLoop::Greet(bool read_bytes) {
  const uint32_t now = services_.clock->Now();
  if (read_bytes) {
    last_receive_ = now;
    return;
  }
  if (greeted_ || now - last_receive_ <= kGreetingSilenceMs) return;
  greeted_ = true;
  context_.SendToTerminal(GreetingFrame());
}

void TerminalLoop::FollowVanState() {
  if (services_.van == nullptr || services_.van->GetVanState == nullptr) return;
  const int32_t state = services_.van->GetVanState(van_handle_);
  if (state == last_van_state_) return;
  last_van_state_ = state;
  if (services_.notify) services_.notify(static_cast<uint32_t>(state), context_.index);
}

void TerminalLoop::ForwardHelvarReply() {
  if (context_.shared_block == nullptr) return;
  const int taken =
      context_.shared_block->Read(context_.index, reply_.data(), static_cast<int>(reply_.size()));
  if (taken <= 0) return;
  context_.SendToTerminal(
      std::string_view(reinterpret_cast<const char*>(reply_.data()), static_cast<size_t>(taken)));
}

void TerminalLoop::HandleFrame(const std::string& frame) {
  if (ContainsMarker(frame, kMarkerBusy)) {
    // The terminal could not take the last frame: write it again, at most four times.
    if (busy_count_++ < kMaxBusyResends) port_.WriteLastSent();
    record_.state = MessageRecord::kIdle;
    services_.clock->Sleep(kBusyPauseMs);
    return;
  }
  record_.frame = frame;
  record_.code = 0;
  record_.state = MessageRecord::kComplete;
  const int result = services_.dispatch(context_, record_);
  if (result == kDispatchPayment && services_.payment != nullptr) {
    services_.payment(context_, record_);
  } else if (result == kDispatchCloseRelay && services_.relay_slot != nullptr) {
    if (RelaySlot* slot = services_.relay_slot->load(std::memory_order_acquire)) {
      CloseRelayClient(*slot, services_.notify, *services_.clock);
    }
  }
  busy_count_ = 0;
  record_.state = MessageRecord::kIdle;
  if (services_.van != nullptr && services_.van->SendClearBuffer != nullptr) {
    services_.van->SendClearBuffer(van_handle_);
  }
}

bool StartTerminalLoop(TerminalPort* port) {
  return port != nullptr && port->StartLoopThread(&RunTerminalLoop);
}

}  // namespace hub
