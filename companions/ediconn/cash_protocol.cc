#include "companions/ediconn/cash_protocol.h"

#include <array>

#include "platform/socket.h"
#include "platform/text.h"
#include "protocol/frame.h"

namespace ediconn {
namespace {

// The decimal number of exactly `digits` characters at `offset`; nullopt when any is no digit.
std::optional<size_t> Digits(std::string_view bytes, size_t offset, size_t digits) {
  const std::optional<int> value = protocol::ReadDecimal(bytes, offset, digits);
  return value ? std::optional<size_t>(static_cast<size_t>(*value)) : std::nullopt;
}

bool KnownKind(char kind) {
  switch (static_cast<MessageKind>(kind)) {
    case MessageKind::kRequest:
    case MessageKind::kAnswer:
      return true;
  }
  return false;
}

// The largest payload a message can have: every text at its longest.
constexpr size_t kMaxPayload = kRequestTexts * (kTextLengthDigits + kMaxText);

// The texts of a payload of `kind`; nullopt when the lengths do not add up to the payload or the
// count is not the kind's.
std::optional<std::vector<std::string>> ParseTexts(MessageKind kind, std::string_view payload) {
  std::vector<std::string> texts;
  size_t at = 0;
  while (at < payload.size()) {
    const std::optional<size_t> length = Digits(payload, at, kTextLengthDigits);
    at += kTextLengthDigits;
    if (!length || payload.size() - at < *length) return std::nullopt;
    texts.emplace_back(payload.substr(at, *length));
    at += *length;
  }
  if (texts.size() != TextCount(kind)) return std::nullopt;
  return texts;
}

}  // namespace

size_t TextCount(MessageKind kind) {
  return kind == MessageKind::kRequest ? static_cast<size_t>(kRequestTexts)
                                       : static_cast<size_t>(kAnswerTexts);
}

std::optional<std::string> EncodeMessage(MessageKind kind, std::span<const std::string> texts) {
  if (texts.size() != TextCount(kind)) return std::nullopt;
  std::string payload;
  for (const std::string& text : texts) {
    if (text.size() > kMaxText) return std::nullopt;
    payload += platform::ZeroPadded(static_cast<long long>(text.size()),
                                    static_cast<int>(kTextLengthDigits))
                   .value();
    payload += text;
  }
  std::string message(kMagic);
  message.push_back(static_cast<char>(kind));
  message += platform::ZeroPadded(static_cast<long long>(payload.size()),
                                  static_cast<int>(kLengthDigits))
                 .value();
  message += payload;
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
    return platform::Status(platform::StatusCode::kIoError, "not a cash-receipt message header");
  }
  std::string payload(*length, '\0');
  status = platform::ReceiveExactly(socket, payload.data(), payload.size(), deadline, cancel);
  if (!status.ok()) return status;
  std::optional<std::vector<std::string>> texts =
      ParseTexts(static_cast<MessageKind>(kind), payload);
  if (!texts) {
    return platform::Status(platform::StatusCode::kIoError,
                            "the texts of a cash-receipt message do not add up");
  }
  message->kind = static_cast<MessageKind>(kind);
  message->texts = std::move(*texts);
  return platform::Status();
}

}  // namespace ediconn
