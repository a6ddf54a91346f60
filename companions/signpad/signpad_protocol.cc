#include "companions/signpad/signpad_protocol.h"

#include <zlib.h>

#include <array>
#include <cstdio>

#include "platform/tagged_message.h"
#include "platform/text.h"

namespace signpad {
namespace {

constexpr PacketField kPaymentRequest[] = {{kTerminalIdField},
                                           {kEntryModeField},
                                           {kTrackDataField},
                                           {kInstallmentField},
                                           {kAmountField},
                                           {kTaxField},
                                           {kSignDataField, FieldKind::kData},
                                           {kPadModelField},
                                           {kHashField},
                                           {kFillerField}};
constexpr PacketField kCancellationRequest[] = {{kTerminalIdField},
                                                {kOriginalApprovalField},
                                                {kOriginalDateField},
                                                {kEntryModeField},
                                                {kTrackDataField},
                                                {kInstallmentField},
                                                {kAmountField},
                                                {kTaxField},
                                                {kSignDataField, FieldKind::kData},
                                                {kPadModelField},
                                                {kHashField},
                                                {kFillerField}};
constexpr PacketField kAnswer[] = {{kResponseCodeField},     {kResponseMessage1Field},
                                   {kResponseMessage2Field}, {kManagementNumberField},
                                   {kApprovalNumberField},   {kMerchantNumberField},
                                   {kIssuerField},           {kSaleDateField},
                                   {kSaleTimeField},         {kAcquirerField}};

constexpr PacketStructure kStructures[] = {
    {kPaymentPacket, "0200", "0210", kPaymentRequest, kAnswer},
    {kCancellationPacket, "0420", "0430", kCancellationRequest, kAnswer},
};

bool KnownKind(char kind) {
  switch (static_cast<MessageKind>(kind)) {
    case MessageKind::kKeyDownload:
    case MessageKind::kWorkingKey:
    case MessageKind::kTransaction:
    case MessageKind::kAnswer:
    case MessageKind::kRefusal:
      return true;
  }
  return false;
}

constexpr platform::TaggedMessageFormat kFormat{kMagic, kLengthDigits, kMaxPayload, KnownKind};

std::string Number(size_t value, size_t digits) {
  return platform::ZeroPadded(static_cast<long long>(value), static_cast<int>(digits)).value();
}

}  // namespace

const PacketStructure* FindPacketStructure(std::string_view packet_name) {
  for (const PacketStructure& structure : kStructures) {
    if (structure.name == packet_name) return &structure;
  }
  return nullptr;
}

const PacketStructure* FindRequestStructure(std::string_view code) {
  for (const PacketStructure& structure : kStructures) {
    if (structure.request_code == code) return &structure;
  }
  return nullptr;
}

std::optional<std::string> EncodePacket(std::string_view code, std::span<const PacketField> fields,
                                        const PacketValues& values) {
  std::string packet(code);
  for (const PacketField& field : fields) {
    const auto found = values.find(field.name);
    const std::string_view value =
        found == values.end() ? std::string_view() : std::string_view(found->second);
    if (field.kind == FieldKind::kData && !platform::FromHex(value)) return std::nullopt;
    if (value.size() > kMaxFieldSize) return std::nullopt;
    packet += Number(value.size(), kFieldLengthDigits);
    packet += value;
  }
  return packet;
}

std::optional<PacketValues> DecodePacket(std::string_view packet, std::string_view code,
                                         std::span<const PacketField> fields) {
  if (!packet.starts_with(code) || code.size() != kPacketCodeSize) return std::nullopt;
  PacketValues values;
  size_t at = kPacketCodeSize;
  for (const PacketField& field : fields) {
    const std::optional<size_t> length = platform::DecimalDigitsAt(packet, at, kFieldLengthDigits);
    at += kFieldLengthDigits;
    if (!length || packet.size() < at + *length) return std::nullopt;
    const std::string_view value = packet.substr(at, *length);
    at += *length;
    if (field.kind == FieldKind::kData && !platform::FromHex(value)) return std::nullopt;
    values[std::string(field.name)] = value;
  }
  if (at != packet.size()) return std::nullopt;
  return values;
}

std::optional<std::string> EncodeMessage(MessageKind kind, std::string_view payload) {
  return platform::EncodeTaggedMessage(kFormat, static_cast<char>(kind), payload);
}

platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline, Message* message,
                                const platform::WakeEvent* cancel) {
  char kind = 0;
  const platform::Status status =
      platform::ReceiveTaggedMessage(socket, kFormat, deadline, &kind, &message->payload, cancel);
  if (status.ok()) message->kind = static_cast<MessageKind>(kind);
  return status;
}

std::string EncodeKeyDownload(const KeyDownload& request) {
  return platform::FixedWidth(request.mode, kModeSize) + static_cast<char>(request.download) +
         request.terminal_id;
}

std::optional<KeyDownload> ParseKeyDownload(std::string_view payload) {
  if (payload.size() < kModeSize + 1) return std::nullopt;
  const char download = payload[kModeSize];
  if (download != static_cast<char>(Download::kFirst) &&
      download != static_cast<char>(Download::kLater)) {
    return std::nullopt;
  }
  return KeyDownload{std::string(payload.substr(0, kModeSize)), static_cast<Download>(download),
                     std::string(payload.substr(kModeSize + 1))};
}

std::optional<std::string> EncodeWorkingKey(const WorkingKeyAnswer& answer) {
  if (answer.master_key_index.size() != kKeyIndexSize ||
      answer.download_time.size() != kDownloadTimeSize ||
      answer.working_key.size() != kWorkingKeySize) {
    return std::nullopt;
  }
  return answer.master_key_index + answer.download_time + answer.working_key;
}

std::optional<WorkingKeyAnswer> ParseWorkingKey(std::string_view payload) {
  if (payload.size() != kKeyIndexSize + kDownloadTimeSize + kWorkingKeySize) return std::nullopt;
  return WorkingKeyAnswer{std::string(payload.substr(0, kKeyIndexSize)),
                          std::string(payload.substr(kKeyIndexSize, kDownloadTimeSize)),
                          std::string(payload.substr(kKeyIndexSize + kDownloadTimeSize))};
}

std::optional<std::string> PackSignature(std::string_view image) {
  if (image.size() > kMaxImageBytes) return std::nullopt;
  uLongf size = compressBound(static_cast<uLong>(image.size()));
  std::string packed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                reinterpret_cast<const Bytef*>(image.data()), static_cast<uLong>(image.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return std::nullopt;
  }
  packed.resize(size);
  return packed;
}

std::optional<std::string> UnpackSignature(std::string_view packed) {
  // One byte of room beyond the largest image tells an image that is too large.
  uLongf size = kMaxImageBytes + 1;
  std::string image(size, '\0');
  if (uncompress(reinterpret_cast<Bytef*>(image.data()), &size,
                 reinterpret_cast<const Bytef*>(packed.data()),
                 static_cast<uLong>(packed.size())) != Z_OK ||
      size > kMaxImageBytes) {
    return std::nullopt;
  }
  image.resize(size);
  return image;
}

std::string SignatureHash(std::string_view image) {
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(image.data()),
                          static_cast<uInt>(image.size()));
  std::array<char, 9> text{};
  std::snprintf(text.data(), text.size(), "%08lX", static_cast<unsigned long>(crc));
  return std::string(text.data(), 8);
}

}  // namespace signpad
