// What the hub, the sign-pad objects (libSignPadObjects.so) and the simulated sign-pad network
// agree on: the packet names and their fields, the packet text, the messages between the objects
// and the network over TCP, and the settings that name the network. Texts here are CP949 bytes.
//
// Packet text (what the request-packet object gives and the answer-packet object takes):
//   code (4 characters) then, for every field of the structure in its order,
//   length (4 decimal digits, the value's byte count) and the value's bytes.
// A data field's value is hexadecimal text, so the packet stays a text whatever the data.
//
// Messages (both directions): "SP" kind (1 letter) length (6 decimal digits) payload
//   'W' working-key download   mode (4) | download ('F' first, 'L' later) | terminal id
//   'w' working key            master key index (2) | download time (14) | working key (32 hex)
//   'T' transaction            mode (4) | request packet
//   't' answer                 answer packet
//   'X' refusal                a reason (text), instead of 'w' or 't'
// One exchange per connection: the object connects, sends 'W' (or 'T'), reads one reply, closes.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/deadline.h"
#include "platform/status.h"
#include "platform/wake_event.h"

namespace signpad {

// --- Packets -------------------------------------------------------------------------------

// "신용승인_사인패드": card payment; "신용승인취소_사인패드": its cancellation.
inline constexpr std::string_view kPaymentPacket =
    "\xBD\xC5\xBF\xEB\xBD\xC2\xC0\xCE_\xBB\xE7\xC0\xCE\xC6\xD0\xB5\xE5";
inline constexpr std::string_view kCancellationPacket =
    "\xBD\xC5\xBF\xEB\xBD\xC2\xC0\xCE\xC3\xEB\xBC\xD2_\xBB\xE7\xC0\xCE\xC6\xD0\xB5\xE5";

// Request fields.
inline constexpr std::string_view kTerminalIdField = "\xB4\xDC\xB8\xBB\xB1\xE2\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kOriginalApprovalField =
    "\xBF\xF8\xB0\xC5\xB7\xA1\xBD\xC2\xC0\xCE\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kOriginalDateField =
    "\xBF\xF8\xB0\xC5\xB7\xA1\xBD\xC2\xC0\xCE\xC0\xCF\xC0\xDA";
inline constexpr std::string_view kEntryModeField = "POS ENTRY MODE";
inline constexpr std::string_view kTrackDataField = "TRACK DATA";
inline constexpr std::string_view kInstallmentField = "\xC7\xD2\xBA\xCE\xB1\xE2\xB0\xA3";
inline constexpr std::string_view kAmountField = "\xBD\xC2\xC0\xCE\xB1\xDD\xBE\xD7";
inline constexpr std::string_view kTaxField = "\xBC\xBC\xB1\xDD";
inline constexpr std::string_view kSignDataField =
    "\xBB\xE7\xC0\xCE\xC0\xCC\xB9\xCC\xC1\xF6\xB5\xA5\xC0\xCC\xC5\xCD";
inline constexpr std::string_view kPadModelField =
    "\xBB\xE7\xC0\xCE\xC6\xD0\xB5\xE5\xB1\xE2\xB1\xE2\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kHashField = "\xC7\xD8\xBD\xAC\xC4\xDA\xB5\xE5";
inline constexpr std::string_view kFillerField = "FILLER";

// Answer fields.
inline constexpr std::string_view kResponseCodeField = "\xC0\xC0\xB4\xE4\xC4\xDA\xB5\xE5";
inline constexpr std::string_view kResponseMessage1Field =
    "\xC0\xC0\xB4\xE4\xB8\xDE\xBD\xC3\xC1\xF6"
    "1";
inline constexpr std::string_view kResponseMessage2Field =
    "\xC0\xC0\xB4\xE4\xB8\xDE\xBD\xC3\xC1\xF6"
    "2";
inline constexpr std::string_view kManagementNumberField =
    "\xC0\xFC\xB9\xAE\xB0\xFC\xB8\xAE\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kApprovalNumberField = "\xBD\xC2\xC0\xCE\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kMerchantNumberField = "\xB0\xA1\xB8\xCD\xC1\xA1\xB9\xF8\xC8\xA3";
inline constexpr std::string_view kIssuerField = "\xB9\xDF\xB1\xDE\xBB\xE7\xB8\xED";
inline constexpr std::string_view kSaleDateField = "\xB8\xC5\xC3\xE2\xC0\xCF\xC0\xDA";
inline constexpr std::string_view kSaleTimeField = "\xB8\xC5\xC3\xE2\xBD\xC3\xB0\xA3";
inline constexpr std::string_view kAcquirerField = "\xB8\xC5\xC0\xD4\xBB\xE7\xC4\xDA\xB5\xE5";

// Fixed values: the entry mode and the sign pad's model number.
inline constexpr std::string_view kEntryModeText = "00";
inline constexpr std::string_view kPadModelText = "D131";
// The answer code of an approval.
inline constexpr std::string_view kApprovedCode = "00";

enum class FieldKind { kText, kData };

struct PacketField {
  std::string_view name;
  FieldKind kind = FieldKind::kText;
};

struct PacketStructure {
  std::string_view name;
  std::string_view request_code;  // the first four characters of its request packet
  std::string_view answer_code;   // the first four characters of its answer packet
  std::span<const PacketField> request;
  std::span<const PacketField> answer;
};

// The structure of a packet name; nullptr for a name the network does not know.
const PacketStructure* FindPacketStructure(std::string_view packet_name);
// The structure whose request code `code` is; nullptr when none.
const PacketStructure* FindRequestStructure(std::string_view code);

inline constexpr size_t kPacketCodeSize = 4;
inline constexpr size_t kFieldLengthDigits = 4;
inline constexpr size_t kMaxFieldSize = 9999;

// field name -> value (bytes) of one packet.
using PacketValues = std::map<std::string, std::string, std::less<>>;

// The packet text of `values` after `fields` (a field not in `values` is empty); nullopt when a
// value is too long or a data field's value is not hexadecimal.
std::optional<std::string> EncodePacket(std::string_view code, std::span<const PacketField> fields,
                                        const PacketValues& values);
// The values of a packet text of `fields` with the code `code`; nullopt when it is not one.
std::optional<PacketValues> DecodePacket(std::string_view packet, std::string_view code,
                                         std::span<const PacketField> fields);

// --- Messages ------------------------------------------------------------------------------

inline constexpr std::string_view kMagic = "SP";
inline constexpr size_t kLengthDigits = 6;
inline constexpr size_t kHeaderSize = kMagic.size() + 1 + kLengthDigits;
inline constexpr size_t kMaxPayload = 65536;
inline constexpr size_t kModeSize = 4;
inline constexpr size_t kKeyIndexSize = 2;
inline constexpr size_t kDownloadTimeSize = 14;
inline constexpr size_t kWorkingKeySize = 32;

enum class MessageKind : char {
  kKeyDownload = 'W',
  kWorkingKey = 'w',
  kTransaction = 'T',
  kAnswer = 't',
  kRefusal = 'X',
};
enum class Download : char { kFirst = 'F', kLater = 'L' };

struct Message {
  MessageKind kind = MessageKind::kTransaction;
  std::string payload;
};

// The message's bytes; nullopt when the payload is too long.
std::optional<std::string> EncodeMessage(MessageKind kind, std::string_view payload);
// Reads one message. kIoError for bytes that are not a message header or a payload above
// kMaxPayload; otherwise the receive's own status (kTimedOut, kClosed, kCancelled ...).
platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline, Message* message,
                                const platform::WakeEvent* cancel = nullptr);

