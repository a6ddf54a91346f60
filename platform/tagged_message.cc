#include "platform/tagged_message.h"

#include <vector>

#include "platform/socket.h"
#include "platform/text.h"

namespace platform {

std::optional<size_t> DecimalDigitsAt(std::string_view bytes, size_t offset, size_t digits) {
  if (bytes.size() < offset || bytes.size() - offset < digits) return std::nullopt;
  size_t value = 0;
  for (const char c : bytes.substr(offset, digits)) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  return value;
}

std::optional<std::string> EncodeTaggedMessage(const TaggedMessageFormat& format, char kind,
                                               std::string_view payload) {
  if (payload.size() > format.max_payload) return std::nullopt;
  const std::optional<std::string> length =
      ZeroPadded(static_cast<long long>(payload.size()), static_cast<int>(format.length_digits));
  if (!length) return std::nullopt;
  std::string message(format.magic);
  message.push_back(kind);
  message += *length;
  message.append(payload);
  return message;
}

Status ReceiveTaggedMessage(int socket, const TaggedMessageFormat& format, const Deadline& deadline,
                            char* kind, std::string* payload, const WakeEvent* cancel) {
  std::vector<char> header(TaggedHeaderSize(format));
  Status status = ReceiveExactly(socket, header.data(), header.size(), deadline, cancel);
  if (!status.ok()) return status;
  const std::string_view head(header.data(), header.size());
  const char got = head[format.magic.size()];
  const std::optional<size_t> length =
      DecimalDigitsAt(head, format.magic.size() + 1, format.length_digits);
  if (!head.starts_with(format.magic) || !format.known_kind(got) || !length ||
      *length > format.max_payload) {
    return Status(StatusCode::kIoError, "not a message header of the expected form");
  }
  *kind = got;
  payload->assign(*length, '\0');
  return ReceiveExactly(socket, payload->data(), *length, deadline, cancel);
}

}  // namespace platform
