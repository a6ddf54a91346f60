#include "hub/payments/print_entries.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "protocol/frame.h"
#include "hub/core/module_state.h"
#include "hub/payments/bill_rewrite.h"
#include "hub/payments/print_texts.h"

namespace hub::payments {

using namespace protocol;
namespace {

constexpr const char* kLogTag = "PrintText";
constexpr std::string_view kPrintCode = "151";
constexpr std::string_view kPrintTag = "PRINT";
// A bill's paper cut: ESC "i" and two spaces.
constexpr char kCutBytes[] = {kEsc, 'i', ' ', ' '};
constexpr std::string_view kCut(kCutBytes, sizeof kCutBytes);
constexpr std::string_view kFourLineFeeds = "\n\n\n\n";
constexpr char kFramedTextGs = 0x1D;  // a framed text's highlight marks
constexpr char kFramedTextRs = 0x1E;

std::string Rewritten(std::string_view text, const PharmacySettings& settings) {
  return settings.rewrite_bills ? RewriteBill(text, settings) : std::string(text);
}

std::string WithLineFeedsOnly(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == kCr) {
      out.push_back(kLf);
      if (i + 1 < text.size() && text[i + 1] == kLf) ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// A request pending in the slot is never overwritten: its frame may be on its way to the terminal.
bool SlotIsFree(const RelaySlot& slot) {
  if (slot.send_state.load(std::memory_order_acquire) == RelaySlot::kIdle) return true;
  WriteModuleLog(kLogTag, "a request is pending in the relay slot: print refused");
  return false;
}

void TakeClient(RelaySlot& slot, int client) {
  slot.relay_client.store(client, std::memory_order_relaxed);
  slot.ClearPayment();
}

}  // namespace

std::string PrintMessageBody(std::string_view text) {
  std::string body(kPrintCode);
  body.append(3, kFs);
  body.append(kPrintTag);
  body.append(text);
  return body;
}

std::string PosPrintBody(std::string_view text, const PharmacySettings& settings) {
  std::string body = PrintMessageBody(Rewritten(text, settings));
  body.push_back(kLf);
  const size_t cut = body.find(kCut);
  if (cut != std::string::npos) body.replace(cut, 2, "  ");
  return body;
}

std::string FirstAckPrintBody(std::string_view received, const PharmacySettings& settings) {
  std::string text = WithLineFeedsOnly(received);
  const size_t run = text.find(kFourLineFeeds);
  if (run != std::string::npos) text.resize(run + 1);
  return PrintMessageBody(Rewritten(text, settings));
}

std::string SecondAckPrintBody(std::string_view received, const PharmacySettings& settings) {
  std::string_view examined = received.substr(0, kFramedPrintExamined);
  const size_t etx = examined.find(kEtx);
  if (etx != std::string_view::npos) {
    examined = examined.substr(0, etx);
  } else if (received.size() >= kFramedPrintExamined) {
    WriteModuleLog(kLogTag, "framed print without ETX in its first 10240 bytes: text cut there");
  }
  const Fields<kFramedPrintFields> fields = SplitFields<kFramedPrintFields>(examined, kFs);
  if (fields.count > kFramedPrintFields) {
    WriteModuleLog(kLogTag, "framed print of " + std::to_string(fields.count) +
                                " fields: fields after 512 ignored, field 2 printed");
  }
  std::string text(fields[2]);
  std::replace(text.begin(), text.end(), kFramedTextGs, kSo);
  std::replace(text.begin(), text.end(), kFramedTextRs, kSi);
  return PrintMessageBody(Rewritten(text, settings));
}

int QueuePrintBody(RelaySlot& slot, std::string_view body) {
  if (!SlotIsFree(slot)) return 0;
  const std::optional<std::string> frame = BuildFrame(body, LengthRule::kNormal, kTerminalShape);
  if (!frame) {
    WriteModuleLog(kLogTag, "print body of " + std::to_string(body.size()) +
                                " bytes does not fit a frame: print refused");
    return 0;
  }
  std::memcpy(slot.send_buffer.data(), frame->data(), frame->size());
  slot.byte_count.store(static_cast<int32_t>(frame->size()), std::memory_order_relaxed);
  slot.MarkQueued();
  return 1;
}

int PrintPosRequestText(RelaySlot& slot, std::string_view field1,
                        const PharmacySettings& settings) {
  return QueuePrintBody(slot, PosPrintBody(field1, settings));
}

int PrintFirstAckText(RelaySlot& slot, std::string_view received, int client,
                      const PharmacySettings& settings) {
  if (!SlotIsFree(slot)) return 0;
  TakeClient(slot, client);
  slot.pending_request_code.store(151, std::memory_order_relaxed);
  return QueuePrintBody(slot, FirstAckPrintBody(received, settings));
}

int PrintSecondAckFrame(RelaySlot& slot, std::string_view received, int client,
                        const PharmacySettings& settings) {
  if (!SlotIsFree(slot)) return 0;
  TakeClient(slot, client);
  return QueuePrintBody(slot, SecondAckPrintBody(received, settings));
}

bool PlaceCashReceipt(RelaySlot& slot, std::string_view receipt) {
  if (receipt.size() >= slot.send_buffer.size()) {
    WriteModuleLog(kLogTag, "cash receipt larger than the send buffer: not placed");
    return false;
  }
  std::memcpy(slot.send_buffer.data(), receipt.data(), receipt.size());
  slot.send_buffer[receipt.size()] = 0;
  slot.byte_count.store(0, std::memory_order_relaxed);
  return true;
}

std::string_view PlacedCashReceipt(const RelaySlot& slot) {
  const auto* text = reinterpret_cast<const char*>(slot.send_buffer.data());
  return std::string_view(text, strnlen(text, slot.send_buffer.size()));
}

}  // namespace hub::payments