struct KeyDownload {
  std::string mode;  // kModeSize characters
  Download download = Download::kFirst;
  std::string terminal_id;
};
std::string EncodeKeyDownload(const KeyDownload& request);
std::optional<KeyDownload> ParseKeyDownload(std::string_view payload);

struct WorkingKeyAnswer {
  std::string master_key_index;  // kKeyIndexSize
  std::string download_time;     // kDownloadTimeSize
  std::string working_key;       // kWorkingKeySize
};
std::optional<std::string> EncodeWorkingKey(const WorkingKeyAnswer& answer);
std::optional<WorkingKeyAnswer> ParseWorkingKey(std::string_view payload);

// The signature data of an image: the image compressed (zlib), carried as hexadecimal text; and
// back. nullopt when the data is not a compressed image of at most kMaxImageBytes.
std::optional<std::string> PackSignature(std::string_view image);
std::optional<std::string> UnpackSignature(std::string_view packed);

// The hash code of an image: CRC-32 of its bytes, eight upper-case hexadecimal digits. The
// network refuses a signature whose image does not have the hash code sent with it.
std::string SignatureHash(std::string_view image);

// --- Settings ------------------------------------------------------------------------------

// Current user's registry key of the objects' settings.
inline constexpr char kSettingsKey[] = "Software\\Tavenor\\SignPad";
inline constexpr char kAddressValue[] = "Address";  // text, default kDefaultAddress
inline constexpr char kPortValue[] = "Port";        // number, default kDefaultPort
inline constexpr char kConnectTimeoutValue[] = "ConnectTimeoutMs";
inline constexpr char kAnswerTimeoutValue[] = "AnswerTimeoutMs";
inline constexpr std::string_view kDefaultAddress = "127.0.0.1";
inline constexpr int kDefaultPort = 15800;
inline constexpr int kDefaultConnectTimeoutMs = 5000;
inline constexpr int kDefaultAnswerTimeoutMs = 30000;

// The largest image the signature-encryption object takes (what the terminal's four-digit length
// allows), and the most signature data it gives: the hub keeps 9,215 characters.
inline constexpr size_t kMaxImageBytes = 9999;
inline constexpr size_t kMaxSignatureData = 9215;

}  // namespace signpad
