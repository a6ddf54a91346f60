#include "hub/core/local_listener.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "protocol/frame.h"
#include "hub/core/module_state.h"
#include "hub/core/pos_request.h"
#include "hub/core/pos_request_frame.h"

namespace hub {

using namespace protocol;
namespace {

constexpr const char* kLogTag = "LocalListener";
// Every local address: the pharmacy program may run on another counter PC.
constexpr std::string_view kAllAddresses = "0.0.0.0";
constexpr int kBacklog = 4096;  // the largest the system takes (SOMAXCONN)
constexpr size_t kReceiveChunk = 4096;
constexpr std::string_view kFirstAckAnswer = "\x06\x06\x06";
constexpr std::string_view kSecondAckAnswer = "\x06";

const char* KindName(ListenerKind kind) {
  switch (kind) {
    case ListenerKind::kPosRequest:
      return "POS request listener";
    case ListenerKind::kFirstAck:
      return "first acknowledgement listener";
    case ListenerKind::kSecondAck:
      return "second acknowledgement listener";
  }
  return "listener";
}

std::string WhyReceiveEnded(const platform::Status& status, size_t held) {
  const std::string after = " after " + std::to_string(held) + " bytes";
  switch (status.code()) {
    case platform::StatusCode::kClosed:
      return held == 0 ? "client closed without sending" : "client closed mid-request" + after;
    case platform::StatusCode::kTimedOut:
      return "no whole request within the receive limit" + after;
    case platform::StatusCode::kCancelled:
      return "listener stopping" + after;
    case platform::StatusCode::kInvalidArgument:
      return status.message();
    default:
      return "receive failed: " + status.message() + after;
  }
}

}  // namespace

ListenerServices ListenerServices::ForModule() {
  ModuleState& module = Module();
  ListenerServices services;
  services.running = &module.running;
  services.relay_slot = &module.relay_slot;
  services.notify = &PostHostNotification;
  services.pos = InstalledPosServices();
  if (services.pos.settings != nullptr) {
    services.settings = [read = services.pos.settings] { return read(PropertyRecord()); };
  } else {
    WriteModuleLog(kLogTag, "no settings reader in the module: the settings read empty");
  }
  services.log = ModuleLogTarget();
  return services;
}

std::unique_ptr<LocalListener> LocalListener::Start(ListenerKind kind, uint16_t port,
                                                    ListenerServices services) {
  std::unique_ptr<platform::TcpListener> listener;
  const platform::Status status =
      platform::TcpListener::Listen(kAllAddresses, port, kBacklog, &listener);
  if (!status.ok()) {
    WriteFrameLog(services.log, kLogTag,
                  std::string(KindName(kind)) + " on port " + std::to_string(port) +
                      " not started: " + status.message());
    return nullptr;
  }
  std::unique_ptr<LocalListener> local(
      new LocalListener(kind, std::move(listener), std::move(services)));
  local->thread_ = std::thread(&LocalListener::AcceptLoop, local.get());
  return local;
}

LocalListener::LocalListener(ListenerKind kind, std::unique_ptr<platform::TcpListener> listener,
                             ListenerServices services)
    : kind_(kind),
      listener_(std::move(listener)),
      port_(listener_->port()),
      services_(std::move(services)) {}

LocalListener::~LocalListener() { Stop(); }

void LocalListener::Stop() {
  stop_.Signal();
  if (listener_ != nullptr) listener_->Cancel();
  if (thread_.joinable()) thread_.join();
  listener_.reset();
}

bool LocalListener::Running() const {
  if (stop_.Signalled()) return false;
  return services_.running == nullptr || services_.running->load(std::memory_order_acquire);
}

void LocalListener::Log(const std::string& text) const {
  WriteFrameLog(services_.log, kLogTag, std::string(KindName(kind_)) + ": " + text);
}

void LocalListener::AcceptLoop() {
  while (Running()) {
    platform::UniqueFd connection;
    const platform::Status status = listener_->Accept(platform::Deadline::Never(), &connection);
    if (status.code() == platform::StatusCode::kCancelled) return;
    if (!status.ok()) {
      Log("accept failed, listener ends: " + status.message());
      return;
    }
    if (kind_ == ListenerKind::kPosRequest) {
      ServePosClient(std::move(connection));
    } else {
      ServeAckClient(std::move(connection));
    }
  }
}

void LocalListener::ServePosClient(platform::UniqueFd connection) {
  const platform::Deadline deadline = platform::Deadline::After(services_.receive_limit_ms);
  std::string held;
  for (;;) {
    const platform::Status status = ReceiveMore(connection.get(), &held, deadline);
    if (!status.ok()) {
      Log(WhyReceiveEnded(status, held.size()) + ": connection closed");
      if (held.size() == kListenerBufferSize) WriteFrameLog(services_.log, kPosRecvLogTag, held);
      platform::CloseConnection(std::move(connection));
      return;
    }
    const PosRequestStatus examined = ExaminePosBytes(held);
    if (examined == PosRequestStatus::kNeedMore) continue;
    if (examined == PosRequestStatus::kNotARequest) {
      Log("bytes that are no request: connection closed");
      WriteFrameLog(services_.log, kPosRecvLogTag, held);
      platform::CloseConnection(std::move(connection));
      return;
    }
    if (examined == PosRequestStatus::kGatewayFrame) {
      WriteFrameLog(services_.log, kPosRecvLogTag, held);
    }
    RelaySlot* slot = Slot(&connection);
    if (slot == nullptr) return;
    if (services_.notify) services_.notify(kEventPosRequest, 0);
    const PharmacySettings settings = Settings();
    const PosRequestResult result =
        examined == PosRequestStatus::kGatewayFrame
            ? HandlePosRequest(*slot, held, connection.get(), settings, services_.pos)
            : HandleSignatureFrame(*slot, held, connection.get(), settings);
    HandOver(slot, std::move(connection), result.queued, result.answer);
    return;
  }
}

void LocalListener::ServeAckClient(platform::UniqueFd connection) {
  const platform::Deadline deadline = platform::Deadline::After(services_.receive_limit_ms);
  std::string held;
  for (;;) {
    // Once bytes have come, a pause ends the text; before, the receive limit ends the wait.
    const platform::Deadline wait =
        held.empty() || deadline.Passed() ? deadline : platform::Deadline::After(kAckQuietMs);
    const platform::Status status = ReceiveMore(connection.get(), &held, wait);
    if (status.ok()) continue;
    const bool whole =
        !held.empty() && status.code() == platform::StatusCode::kTimedOut && !deadline.Passed();
    if (!whole) {
      Log(WhyReceiveEnded(status, held.size()) + ": connection closed");
      platform::CloseConnection(std::move(connection));
      return;
    }
    break;
  }
  const bool first = kind_ == ListenerKind::kFirstAck;
  const platform::Status sent =
      platform::SendAll(connection.get(), first ? kFirstAckAnswer : kSecondAckAnswer,
                        platform::Deadline::After(kAnswerSendLimitMs));
  if (!sent.ok()) Log("acknowledgement not sent: " + sent.message());
  WriteFrameLog(services_.log, kAckListenerLogTag, held);
  RelaySlot* slot = Slot(&connection);
  if (slot == nullptr) return;
  const PosServices::AckPrintFn print =
      first ? services_.pos.print_first_ack : services_.pos.print_second_ack;
  if (print == nullptr) {
    Log("no print service in the module: print not queued, connection closed");
    platform::CloseConnection(std::move(connection));
    return;
  }
  const int queued = print(*slot, held, connection.get(), Settings());
  if (queued != 1) Log("print not queued: connection closed");
  HandOver(slot, std::move(connection), queued == 1, std::string());
}

platform::Status LocalListener::ReceiveMore(int connection, std::string* held,
                                            const platform::Deadline& deadline) {
  const size_t room = kListenerBufferSize - held->size();
  if (room == 0) {
    return platform::Status(platform::StatusCode::kInvalidArgument,
                            "40000 bytes without a whole request");
  }
  std::array<char, kReceiveChunk> chunk;
  size_t count = 0;
  const platform::Status status = platform::ReceiveSome(
      connection, chunk.data(), std::min(room, chunk.size()), deadline, &count, &stop_);
  if (status.ok()) held->append(chunk.data(), count);
  return status;
}

RelaySlot* LocalListener::Slot(platform::UniqueFd* connection) const {
  RelaySlot* slot =
      services_.relay_slot ? services_.relay_slot->load(std::memory_order_acquire) : nullptr;
  if (slot == nullptr) {
    Log("no relay slot (module stopping): connection closed");
    platform::CloseConnection(std::move(*connection));
  }
  return slot;
}

PharmacySettings LocalListener::Settings() const {
  return services_.settings ? services_.settings() : PharmacySettings{};
}

void LocalListener::HandOver(RelaySlot* slot, platform::UniqueFd connection, bool queued,
                             const std::string& answer) {
  if (queued) {
    (void)connection.release();  // the relay slot closes it when the request is done
    return;
  }
  // A refused print may have made the connection the relay client before it was refused.
  int client = connection.get();
  slot->relay_client.compare_exchange_strong(client, RelaySlot::kNoClient,
                                             std::memory_order_acq_rel);
  if (!answer.empty()) {
    const platform::Status sent =
        platform::SendAll(connection.get(), answer, platform::Deadline::After(kAnswerSendLimitMs));
    if (!sent.ok()) Log("refusal not sent: " + sent.message());
  }
  platform::CloseConnection(std::move(connection));
}

}  // namespace hub
