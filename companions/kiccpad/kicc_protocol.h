// What the hub, the sign-pad module library and the VAN approval server agree on: the request
// record the hub fills, the size of the answer record, the settings that name the server, and
// the messages the library and the server exchange over TCP.
//
// Request record (the argument of epSetReqData): 310 bytes, every field left-aligned and padded
// with spaces to its width, no separators, no terminator. Bytes between the named fields are
// spaces.
//
//   0 kind "D1"/"D4" | 2 "=" | 3 " " | 4 "40" | 6 terminal id (8) | 14 spaces (3) | 17 "A"
//   | 18 card data (37) | 55 spaces (4) | 59 installment (2) | 61 total (9) | 70 spaces (20)
//   | 90 original approval (12) | 102 original date (6) | 108 spaces (25) | 133 amount 3 (9)
//   | 142 "Y" | 143 spaces (104) | 247 amount block (60) | 307 spaces (3)
//
// Messages (both directions): "KV" kind length payload
//   kind     one letter: 'Q' approval request, 'A' approval answer, 'C' confirmation,
//            'K' confirmation taken
//   length   the payload's byte count, six decimal digits
//   Q payload  request record (310) | seed (32, space-padded) | n (4 digits) | n signature bytes
//   A payload  answer record (832)
//   C payload  the answer record being confirmed (832)
//   K payload  empty
// One exchange per connection: the library connects, sends Q (or C), reads A (or K), closes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.h"
#include "platform/status.h"
#include "platform/wake_event.h"

namespace kicc {

// --- Request record ----------------------------------------------------------------------

struct Field {
  size_t offset;
  size_t width;
};

inline constexpr size_t kRequestRecordSize = 310;
// The zeroed area the record is built in; the bytes behind the record stay zero, so the record
// reaches the library as a zero-terminated text.
inline constexpr size_t kRequestAreaSize = 320;

inline constexpr Field kRequestKind{0, 2};
inline constexpr Field kKindSeparator{2, 1};
inline constexpr Field kRecordVersion{4, 2};
inline constexpr Field kTerminalId{6, 8};
inline constexpr Field kEntryMode{17, 1};
inline constexpr Field kCardData{18, 37};
inline constexpr Field kInstallmentMonths{59, 2};
inline constexpr Field kTotal{61, 9};
inline constexpr Field kOriginalApproval{90, 12};
inline constexpr Field kOriginalDate{102, 6};
inline constexpr Field kAmount3{133, 9};
inline constexpr Field kSignatureFlag{142, 1};
inline constexpr Field kAmountBlock{247, 60};
inline constexpr size_t kRequestTrailingSpaces = 3;
static_assert(kAmountBlock.offset + kAmountBlock.width + kRequestTrailingSpaces ==
              kRequestRecordSize);

inline constexpr std::string_view kPaymentKind = "D1";
inline constexpr std::string_view kCancellationKind = "D4";
inline constexpr std::string_view kKindSeparatorText = "=";
inline constexpr std::string_view kRecordVersionText = "40";
inline constexpr std::string_view kEntryModeText = "A";
inline constexpr std::string_view kSignatureFlagText = "Y";

// The field's text as it stands in the record (spaces kept).
inline std::string_view FieldOf(std::string_view record, Field field) {
  return record.size() < field.offset + field.width ? std::string_view()
                                                    : record.substr(field.offset, field.width);
}

// --- Answer record -----------------------------------------------------------------------

// The server's answer, handed to the hub unchanged; its fields are the approval reply record's.
inline constexpr size_t kAnswerRecordSize = 832;

// --- Settings ----------------------------------------------------------------------------

// The VAN server's port when no setting names another (the text the hub passes to epSetKiccPort).
inline constexpr std::string_view kDefaultVanPort = "15700";
// Current user's registry key of the library's and the hub's sign-pad settings.
inline constexpr char kSettingsKey[] = "Software\\Tavenor\\KiccPad";
// Text or number: the VAN server's port the hub passes on (default kDefaultVanPort).
inline constexpr char kPortValue[] = "VanPort";
// Numbers: how long the library waits for the connection and for the answer.
inline constexpr char kConnectTimeoutValue[] = "ConnectTimeoutMs";
inline constexpr char kAnswerTimeoutValue[] = "AnswerTimeoutMs";
inline constexpr int kDefaultConnectTimeoutMs = 5000;
inline constexpr int kDefaultAnswerTimeoutMs = 30000;

// --- Messages ----------------------------------------------------------------------------

inline constexpr std::string_view kMagic = "KV";
inline constexpr size_t kLengthDigits = 6;
inline constexpr size_t kHeaderSize = kMagic.size() + 1 + kLengthDigits;
// Longer payloads are refused: a request's signature is at most 9999 bytes.
inline constexpr size_t kMaxPayload = 65536;
inline constexpr size_t kSeedSize = 32;
inline constexpr size_t kSignatureLengthDigits = 4;
inline constexpr size_t kMaxSignature = 9999;

enum class MessageKind : char {
  kApprovalRequest = 'Q',
  kApprovalAnswer = 'A',
  kConfirmation = 'C',
  kConfirmationTaken = 'K',
};

struct Message {
  MessageKind kind = MessageKind::kApprovalRequest;
  std::string payload;
};

// The message's bytes; nullopt when the payload is too long.
std::optional<std::string> EncodeMessage(MessageKind kind, std::string_view payload);

// Reads one message. kIoError for bytes that are not a message header or a payload above
// kMaxPayload; otherwise the receive's own status (kTimedOut, kClosed, kCancelled ...).
platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline, Message* message,
                                const platform::WakeEvent* cancel = nullptr);

struct ApprovalRequest {
  std::string record;     // kRequestRecordSize bytes
  std::string seed;       // at most kSeedSize bytes
  std::string signature;  // at most kMaxSignature bytes
};

// The Q payload; nullopt when a part does not fit its room.
std::optional<std::string> EncodeApprovalRequest(const ApprovalRequest& request);
// nullopt when the payload is not a Q payload (sizes that do not add up).
std::optional<ApprovalRequest> ParseApprovalRequest(std::string_view payload);

}  // namespace kicc
