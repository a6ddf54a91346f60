// What the card-network library (EDICONN), the hub and the cash-receipt server agree on: the
// settings that name the server and bound the library's waits, and the messages the library and
// the server exchange over TCP. The wire protocol is described in README.md beside this file.
//
// Messages (both directions): "CR" kind length texts
//   kind     one letter: 'Q' cash-receipt request (library to server), 'A' answer (server to
//            library)
//   length   the byte count of the texts, six decimal digits
//   texts    each text as its byte count in three decimal digits, then its bytes; a request
//            carries kRequestTexts of them (CashRequestText order), an answer kAnswerTexts
//            (CashAnswerText order)
// One exchange per connection: the library connects, sends Q, reads A, closes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/deadline.h"
#include "platform/status.h"
#include "platform/wake_event.h"

namespace ediconn {

// --- Settings ----------------------------------------------------------------------------

// Where the cash-receipt server is: a fixed setting of the pharmacy PC, kept apart from the
// gateway server's address. The hub reads it (current user's registry, key kTavenorKey) and
// passes it to the cash-receipt call; missing values take the defaults.
inline constexpr char kTavenorKey[] = "Software\\Tavenor";
inline constexpr char kCashServerAddressValue[] = "CashReceiptServer";  // text
inline constexpr char kCashServerPortValue[] = "CashReceiptPort";       // text or number
inline constexpr std::string_view kDefaultCashServerAddress = "127.0.0.1";
inline constexpr std::string_view kDefaultCashServerPort = "19000";

// How long the library waits (numbers, key kSettingsKey): for a connection, for the
// cash-receipt server's answer, and for the hub's answer on its POS port, where a customer may
// still be signing at the terminal.
inline constexpr char kSettingsKey[] = "Software\\Tavenor\\EDICONN";
inline constexpr char kConnectTimeoutValue[] = "ConnectTimeoutMs";
inline constexpr char kAnswerTimeoutValue[] = "AnswerTimeoutMs";
inline constexpr char kPosAnswerTimeoutValue[] = "PosAnswerTimeoutMs";
inline constexpr int kDefaultConnectTimeoutMs = 5000;
inline constexpr int kDefaultAnswerTimeoutMs = 30000;
inline constexpr int kDefaultPosAnswerTimeoutMs = 180000;

// --- Messages ----------------------------------------------------------------------------

inline constexpr std::string_view kMagic = "CR";
inline constexpr size_t kLengthDigits = 6;
inline constexpr size_t kHeaderSize = kMagic.size() + 1 + kLengthDigits;
inline constexpr size_t kTextLengthDigits = 3;
inline constexpr size_t kMaxText = 999;

enum class MessageKind : char {
  kRequest = 'Q',
  kAnswer = 'A',
};

// The texts of a request: the cash-receipt call's arguments after the server's address and port,
// in the call's order.
enum CashRequestText : size_t {
  kMessageType,       // "0200" approval, "0210" cancellation
  kBusinessNumber,    // the pharmacy's business registration number
  kTerminal,          // empty from the hub
  kIdentification,    // telephone, card or business number of the customer
  kTotal,             // decimal
  kTax,               // amount 3
  kReserved,          // empty from the hub
  kAmount1,           // split requests only
  kAmount2,           // split requests only
  kUsageCode,         // "00" income deduction, "01" proof of expense
  kOriginalApproval,  // cancellations
  kOriginalDate,      // cancellations
  kProgramCode,       // the pharmacy program's code
  kRequestTexts,
};

enum CashAnswerText : size_t {
  kAnswerCode,      // "0000" approved
  kAnswerMessage,   // CP949
  kApprovalNumber,  // empty when not approved
  kAnswerTexts,
};

inline constexpr std::string_view kApproved = "0000";
inline constexpr std::string_view kApprovalMessageType = "0200";
inline constexpr std::string_view kCancellationMessageType = "0210";

struct Message {
  MessageKind kind = MessageKind::kRequest;
  std::vector<std::string> texts;
};

// The number of texts a message of `kind` carries.
size_t TextCount(MessageKind kind);

// The message's bytes; nullopt when the count of texts is not the kind's or a text is longer
// than kMaxText.
std::optional<std::string> EncodeMessage(MessageKind kind, std::span<const std::string> texts);

// Reads one message. kIoError for bytes that are not a message (header, text lengths that do not
// add up, a count of texts that is not the kind's); otherwise the receive's own status
// (kTimedOut, kClosed, kCancelled ...).
platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline, Message* message,
                                const platform::WakeEvent* cancel = nullptr);

}  // namespace ediconn
