#include "companions/kiccpad/kicc_protocol.h"

#include <array>

#include "platform/socket.h"
#include "platform/text.h"

namespace kicc {
namespace {

// The decimal number of exactly `digits` characters at `offset`; nullopt when any is no digit.
std::optional<size_t> Digits(std::string_view bytes, size_t offset, size_t digits) {
  if (bytes.size() < offset + digits) return std::nullopt;
  size_t value = 0;
  for (const char c : bytes.substr(offset, digits)) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  return value;
}

bool KnownKind(char kind) {
  switch (static_cast<MessageKind>(kind)) {
    case MessageKind::kApprovalRequest:
    case MessageKind::kApprovalAnswer:
    case MessageKind::kConfirmation:
    case MessageKind::kConfirmationTaken:
      return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> EncodeMessage(MessageKind kind, std::string_view payload) {
  if (payload.size() > kMaxPayload) return std::nullopt;
  std::string message(kMagic);
  message.push_back(static_cast<char>(kind));
  message.append(
      platform::ZeroPadded(static_cast<long long>(payload.size()), static_cast<int>(kLengthDigits))
          .value());
  message.append(payload);
  return message;
}

platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline, Message* message,
                                const platform::WakeEvent* cancel) {
  std::array<char, kHeaderSize> header;
  platform::Status status =
      platform::ReceiveExactly(socket, header.data(), header.size(), deadline, cancel);
  if (!status.ok()) return status;
  const std::string_view head(header.data(), header.size());
  const char kind = head[kMagic.size()];
  const std::optional<size_t> length = Digits(head, kMagic.size() + 1, kLengthDigits);
  if (!head.starts_with(kMagic) || !KnownKind(kind) || !length || *length > kMaxPayload) {
    return platform::Status(platform::StatusCode::kIoError, "not a sign-pad message header");
  }
  message->kind = static_cast<MessageKind>(kind);
  message->payload.assign(*length, '\0');
  return platform::ReceiveExactly(socket, message->payload.data(), *length, deadline, cancel);
}

std::optional<std::string> EncodeApprovalRequest(const ApprovalRequest& request) {
  if (request.record.size() != kRequestRecordSize || request.seed.size() > kSeedSize ||
      request.signature.size() > kMaxSignature) {
    return std::nullopt;
  }
  std::string payload = request.record;
  payload.append(platform::FixedWidth(request.seed, kSeedSize));
  payload.append(platform::ZeroPadded(static_cast<long long>(request.signature.size()),
                                      static_cast<int>(kSignatureLengthDigits))
                     .value());
  payload.append(request.signature);
  return payload;
}

std::optional<ApprovalRequest> ParseApprovalRequest(std::string_view payload) {
  const size_t length_at = kRequestRecordSize + kSeedSize;
  const std::optional<size_t> length = Digits(payload, length_at, kSignatureLengthDigits);
  const size_t signature_at = length_at + kSignatureLengthDigits;
  if (!length || payload.size() != signature_at + *length) return std::nullopt;
  ApprovalRequest request;
  request.record = payload.substr(0, kRequestRecordSize);
  request.seed = payload.substr(kRequestRecordSize, kSeedSize);
  request.signature = payload.substr(signature_at);
  return request;
}

}  // namespace kicc
