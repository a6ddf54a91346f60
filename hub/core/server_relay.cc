#include "hub/core/server_relay.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/module_state.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "stores/local_stores.h"

namespace hub {

using namespace protocol;

namespace {

constexpr char kRelayLogTag[] = "ServerRelay";
constexpr std::string_view kAcceptedAnswer = "0000";

// Sale record layout.
constexpr size_t kPrescriptionBytes = 10;  // one prescription record of message field 6
constexpr size_t kItemBytes = 27;          // the bytes of an item that the record carries
constexpr size_t kItemStride = 28;         // an item and its separator
constexpr size_t kCountField = 5;
constexpr size_t kPrescriptionField = 6;
constexpr size_t kFirstLaterField = 7;  // fields 7-20 follow the prescription bytes
constexpr size_t kLastCopiedField = 18;
constexpr size_t kItemCountField = 19;
constexpr size_t kItemField = 20;
constexpr size_t kAnswerField = 2;
constexpr size_t kTotalField = 4;

// The bytes of `text` after skipping `count` FS-introduced fields, i.e. where field `count`
// starts; npos when the text has fewer fields.
size_t FieldStart(std::string_view text, size_t field) {
  size_t at = 0;
  for (size_t n = 0; n < field; ++n) {
    const size_t fs = text.find(kFs, at);
    if (fs == std::string_view::npos) return std::string_view::npos;
    at = fs + 1;
  }
  return at;
}

std::string PortFromEnvironment(const char* variable, std::string_view fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && platform::ParsePort(value)) return value;
  return std::string(fallback);
}

std::string PropertyText(connmap::TextField field) {
  const char* record = PropertyRecord();
  return record == nullptr ? std::string() : connmap::ReadText(record, field);
}

}  // namespace

int ServerConnection::Connect(std::string_view port, std::string_view address) {
  Close();
  const std::optional<uint16_t> number = platform::ParsePort(port);
  if (!number) {
    last_error_ = kSocketConnectFailed;
    return 0;
  }
  // Bounded by kConnectLimit, so an unreachable server cannot hold a terminal loop for minutes.
  const platform::Status connected =
      platform::TcpConnect(address, *number, platform::Deadline::After(kConnectLimit), &socket_);
  if (!connected.ok()) {
    const int error = connected.system_error();
    const bool no_socket =
        error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
    last_error_ = no_socket ? kSocketNone : kSocketConnectFailed;
    return 0;
  }
  last_error_ = 0;
  return 1;
}

bool ServerConnection::WaitReadable(std::chrono::milliseconds limit) {
  if (socket_.valid() &&
      platform::WaitReadable(socket_.get(), platform::Deadline::After(limit)).ok()) {
    return true;
  }
  last_error_ = kSocketTimedOut;
  return false;
}

int ServerConnection::ReceiveInto(char* buffer, size_t room) {
  size_t got = 0;
  // Called once the socket is readable: what has arrived is taken without waiting.
  const platform::Status received =
      platform::ReceiveSome(socket_.get(), buffer, room, platform::Deadline::After(0), &got);
  if (received.ok()) return static_cast<int>(got);
  switch (received.code()) {
    case platform::StatusCode::kClosed:
      last_error_ = kSocketPeerClosed;
      break;
    case platform::StatusCode::kTimedOut:
      last_error_ = kSocketTimedOut;
      break;
    default:
      last_error_ = received.system_error() > 0 ? -received.system_error() : kSocketConnectFailed;
  }
  return last_error_;
}

int ServerConnection::TimedReceive(std::string* destination, std::chrono::milliseconds limit) {
  received_ = 0;
  if (!WaitReadable(limit)) return 0;
  const int got = ReceiveInto(buffer_.data(), buffer_.size());
  if (got <= 0) return 0;
  received_ = static_cast<size_t>(got);
  if (destination != nullptr) destination->assign(buffer_.data(), received_);
  return got;
}

bool ServerConnection::SendAll(std::string_view bytes) {
  if (socket_.valid() &&
      platform::SendAll(socket_.get(), bytes, platform::Deadline::Never()).ok()) {
    return true;
  }
  last_error_ = kSocketSendFailed;
  return false;
}

