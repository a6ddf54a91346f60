#include "hub/core/terminal_loop.h"

#include <algorithm>
#include <array>
#include <optional>
#include <system_error>
#include <utility>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/dispatch.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

constexpr char kTerminalFrameLogTag[] = "TerminalFrame";
constexpr char kRelayAnswerLogTag[] = "RelayAnswer";
constexpr int kGreetingCode = 841;

std::atomic<PaymentFn> installed_payment{nullptr};

void RunTerminalLoop(TerminalPort* port) {
  TerminalLoop loop(*port, TerminalLoopServices::ForModule());
  loop.Run();
}

}  // namespace

std::string GreetingFrame() { return LinkFrame(kGreetingCode); }

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

void InstallTerminalPayment(PaymentFn payment) {
  installed_payment.store(payment, std::memory_order_release);
}

PaymentFn InstalledTerminalPayment() { return installed_payment.load(std::memory_order_acquire); }

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
  services.payment = InstalledTerminalPayment();
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

bool AnswerRelayClient(RelaySlot& slot, std::string_view answer,
                       const std::function<void(uint32_t, int64_t)>& notify,
                       platform::Clock& clock, const LogTarget& log) {
  const int client = slot.relay_client.load(std::memory_order_acquire);
  bool answered = false;
  if (client < 0) {
    WriteFrameLog(log, kRelayAnswerLogTag, "no relay client for the answer");
  } else {
    const platform::Status sent =
        platform::SendAll(client, answer, platform::Deadline::After(kAnswerSendLimitMs));
    answered = sent.ok();
    if (!answered) WriteFrameLog(log, kRelayAnswerLogTag, "answer not sent: " + sent.message());
  }
  CloseRelayClient(slot, notify, clock);
  return answered;
}

TerminalLoop::TerminalLoop(TerminalLink& port, TerminalLoopServices services,
                           TerminalLoopStyle style)
    : port_(port),
      services_(std::move(services)),
      style_(style),
      assembler_(services_.log),
      reply_(kTerminalReplyBuffer) {
  if (services_.clock == nullptr) services_.clock = &platform::SystemClock();
  if (services_.dispatch == nullptr) services_.dispatch = &LogAndDropFrame;
  sign_pad_ = platform::Library::Load(services_.sign_pad_library);

  context_.index = port_.index();
  context_.link_kind = style_.link_kind;
  context_.port = &port_;
  context_.shared_block = SharedBlock::Open(services_.log);
  context_.sign_pad = sign_pad_.get();
  context_.log = services_.log;
  context_.relay_slot = services_.relay_slot;
  context_.notify = services_.notify;
  context_.clock = services_.clock;

  if (port_.van_record() == nullptr) services_.van = nullptr;  // the link carries no VAN traffic
  if (services_.van != nullptr && services_.van->CreateVanModule != nullptr) {
    van_handle_ = services_.van->CreateVanModule(port_.van_record(), services_.payment_path);
  }
  last_receive_ = services_.clock->Now();
  cycle_bytes_.reserve(ReceiveQueue::kSize);
  // Without the relay role the loop never takes a reply, so nothing is watched for it.
  if (context_.shared_block != nullptr && style_.serves_relay) {
    block_watcher_ = std::make_unique<SharedBlockWatcher>(*context_.shared_block, context_.index,
                                                          [this] { port_.WakeLoop(); });
  }
}

TerminalLoop::~TerminalLoop() {
  block_watcher_.reset();
  if (registered_slot_ != nullptr && services_.relay_slot != nullptr &&
      services_.relay_slot->load(std::memory_order_acquire) == registered_slot_) {
    const platform::WakeEvent* mine = &port_.loop_wake();
    registered_slot_->terminal_wake.compare_exchange_strong(mine, nullptr,
                                                            std::memory_order_acq_rel);
  }
  context_.shared_block.reset();
  if (services_.van != nullptr && services_.van->CloseVanPort != nullptr) {
    services_.van->CloseVanPort(van_handle_);
  }
  context_.sign_pad = nullptr;
  sign_pad_.reset();
}

void TerminalLoop::Run() {
  while (link_up_ && services_.running != nullptr &&
         services_.running->load(std::memory_order_acquire)) {
    Cycle();
  }
}

void TerminalLoop::Cycle() {
  RegisterRelayWake();
  cycle_bytes_.clear();
  if (!port_.WaitAndTake(*services_.clock, NextWaitMs(), &cycle_bytes_)) {
    link_up_ = false;
    if (assembler_.receiving()) {
      WriteFrameLog(context_.log, kTerminalFrameLogTag,
                    "link ended in the middle of a frame: the partial frame is dropped");
    }
    return;
  }
  const bool read_bytes = !cycle_bytes_.empty();
  if (read_bytes && LinkCheck()) {
    last_receive_ = services_.clock->Now();
    return;
  }
  assembler_.Feed(
      std::string_view(reinterpret_cast<const char*>(cycle_bytes_.data()), cycle_bytes_.size()),
      &fed_);
  record_.state = assembler_.receiving() ? MessageRecord::kReceiving : MessageRecord::kIdle;

  if (context_.index == 0 && style_.serves_relay) {
    if (last_van_state_ == 0) {
      van_holds_request_ = false;
      ServeRelaySlot();
    } else {
      LimitVanHold();
    }
  }
  if (style_.serves_relay) Greet(read_bytes);
  FollowVanState();
  if (last_van_state_ == 0 && style_.serves_relay) ForwardHelvarReply();
  if (!read_bytes) return;

  if (!fed_.other_bytes.empty() && services_.van != nullptr &&
      services_.van->SendProtocal != nullptr) {
    services_.van->SendProtocal(van_handle_,
                                reinterpret_cast<const unsigned char*>(fed_.other_bytes.data()),
                                static_cast<int32_t>(fed_.other_bytes.size()));
    van_handed_bytes_ = true;
    van_handed_at_ = services_.clock->Now();
  }
  for (const std::string& frame : fed_.frames) HandleFrame(frame);
}

