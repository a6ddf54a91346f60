// A POS client's connection: the bytes it sent examined as they grow, and each complete request
// handled against the relay slot, with the payments side's services stood in for by seams that
// the input steers (a print or a framing that queues or refuses, payment handlers that queue or
// give the slot back).
//
// Input: one byte choosing the seams (and whether the slot is already taken), then the bytes.
//
// What must hold:
//   - the examination of the bytes never reads past them;
//   - a queued request holds the slot: send state waiting, its connection the relay client,
//     no more bytes than the send buffer holds, no answer;
//   - a request not queued leaves the slot to the request that held it (a taken slot is never
//     overwritten) or idle, and is answered with a refusal frame: a plain gateway frame whose
//     length field counts it, whose code answers the request's, with response code "9999".
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "hub/core/pos_request.h"
#include "hub/core/pos_request_frame.h"
#include "hub/core/pos_services.h"
#include "protocol/frame.h"

namespace {

constexpr int kClient = 7;
constexpr int kEarlierClient = 3;

uint8_t g_seams = 0;  // the current input's choice, read by the seams

int Queues(hub::RelaySlot& slot, std::string_view bytes) {
  if (bytes.size() > slot.send_buffer.size()) return 0;
  std::memcpy(slot.send_buffer.data(), bytes.data(), bytes.size());
  slot.byte_count.store(static_cast<int32_t>(bytes.size()));
  slot.MarkQueued();
  return 1;
}

// The print frames its text as a relayed body does.
int Print(hub::RelaySlot& slot, std::string_view text, const hub::PharmacySettings&) {
  if ((g_seams & 1) == 0) return 0;
  const std::optional<std::string> frame = protocol::BuildFrame("151PRINT" + std::string(text));
  return frame ? Queues(slot, *frame) : 0;
}

int QueueBody(hub::RelaySlot& slot, std::string_view body) {
  if ((g_seams & 2) == 0) return 0;
  const std::optional<std::string> frame = protocol::BuildFrame(body);
  return frame ? Queues(slot, *frame) : 0;
}

hub::PosRequestResult Payment(hub::RelaySlot& slot, const hub::PosRequest& request,
                              const hub::PharmacySettings& settings) {
  FUZZ_CHECK(slot.relay_client.load() == kClient);
  FUZZ_CHECK(slot.pending_request_code.load() == request.code);
  if ((g_seams & 4) != 0 && Queues(slot, request.frame) == 1) {
    return hub::PosRequestResult{.queued = true, .answer = {}};
  }
  return hub::RefuseTakenRequest(slot, request, hub::kRefusedTooLong, settings);
}

// `expected_code`: the answer code the client waits for, or -1 when the input does not tell it
// without decoding.
void CheckRefusal(std::string_view answer, int expected_code) {
  FUZZ_CHECK(!answer.empty() && answer[0] == protocol::kStx);
  const size_t etx = protocol::EtxIndex(answer);
  FUZZ_CHECK(etx != std::string_view::npos);
  FUZZ_CHECK(protocol::ReadLengthField(answer) == static_cast<int>(etx + 1));
  const std::optional<int> code = protocol::MessageCode(answer);
  FUZZ_CHECK(code.has_value());
  if (expected_code >= 0) FUZZ_CHECK(*code == expected_code);
  const auto fields = protocol::FrameFields<4>(answer);
  FUZZ_CHECK(fields[2] == hub::kRefusalResponseCode);
}

// The answer code of a refused request: its code + 1, 0 when it has none (or the last).
int AnswerCode(std::optional<int> request_code) {
  return request_code && *request_code < protocol::kMaxMessageCode ? *request_code + 1 : 0;
}

// A frame that is neither packed nor enciphered carries its code as it came.
bool PlainAsItCame(std::string_view frame) {
  if (frame.size() <= protocol::kPackingFlagOffset) return false;
  const char packing = frame[protocol::kPackingFlagOffset];
  return frame[protocol::kCipherFlagOffset] != protocol::kCipheredFlag &&
         !(packing >= '0' && packing <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UsePrivatePrefix();  // the cipher key is read from the prefix's registry
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Input input(data, size);
  g_seams = input.Byte();
  const std::string_view bytes = input.Rest();

  hub::PosServices services;
  services.print_pos_request = Print;
  services.queue_body = QueueBody;
  if ((g_seams & 8) == 0) services.cash_receipt = Payment;
  if ((g_seams & 16) == 0) services.card_request = Payment;
  hub::PharmacySettings settings;
  settings.terminal_id = "T0001";

  // The bytes arrive in segments; each time, what has arrived so far is examined. The first
  // complete request is handled, as the listener does.
  const size_t step = 1 + (g_seams >> 5);
  hub::PosRequestStatus status = hub::PosRequestStatus::kNeedMore;
  std::string_view held;
  for (size_t end = std::min(step, bytes.size()); status == hub::PosRequestStatus::kNeedMore;
       end = std::min(end + step, bytes.size())) {
    // A copy of just the bytes held, so that a read past them is caught.
    const std::unique_ptr<char[]> copy(new char[end]);
    std::memcpy(copy.get(), bytes.data(), end);
    status = hub::ExaminePosBytes(std::string_view(copy.get(), end));
    held = bytes.substr(0, end);
    if (end == bytes.size()) break;
  }
  if (status != hub::PosRequestStatus::kGatewayFrame &&
      status != hub::PosRequestStatus::kSignatureImage) {
    return 0;
  }

  auto slot = std::make_unique<hub::RelaySlot>();
  const bool taken = (g_seams & 32) != 0;
  if (taken) {
    slot->relay_client.store(kEarlierClient);
    slot->pending_request_code.store(51);
    slot->byte_count.store(5);
    slot->send_state.store(hub::RelaySlot::kSent);
  }
  const hub::PosRequestResult result =
      status == hub::PosRequestStatus::kGatewayFrame
          ? hub::HandlePosRequest(*slot, held, kClient, settings, services)
          : hub::HandleSignatureFrame(*slot, held, kClient, settings);

  if (result.queued) {
    FUZZ_CHECK(!taken);
    FUZZ_CHECK(result.answer.empty());
    FUZZ_CHECK(slot->send_state.load() == hub::RelaySlot::kWaiting);
    FUZZ_CHECK(slot->relay_client.load() == kClient);
    const int32_t count = slot->byte_count.load();
    FUZZ_CHECK(count > 0 && static_cast<size_t>(count) <= slot->send_buffer.size());
    return 0;
  }
  int expected_code = -1;
  if (status == hub::PosRequestStatus::kSignatureImage) {
    expected_code = AnswerCode(0);
  } else if (PlainAsItCame(held)) {
    expected_code = AnswerCode(protocol::MessageCode(held));
  }
  CheckRefusal(result.answer, expected_code);
  if (taken) {
    FUZZ_CHECK(slot->send_state.load() == hub::RelaySlot::kSent);
    FUZZ_CHECK(slot->relay_client.load() == kEarlierClient);
    FUZZ_CHECK(slot->pending_request_code.load() == 51);
    FUZZ_CHECK(slot->byte_count.load() == 5);
  } else {
    FUZZ_CHECK(slot->send_state.load() == hub::RelaySlot::kIdle);
    FUZZ_CHECK(slot->relay_client.load() == hub::RelaySlot::kNoClient);
  }
  return 0;
}