void ServerConnection::Close() { platform::CloseConnection(std::move(socket_)); }

int Exchange(std::string_view port, ServerConnection* connection, std::string_view bytes,
             std::string_view address, std::string* destination, size_t destination_size,
             std::chrono::milliseconds limit) {
  if (!connection->Connect(port, address)) return 0;
  if (!connection->SendAll(bytes) || !connection->WaitReadable(limit)) {
    connection->Close();
    return connection->last_error();
  }
  std::vector<char> answer(kExchangeReceiveSize);
  const int got = connection->ReceiveInto(answer.data(), answer.size());
  connection->Close();
  // A server that closes without a word has sent nothing: the count is 0, and the record's
  // last error says the peer closed.
  if (got == kSocketPeerClosed) return 0;
  if (got > 0 && destination != nullptr) {
    destination->assign(answer.data(), std::min(static_cast<size_t>(got), destination_size));
  }
  return got;
}

int64_t LeadingNumber(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  constexpr int64_t kCeiling = std::numeric_limits<int32_t>::max();
  int64_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = std::min(kCeiling, value * 10 + (text[at] - '0'));
  }
  return negative ? -value : value;
}

GatewayEndpoint SaleRelayEndpoint() {
  return {PropertyText(connmap::kServerAddress),
          PortFromEnvironment(kSaleRelayPortVariable, kSaleRelayPort)};
}

GatewayEndpoint RegistrationEndpoint() {
  return {PropertyText(connmap::kServerAddress),
          PortFromEnvironment(kRegistrationPortVariable, kRegistrationPort)};
}

GatewayEndpoint PassThroughEndpoint() {
  return {PropertyText(connmap::kServerAddress), PropertyText(connmap::kServerPort)};
}

std::optional<std::string> BuildSaleRecord(std::string_view frame, std::string* refusal) {
  const auto refuse = [refusal](std::string reason) -> std::optional<std::string> {
    if (refusal != nullptr) *refusal = std::move(reason);
    return std::nullopt;
  };
  const std::string_view content = FrameContent(frame);
  const Fields<kFirstLaterField> head = SplitFields<kFirstLaterField>(content, kFs);
  const int64_t prescriptions = std::max<int64_t>(LeadingNumber(head[kCountField]), 0);

  // Fields 7-20 and where field 20 starts (items may hold any byte, so they are read by offset).
  std::string_view later;  // from field 7 to the end of the content
  std::string prescription_hex;
  if (prescriptions >= 1) {
    const size_t block = FieldStart(content, kPrescriptionField);
    const auto block_size = static_cast<uint64_t>(prescriptions) * kPrescriptionBytes;
    if (block == std::string_view::npos || block_size > content.size() - block) {
      return refuse("prescription count " + std::to_string(prescriptions) +
                    " exceeds the bytes present");
    }
    prescription_hex = platform::ToHex(content.substr(block, block_size));
    const size_t fs = content.find(kFs, block + block_size);
    if (fs != std::string_view::npos) later = content.substr(fs + 1);
  } else {
    const size_t start = FieldStart(content, kFirstLaterField);
    if (start != std::string_view::npos) later = content.substr(start);
  }
  constexpr size_t kLaterFields = kItemField - kFirstLaterField + 1;
  const Fields<kLaterFields> tail = SplitFields<kLaterFields>(later, kFs);
  const auto field = [&tail](size_t n) { return tail[n - kFirstLaterField]; };

  std::string items;
  const int64_t item_count = LeadingNumber(field(kItemCountField));
  if (item_count >= 1) {
    const size_t item_start = FieldStart(later, kItemField - kFirstLaterField);
    const uint64_t needed = static_cast<uint64_t>(item_count - 1) * kItemStride + kItemBytes;
    if (later.empty() || item_start == std::string_view::npos ||
        needed > later.size() - item_start) {
      return refuse("item count " + std::to_string(item_count) + " exceeds the bytes present");
    }
    for (int64_t k = 0; k < item_count; ++k) {
      items += platform::ToHex(
          later.substr(item_start + static_cast<size_t>(k) * kItemStride, kItemBytes));
      items += kGs;
    }
  }

  std::string record = std::to_string(prescriptions);
  for (std::string_view text :
       {std::string_view(prescription_hex), std::string_view(items), head[kTotalField]}) {
    record += kFs;
    record += text;
  }
  for (size_t n = kFirstLaterField; n <= kLastCopiedField; ++n) {
    record += kFs;
    record += field(n);
  }
  if (prescriptions < 1) record += kFs;
  return record;
}

