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

// The greeting: body "841" and 21 empty fields, with the routing prefix and the length field 35.
std::string GreetingFrame() { return LinkFrame(kGreetingCode); }

std::atomic<PaymentFn> installed_payment{nullptr};

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
  context_.relay_slot = services_.relay_slot;
  context_.notify = services_.notify;
  context_.clock = services_.clock;

  if (services_.van != nullptr && services_.van->CreateVanModule != nullptr) {
    van_handle_ = services_.van->CreateVanModule(port_.record(), services_.payment_path);
  }
  last_receive_ = services_.clock->Now();
  cycle_bytes_.reserve(ReceiveQueue::kSize);
  if (context_.shared_block != nullptr) {
    watching_block_.store(true, std::memory_order_release);
    try {
      block_watcher_ = std::thread(&TerminalLoop::WatchSharedBlock, this);
    } catch (const std::system_error&) {
      // Without the watcher a reply is still taken, at the latest after kIdleWakeMs.
      watching_block_.store(false, std::memory_order_release);
    }
  }
}

TerminalLoop::~TerminalLoop() {
  if (block_watcher_.joinable()) {
    watching_block_.store(false, std::memory_order_release);
    // A wake given just before the watcher went to sleep would be lost: wake until it has ended.
    do {
      context_.shared_block->WakeStatusWaiters();
      block_looks_.fetch_add(1, std::memory_order_acq_rel);
      block_looks_.notify_all();
    } while (!platform::SystemClock().SleepUnlessWoken(kWatcherEndCheckMs, block_watcher_ended_));
    block_watcher_.join();
  }
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
  while (services_.running != nullptr && services_.running->load(std::memory_order_acquire)) {
    Cycle();
  }
}

void TerminalLoop::Cycle() {
  RegisterRelayWake();
  services_.clock->SleepUnlessWoken(NextWaitMs(), port_.loop_wake());
  // Cleared before looking, so a wake given from here on makes the next wait end at once.
  port_.loop_wake().Clear();
  const uint32_t queued = port_.queue().Count();
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

uint32_t TerminalLoop::NextWaitMs() {
  const uint32_t now = services_.clock->Now();
  // Time until `now - since > limit` holds, as the checks below test it.
  const auto until_past = [now](uint32_t since, uint32_t limit) -> uint32_t {
    const uint32_t elapsed = now - since;
    return elapsed > limit ? 0 : limit + 1 - elapsed;
  };
  uint32_t wait = kIdleWakeMs;
  if (!greeted_) wait = std::min(wait, until_past(last_receive_, kGreetingSilenceMs));
  if (services_.van != nullptr && services_.van->GetVanState != nullptr) {
    wait = std::min(wait, kVanPollMs);
  }
  RelaySlot* slot = context_.index == 0 && last_van_state_ == 0 && services_.relay_slot != nullptr
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

void TerminalLoop::RegisterRelayWake() {
  if (context_.index != 0 || services_.relay_slot == nullptr) return;
  RelaySlot* slot = services_.relay_slot->load(std::memory_order_acquire);
  if (slot == registered_slot_) return;
  if (slot != nullptr) slot->terminal_wake.store(&port_.loop_wake(), std::memory_order_release);
  registered_slot_ = slot;
}

// Runs beside the loop: sleeps on the block's status word, which every writer of the block (in
// whichever process) wakes, and wakes the loop when the status names this terminal. It then
// waits for the loop to have looked at the block before it reads the status again: a reply taken
// and followed by the next one with the same status, all before this thread slept on the word,
// would leave it asleep on an unchanged value whose wake has already been given. A status left
// for this terminal (the VAN module busy) is taken when the loop next looks at the VAN state.
void TerminalLoop::WatchSharedBlock() {
  const SharedBlock& block = *context_.shared_block;
  while (watching_block_.load(std::memory_order_acquire)) {
    const int32_t seen = block.status();
    if (SharedBlock::RoutedTo(seen, context_.index)) {
      const uint32_t looks = block_looks_.load(std::memory_order_acquire);
      port_.WakeLoop();
      block_looks_.wait(looks, std::memory_order_acquire);
      continue;
    }
    block.WaitWhileStatus(seen, -1);
  }
  block_watcher_ended_.Signal();
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
  block_looks_.fetch_add(1, std::memory_order_acq_rel);  // the watcher may read the status again
  block_looks_.notify_all();
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