uint32_t TerminalLoop::NextWaitMs() {
  const uint32_t now = services_.clock->Now();
  // Time until `now - since > limit` holds, as the checks below test it.
  const auto until_past = [now](uint32_t since, uint32_t limit) -> uint32_t {
    const uint32_t elapsed = now - since;
    return elapsed > limit ? 0 : limit + 1 - elapsed;
  };
  uint32_t wait = kIdleWakeMs;
  if (!greeted_ && style_.serves_relay) {
    wait = std::min(wait, until_past(last_receive_, style_.greeting_silence_ms));
  }
  if (VanMayBeBusy(now)) wait = std::min(wait, kVanPollMs);
  if (van_holds_request_) wait = std::min(wait, until_past(van_hold_since_, kVanHoldLimitMs));
  RelaySlot* slot = context_.index == 0 && last_van_state_ == 0 && style_.serves_relay &&
                            services_.relay_slot != nullptr
                        ? services_.relay_slot->load(std::memory_order_acquire)
                        : nullptr;
  if (slot != nullptr) {
    const int32_t state = slot->send_state.load(std::memory_order_acquire);
    if (state == RelaySlot::kWaiting) return 0;
    if (state >= RelaySlot::kSent && !slot->acknowledged.load(std::memory_order_acquire)) {
      wait = std::min(
          wait, until_past(slot->send_time.load(std::memory_order_relaxed), kRelayAckTimeoutMs));
    }
  }
  return wait;
}

void TerminalLoop::LimitVanHold() {
  RelaySlot* slot =
      services_.relay_slot != nullptr ? services_.relay_slot->load(std::memory_order_acquire) : nullptr;
  if (slot == nullptr || slot->send_state.load(std::memory_order_acquire) != RelaySlot::kWaiting) {
    van_holds_request_ = false;
    return;
  }
  const uint32_t now = services_.clock->Now();
  if (!van_holds_request_) {
    van_holds_request_ = true;
    van_hold_since_ = now;
    return;
  }
  if (now - van_hold_since_ <= kVanHoldLimitMs) return;
  van_holds_request_ = false;
  WriteFrameLog(context_.log, kTerminalFrameLogTag,
                "relay request refused: the VAN module stayed busy (state " +
                    std::to_string(last_van_state_) + ")");
  if (services_.notify) services_.notify(kEventRelayRefused, context_.index);
  CloseRelayClient(*slot, services_.notify, *services_.clock);
}

void TerminalLoop::RegisterRelayWake() {
  if (context_.index != 0 || !style_.serves_relay || services_.relay_slot == nullptr) return;
  RelaySlot* slot = services_.relay_slot->load(std::memory_order_acquire);
  if (slot == registered_slot_) return;
  if (slot != nullptr) slot->terminal_wake.store(&port_.loop_wake(), std::memory_order_release);
  registered_slot_ = slot;
}

bool TerminalLoop::AnswerRun(char answer) const {
  if (cycle_bytes_.size() < style_.answer_run) return false;
  return std::all_of(cycle_bytes_.begin(), cycle_bytes_.begin() + style_.answer_run,
                     [answer](unsigned char byte) { return byte == static_cast<unsigned char>(answer); });
}

bool TerminalLoop::LinkCheck() {
  if (!style_.link_check || assembler_.receiving() || cycle_bytes_.size() != kTcpLinkCheck.size() ||
      !std::equal(kTcpLinkCheck.begin(), kTcpLinkCheck.end(), cycle_bytes_.begin())) {
    return false;
  }
  port_.Write(reinterpret_cast<const unsigned char*>(kTcpLinkCheck.data()),
              static_cast<int>(kTcpLinkCheck.size()));
  if (services_.notify) services_.notify(kEventTcpTerminal, 0);
  return true;
}

void TerminalLoop::ServeRelaySlot() {
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
  const bool refused_by_terminal = AnswerRun(kNak);
  if ((!acknowledged && waited > kRelayAckTimeoutMs) || refused_by_terminal) {
    if (services_.notify) services_.notify(kEventRelayRefused, context_.index);
    CloseRelayClient(*slot, services_.notify, *services_.clock);
  } else if (AnswerRun(kAck)) {
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
  if (greeted_ || now - last_receive_ <= style_.greeting_silence_ms) return;
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

bool TerminalLoop::VanMayBeBusy(uint32_t now) const {
  if (services_.van == nullptr || services_.van->GetVanState == nullptr) return false;
  return last_van_state_ != 0 ||
         (van_handed_bytes_ && now - van_handed_at_ <= kVanWatchAfterHandOffMs);
}

void TerminalLoop::ForwardHelvarReply() {
  if (context_.shared_block == nullptr) return;
  const int taken =
      context_.shared_block->Read(context_.index, reply_.data(), static_cast<int>(reply_.size()));
  if (block_watcher_ != nullptr) block_watcher_->Looked();  // it may read the status again
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
  if (result == kDispatchPayment) {
    if (services_.payment != nullptr) {
      services_.payment(context_, record_);
    } else {
      WriteFrameLog(context_.log, kTerminalFrameLogTag,
                    "payment frame dropped, no payment service: " + record_.frame);
    }
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