RelayServices ModuleRelayServices() {
  RelayServices services;
  services.server = SaleRelayEndpoint();
  services.send_helvar = [](int32_t code, std::string_view payload) {
    return SendHelvarRequest(code, payload);
  };
  services.store_frame = &stores::StoreUndeliveredFrame;
  services.read_kept = &stores::ReadUndeliveredFramesWithIds;
  services.delete_kept = &stores::DeleteUndeliveredFrame;
  services.replay = &ModuleKeptFrameReplay();
  services.log = ModuleLogTarget();
  return services;
}

int RelaySale(std::string* frame, int terminal, int32_t base, bool store,
              const RelayServices& services) {
  if (frame->size() > kPackingFlagOffset) (*frame)[kPackingFlagOffset] = kForwardedFlag;
  ServerConnection connection;
  const int answered = Exchange(services.server.port, &connection, *frame, services.server.address,
                                nullptr, 0, services.limit);
  if (answered < 1) {
    WriteFrameLog(services.log, kRelayLogTag,
                  "gateway server " + services.server.address + ":" + services.server.port +
                      " took nothing (" + std::to_string(connection.last_error()) + ")");
    if (store && services.store_frame && services.store_frame(*frame) != 1) {
      WriteFrameLog(services.log, kRelayLogTag, "undelivered frame not kept");
    }
  } else if (services.replay != nullptr) {
    // The server answers again: what was kept while it did not goes now.
    services.replay->Replay(services);
  }
  if (FrameFields<kAnswerField + 1>(*frame)[kAnswerField] != kAcceptedAnswer) return 0;
  std::string refusal;
  const std::optional<std::string> record = BuildSaleRecord(*frame, &refusal);
  if (!record) {
    WriteFrameLog(services.log, kRelayLogTag, "sale record refused: " + refusal);
    return 0;
  }
  return services.send_helvar ? services.send_helvar(base + terminal, *record) : 0;
}

bool KeptFrameReplay::Due() {
  return clock_.Now() - last_try_.load(std::memory_order_acquire) >= kIntervalMs;
}

int KeptFrameReplay::ReplayIfDue(const RelayServices& services) {
  return Due() ? Replay(services) : 0;
}

int KeptFrameReplay::Replay(const RelayServices& services) {
  bool idle = false;
  if (!replaying_.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) return 0;
  last_try_.store(clock_.Now(), std::memory_order_release);
  int taken = 0;
  const std::vector<stores::KeptFrame> kept =
      services.read_kept ? services.read_kept() : std::vector<stores::KeptFrame>();
  for (size_t n = 0; n < kept.size(); ++n) {
    const stores::KeptFrame& frame = kept[n];
    ServerConnection connection;
    const int answered = Exchange(services.server.port, &connection, frame.bytes,
                                  services.server.address, nullptr, 0, services.limit);
    if (answered < 1) {
      WriteFrameLog(services.log, kRelayLogTag,
                    "kept frame " + std::to_string(frame.seq) + " not taken by " +
                        services.server.address + ":" + services.server.port + " (" +
                        std::to_string(connection.last_error()) + "); " +
                        std::to_string(kept.size() - n) + " kept frames wait");
      break;
    }
    ++taken;
    if (!services.delete_kept || services.delete_kept(frame.seq) != 1) {
      WriteFrameLog(services.log, kRelayLogTag,
                    "kept frame " + std::to_string(frame.seq) +
                        " delivered but not deleted; it goes again on a later replay");
    }
  }
  last_try_.store(clock_.Now(), std::memory_order_release);
  replaying_.store(false, std::memory_order_release);
  return taken;
}

KeptFrameReplay& ModuleKeptFrameReplay() {
  static KeptFrameReplay replay(platform::SystemClock());
  return replay;
}

}  // namespace hub
