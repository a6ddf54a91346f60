#include "tools/pos_client.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "protocol/frame.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "tools/peer_frame.h"

namespace pos_client {
namespace {

constexpr int kFramedPrintCode = 151;
constexpr std::string_view kSignatureTag = "BMPP15";
constexpr size_t kMaxSignaturePayload = 999999;

std::string Hex(unsigned char c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", c);
  return hex;
}

// A received text as UTF-8, control bytes and bytes that are no CP949 text as \xHH.
std::string Shown(std::string_view text) {
  std::string out;
  size_t start = 0;
  auto flush = [&](size_t end) {
    const std::string_view run = text.substr(start, end - start);
    if (std::optional<std::string> utf8 = platform::Cp949ToUtf8(run)) {
      out += *utf8;
    } else {
      for (unsigned char c : run) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : Hex(c);
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F) continue;
    flush(i);
    out += Hex(c);
    start = i + 1;
  }
  flush(text.size());
  return out;
}

bool AllAcks(std::string_view bytes) {
  return !bytes.empty() && bytes.find_first_not_of(protocol::kAck) == std::string_view::npos;
}

Answer FrameAnswer(std::string_view bytes) {
  Answer answer;
  answer.kind = Answer::Kind::kFrame;
  answer.bytes = std::string(bytes);
  answer.length_field = protocol::ReadLengthField(bytes).value_or(-1);
  answer.type_field = bytes.substr(protocol::kTypeOffset, protocol::kFrameType.size()) == protocol::kFrameType;
  const size_t code_at = answer.type_field ? protocol::kCodeOffset : protocol::kTypeOffset;
  answer.code = protocol::ReadDecimal(bytes, code_at, protocol::kCodeDigits).value_or(-1);
  const size_t etx = protocol::EtxIndex(bytes);
  if (etx == std::string_view::npos) {
    answer.check = "none";
  } else if (etx + 1 == bytes.size()) {
    answer.check = "none";
  } else {
    answer.check = protocol::CheckByte(bytes.substr(1, etx)) == bytes.back() ? "ok" : "bad";
  }
  const protocol::Fields<1000> fields = protocol::FrameFields<1000>(bytes);
  for (size_t n = 1; n < fields.count && n < 1000; ++n) answer.fields.emplace_back(fields[n]);
  return answer;
}

}  // namespace

std::optional<std::string> RequestFrame(int code, const std::vector<std::string>& fields,
                                        Encoding encoding, int packing_level) {
  return peer_frame::EncodedFrame(code, fields, encoding, packing_level,
                                  seed::CipherLengthField::kPosClient);
}

std::string FramedPrint(std::string_view text) {
  const std::string_view fields[] = {"", text};
  std::string frame = protocol::MessageBody(kFramedPrintCode, fields).value();
  return protocol::kStx + frame + protocol::kEtx;
}

std::optional<std::string> SignatureFrame(std::string_view payload) {
  if (payload.size() > kMaxSignaturePayload) return std::nullopt;
  char length[8];
  std::snprintf(length, sizeof length, "%06zu", payload.size());
  std::string frame(1, protocol::kStx);
  frame.append(kSignatureTag);
  frame.append(length);
  frame.append(payload);
  frame.push_back(protocol::kEtx);
  return frame;
}

Answer DecodeAnswer(std::string_view bytes) {
  if (bytes.empty()) return Answer{};
  if (AllAcks(bytes)) {
    Answer answer;
    answer.kind = Answer::Kind::kAck;
    answer.bytes = std::string(bytes);
    answer.acks = bytes.size();
    return answer;
  }
  if (bytes.front() == protocol::kStx && bytes.size() >= protocol::kHeadSize - protocol::kFrameType.size()) {
    return FrameAnswer(bytes);
  }
  Answer answer;
  answer.kind = Answer::Kind::kBytes;
  answer.bytes = std::string(bytes);
  return answer;
}

std::string DescribeAnswer(const Answer& answer) {
  switch (answer.kind) {
    case Answer::Kind::kNone:
      return "closed without answer";
    case Answer::Kind::kAck:
      return "ack x" + std::to_string(answer.acks);
    case Answer::Kind::kFrame: {
      std::string text = "answer " + std::to_string(answer.code) +
                         " type=" + (answer.type_field ? "TRM" : "code") +
                         " length=" + std::to_string(answer.length_field) +
                         " check=" + answer.check +
                         " fields=" + std::to_string(answer.fields.size());
      for (size_t n = 0; n < answer.fields.size(); ++n) {
        text += "\n  field " + std::to_string(n + 1) + ": " + Shown(answer.fields[n]);
      }
      return text;
    }
    case Answer::Kind::kBytes:
      break;
  }
  std::string hex = "bytes ";
  for (unsigned char c : answer.bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", c);
    hex += pair;
  }
  return hex;
}

std::optional<std::string> TextArgument(std::string_view utf8) {
  // Converted first: the escapes are ASCII, and no CP949 trail byte is a backslash.
  const std::optional<std::string> cp949 = platform::Utf8ToCp949(utf8);
  if (!cp949) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < cp949->size(); ++i) {
    const char c = (*cp949)[i];
    if (c != '\\' || i + 1 == cp949->size()) {
      out.push_back(c);
      continue;
    }
    const char next = (*cp949)[++i];
    if (next == 'n') {
      out.push_back('\n');
    } else if (next == 'r') {
      out.push_back('\r');
    } else if (next == 't') {
      out.push_back('\t');
    } else if (next == 'x') {
      const std::optional<std::string> byte =
          i + 2 < cp949->size() ? platform::FromHex(std::string_view(*cp949).substr(i + 1, 2))
                                : std::nullopt;
      if (!byte || byte->size() != 1) return std::nullopt;
      out += *byte;
      i += 2;
    } else {
      out.push_back(next);
    }
  }
  return out;
}

