#include "companions/kiccpad/kicc_protocol.h"

#include "platform/tagged_message.h"
#include "platform/text.h"

namespace kicc {
namespace {

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

constexpr platform::TaggedMessageFormat kFormat{kMagic, kLengthDigits, kMaxPayload, KnownKind};

}  // namespace

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
  const std::optional<size_t> length =
      platform::DecimalDigitsAt(payload, length_at, kSignatureLengthDigits);
  const size_t signature_at = length_at + kSignatureLengthDigits;
  if (!length || payload.size() != signature_at + *length) return std::nullopt;
  ApprovalRequest request;
  request.record = payload.substr(0, kRequestRecordSize);
  request.seed = payload.substr(kRequestRecordSize, kSeedSize);
  request.signature = payload.substr(signature_at);
  return request;
}

}  // namespace kicc
