#include "hub/core/pos_request.h"

#include <array>
#include <cstring>
#include <optional>

#include "hub/core/frame_decoder.h"
#include "hub/core/module_state.h"
#include "hub/core/pos_services.h"

namespace hub {

using namespace protocol;
namespace {

constexpr const char* kLogTag = "PosRequest";

constexpr int kPrintCode = 151;
constexpr int kDisplayCode = 157;
constexpr int kHostRequestCode = 843;
constexpr std::array<int, 4> kCashCodes = {161, 171, 181, 183};
constexpr std::array<int, 4> kCardCodes = {51, 61, 63, 71};

template <size_t N>
bool IsOneOf(int code, const std::array<int, N>& codes) {
  for (int c : codes) {
    if (c == code) return true;
  }
  return false;
}

PosRequestResult Refused(int request_code, std::string_view reason,
                         const PharmacySettings& settings) {
  WriteModuleLog(kLogTag,
                 "request " + std::to_string(request_code) + " refused: " + std::string(reason));
  return PosRequestResult{.queued = false, .answer = RefusalFrame(request_code, reason, settings)};
}

// Another request occupies the slot: its frame may be on its way to the terminal and its client
// waits for the answer, so it is never overwritten.
bool SlotBusy(const RelaySlot& slot) {
  return slot.send_state.load(std::memory_order_acquire) != RelaySlot::kIdle;
}

// A request begins: the connection becomes the relay client, the fields of the last one go.
void TakeSlot(RelaySlot& slot, int client, int code) {
  slot.relay_client.store(client, std::memory_order_relaxed);
  slot.ClearPayment();
  slot.byte_count.store(0, std::memory_order_relaxed);
  slot.pending_request_code.store(code, std::memory_order_relaxed);
}

// A request that could not be queued after it took the slot: the caller answers and closes the
// connection itself, so the slot lets go of it.
void ReleaseSlot(RelaySlot& slot) {
  slot.relay_client.store(RelaySlot::kNoClient, std::memory_order_relaxed);
  slot.pending_request_code.store(0, std::memory_order_relaxed);
}

PosRequestResult Queue(RelaySlot& slot, const PosRequest& request, int result,
                       const PharmacySettings& settings) {
  if (result == 1) return PosRequestResult{.queued = true, .answer = {}};
  return RefuseTakenRequest(slot, request, kRefusedTooLong, settings);
}

// A request whose service the module does not have (pos_services.h).
PosRequestResult Unserved(RelaySlot& slot, const PosRequest& request, const char* service,
                          std::string_view reason, const PharmacySettings& settings) {
  WriteModuleLog(kLogTag, std::string("no ") + service + " service in the module");
  return RefuseTakenRequest(slot, request, reason, settings);
}

}  // namespace

std::string RefusalFrame(int request_code, std::string_view reason,
                         const PharmacySettings& settings) {
  const int answer_code =
      request_code >= 0 && request_code < kMaxMessageCode ? request_code + 1 : 0;
  const std::array<std::string_view, 3> fields = {settings.terminal_id, kRefusalResponseCode,
                                                  reason};
  return BuildMessage(answer_code, fields).value_or(std::string());
}

std::optional<std::string> RelayedBody(const PosRequest& request) {
  const auto& f = request.fields;
  if (request.code == kDisplayCode || request.code == kHostRequestCode) {
    const std::array<std::string_view, 5> fields = {"", "", f[3], f[4], f[5]};
    return MessageBody(request.code, fields);
  }
  if (request.code == kPrintCode || IsOneOf(request.code, kCashCodes) ||
      IsOneOf(request.code, kCardCodes)) {
    return std::nullopt;
  }
  const std::array<std::string_view, 3> fields = {"", f[1], f[2]};
  return MessageBody(request.code, fields);
}

PosRequestResult HandlePosRequest(RelaySlot& slot, std::string_view frame, int client,
                                  const PharmacySettings& settings, const PosServices& services) {
  PosRequest request;
  request.frame = std::string(frame);
  const DecodeStatus decoded = DecodeFrame(&request.frame);
  const std::optional<int> code = MessageCode(request.frame);
  if (decoded != DecodeStatus::kOk || !code) {
    WriteModuleLog(kLogTag, std::string("frame not decoded: ") + DecodeStatusText(decoded));
    return Refused(code.value_or(-1), kRefusedUnreadable, settings);
  }
  request.code = *code;
  if (SlotBusy(slot)) return Refused(request.code, kRefusedPending, settings);
  request.fields = FrameFields<kPosRequestFields>(request.frame);
  TakeSlot(slot, client, request.code);

  if (IsOneOf(request.code, kCashCodes)) {
    if (services.cash_receipt == nullptr) {
      return Unserved(slot, request, "cash receipt", kRefusedCashNotReady, settings);
    }
    return services.cash_receipt(slot, request, settings);
  }
  if (IsOneOf(request.code, kCardCodes)) {
    if (services.card_request == nullptr) {
      return Unserved(slot, request, "card request", kRefusedCardNotReady, settings);
    }
    return services.card_request(slot, request, settings);
  }
  if (request.code == kPrintCode) {
    if (services.print_pos_request == nullptr) {
      return Unserved(slot, request, "print", kRefusedNotServed, settings);
    }
    return Queue(slot, request, services.print_pos_request(slot, request.fields[1], settings),
                 settings);
  }
  if (services.queue_body == nullptr) {
    return Unserved(slot, request, "relay framing", kRefusedNotServed, settings);
  }
  const std::optional<std::string> body = RelayedBody(request);
  return Queue(slot, request, body ? services.queue_body(slot, *body) : 0, settings);
}

PosRequestResult HandleSignatureFrame(RelaySlot& slot, std::string_view frame, int client,
                                      const PharmacySettings& settings) {
  if (SlotBusy(slot)) return Refused(0, kRefusedPending, settings);
  if (frame.size() > slot.send_buffer.size()) return Refused(0, kRefusedTooLong, settings);
  TakeSlot(slot, client, 0);
  std::memcpy(slot.send_buffer.data(), frame.data(), frame.size());
  slot.byte_count.store(static_cast<int32_t>(frame.size()), std::memory_order_relaxed);
  slot.MarkQueued();
  return PosRequestResult{.queued = true, .answer = {}};
}

PosRequestResult RefuseTakenRequest(RelaySlot& slot, const PosRequest& request,
                                    std::string_view reason, const PharmacySettings& settings) {
  ReleaseSlot(slot);
  return Refused(request.code, reason, settings);
}

}  // namespace hub