std::unique_ptr<Connection> Connection::Open(uint16_t port, int timeout_ms, std::string* error) {
  platform::UniqueFd socket;
  const platform::Status status =
      platform::TcpConnect("127.0.0.1", port, platform::Deadline::After(timeout_ms), &socket);
  if (!status.ok()) {
    if (error != nullptr) *error = status.message();
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(std::move(socket)));
}

bool Connection::Send(std::string_view bytes, int segments, int pause_ms) {
  constexpr int kSendLimitMs = 10000;
  const size_t parts = std::clamp<size_t>(static_cast<size_t>(std::max(segments, 1)), 1,
                                          std::max<size_t>(bytes.size(), 1));
  const size_t size = (bytes.size() + parts - 1) / parts;
  for (size_t at = 0; at < bytes.size(); at += size) {
    if (at > 0 && pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    if (!platform::SendAll(socket_.get(), bytes.substr(at, size),
                           platform::Deadline::After(kSendLimitMs))
             .ok()) {
      return false;
    }
  }
  return true;
}

std::string Connection::Receive(size_t count, int timeout_ms) {
  const platform::Deadline deadline = platform::Deadline::After(timeout_ms);
  std::string received;
  char chunk[4096];
  while (!closed_ && received.size() < count) {
    size_t got = 0;
    const platform::Status status =
        platform::ReceiveSome(socket_.get(), chunk, sizeof chunk, deadline, &got);
    if (status.code() == platform::StatusCode::kTimedOut) break;
    if (!status.ok()) {
      closed_ = true;  // ended by the hub (or failed: either way nothing more comes)
      break;
    }
    received.append(chunk, got);
  }
  return received;
}

bool Connection::ReceiveUntilClosed(int timeout_ms, std::string* received) {
  *received = Receive(SIZE_MAX, timeout_ms);
  return closed_;
}

}  // namespace pos_client
