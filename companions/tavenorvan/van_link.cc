#include "companions/tavenorvan/van_link.h"

#include <algorithm>
#include <cstdio>

#include "platform/socket.h"

namespace tavenor_van {

namespace {

// The payload length the head at the start of `bytes` gives; nullopt when its digits are not.
std::optional<size_t> HeadLength(std::string_view bytes) {
  size_t length = 0;
  for (size_t at = 1; at < kHeadSize; ++at) {
    const char digit = bytes[at];
    if (digit < '0' || digit > '9') return std::nullopt;
    length = length * 10 + static_cast<size_t>(digit - '0');
  }
  return length;
}

}  // namespace

std::optional<std::string> EncodeMessage(std::string_view payload) {
  if (payload.size() > kMaxPayload) return std::nullopt;
  char head[kHeadSize + 1];
  std::snprintf(head, sizeof(head), "%c%04zu", kSoh, payload.size());
  std::string message(head, kHeadSize);
  message.append(payload);
  message.push_back(kEot);
  return message;
}

std::optional<std::string_view> PayloadOf(std::string_view message) {
  if (message.size() < kHeadSize + 1 || message.front() != kSoh || message.back() != kEot) {
    return std::nullopt;
  }
  const std::optional<size_t> length = HeadLength(message);
  if (!length || *length != message.size() - kHeadSize - 1) return std::nullopt;
  return message.substr(kHeadSize, *length);
}

void Framer::Drop(size_t count) {
  held_.erase(0, count);
  dropped_ += count;
}

std::optional<std::string> Framer::Next() {
  for (;;) {
    const size_t soh = held_.find(kSoh);
    Drop(soh == std::string::npos ? held_.size() : soh);
    if (held_.size() < kHeadSize) return std::nullopt;
    const std::optional<size_t> length = HeadLength(held_);
    if (!length) {
      Drop(1);  // this SOH begins no message; look for the next
      continue;
    }
    const size_t whole = kHeadSize + *length + 1;
    if (held_.size() < whole) return std::nullopt;
    if (held_[whole - 1] != kEot) {
      Drop(1);
      continue;
    }
    std::string message = held_.substr(0, whole);
    held_.erase(0, whole);
    return message;
  }
}

platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline,
                                std::string* message, const platform::WakeEvent* cancel) {
  message->clear();
  Framer framer;
  char chunk[4096];
  for (;;) {
    size_t count = 0;
    const platform::Status received =
        platform::ReceiveSome(socket, chunk, sizeof(chunk), deadline, &count, cancel);
    if (!received.ok()) return received;
    framer.Feed(std::string_view(chunk, count));
    if (std::optional<std::string> whole = framer.Next()) {
      *message = std::move(*whole);
      return platform::Status();
    }
    if (framer.dropped() > 0) {
      return platform::Status(platform::StatusCode::kInvalidArgument, "bytes that are no VAN message");
    }
  }
}

}  // namespace tavenor_van
