#include "protocol/frame.h"

#include <array>
#include <cstdint>

#include "companions/util/ordella_util.h"
#include "platform/text.h"

namespace protocol {
namespace {

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

// The offset of bytes counted "without the prefix" in this frame.
size_t PrefixShift(std::string_view frame) {
  return HasRoutingPrefix(frame) ? kRoutingPrefix.size() : 0;
}

std::optional<size_t> LengthValue(LengthRule rule, size_t body, size_t text_length, bool prefixed,
                                  size_t whole_frame) {
  switch (rule) {
    case LengthRule::kNormal:
      return body + kFrameOverhead;
    case LengthRule::kHostRequest:
      return body + kFrameOverhead + kRoutingPrefix.size();
    case LengthRule::kReceiptCopy:
      return body + 23;
    case LengthRule::kCashReceiptAnswer:
      return body + 7;
    case LengthRule::kPaymentAnswer:
      return body;
    case LengthRule::kGreeting:
      return 35;
    case LengthRule::kSellerList:
      return text_length + 27;
    case LengthRule::kBarcodeBuildAnswer:
      return 27;
    case LengthRule::kWholeFrame:
      return whole_frame;
    case LengthRule::kGuidanceSheet:
      return text_length + (prefixed ? 11 : 7);
  }
  return std::nullopt;
}

void AppendCheckByte(std::string* frame) {
  frame->push_back(CheckByte(std::string_view(*frame).substr(1)));
}

}  // namespace

std::vector<std::string_view> SplitAll(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t at = text.find(separator, start);
    fields.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return fields;
    start = at + 1;
  }
}

std::optional<int> ReadDecimal(std::string_view bytes, size_t offset, size_t digits) {
  constexpr size_t kMaxDigits = 9;  // always fits an int
  if (digits > kMaxDigits || bytes.size() < offset + digits) return std::nullopt;
  const std::string_view field = bytes.substr(offset, digits);
  if (!IsDigits(field)) return std::nullopt;
  int value = 0;
  for (char c : field) value = value * 10 + (c - '0');
  return value;
}

char CheckByte(std::string_view after_stx_through_etx) {
  return static_cast<char>(
      UtilCheckByte(Bytes(after_stx_through_etx), static_cast<int>(after_stx_through_etx.size())));
}

std::optional<std::string> MessageBody(int code, std::span<const std::string_view> fields) {
  if (code < 0 || code > kMaxMessageCode) return std::nullopt;
  std::string body = platform::ZeroPadded(code, kCodeDigits).value();
  for (std::string_view field : fields) {
    body.push_back(kFs);
    body.append(field);
  }
  return body;
}

std::optional<std::string> BuildFrame(std::string_view body, LengthRule rule, FrameShape shape,
                                      size_t text_length) {
  const size_t prefix = shape.routing_prefix ? kRoutingPrefix.size() : 0;
  const size_t type = shape.frame_type ? kFrameType.size() : 0;
  const size_t through_etx = 1 + prefix + 2 + kLengthDigits + type + body.size() + 1;
  const std::optional<size_t> value =
      LengthValue(rule, body.size(), text_length, shape.routing_prefix, through_etx);
  if (!value || *value > static_cast<size_t>(kMaxLengthValue)) return std::nullopt;

  std::string frame;
  frame.reserve(through_etx + 1);
  frame.push_back(kStx);
  if (shape.routing_prefix) frame.append(kRoutingPrefix);
  frame.push_back(kPlainFlag);
  frame.push_back(kPlainFlag);
  frame.append(platform::ZeroPadded(static_cast<long long>(*value), kLengthDigits).value());
  if (shape.frame_type) frame.append(kFrameType);
  frame.append(body);
  frame.push_back(kEtx);
  if (shape.check_byte) AppendCheckByte(&frame);
  return frame;
}

std::optional<std::string> BuildMessage(int code, std::span<const std::string_view> fields,
                                        FrameShape shape) {
  const std::optional<std::string> body = MessageBody(code, fields);
  if (!body) return std::nullopt;
  return BuildFrame(*body, LengthRule::kNormal, shape);
}

std::string LinkMessageBody(int code) {
  const std::array<std::string_view, kLinkMessageFields> empty{};
  return MessageBody(code, empty).value_or(std::string());
}

std::string LinkFrame(int code) {
  return BuildFrame(LinkMessageBody(code), LengthRule::kGreeting, kTerminalShape)
      .value_or(std::string());
}

std::optional<std::string> InsertRoutingPrefix(std::string_view frame) {
  const size_t etx = EtxIndex(frame);
  if (etx == std::string_view::npos || etx < kBodyOffset || frame[0] != kStx ||
      HasRoutingPrefix(frame)) {
    return std::nullopt;
  }
  std::string prefixed;
  prefixed.reserve(etx + 2 + kRoutingPrefix.size());
  prefixed.push_back(kStx);
  prefixed.append(kRoutingPrefix);
  prefixed.append(frame.substr(1, etx));  // through ETX
  AppendCheckByte(&prefixed);
  return prefixed;
}

std::optional<std::string> BuildServerFrame(std::string_view body) {
  const size_t through_etx = kServerCodeOffset + body.size() + 1;
  if (through_etx > static_cast<size_t>(kMaxServerLengthValue)) return std::nullopt;
  std::string frame;
  frame.reserve(through_etx);
  frame.push_back(kStx);
  frame.push_back(kPlainFlag);
  frame.push_back(kPlainFlag);
  frame.append(
      platform::ZeroPadded(static_cast<long long>(through_etx), kServerLengthDigits).value());
  frame.append(kFrameType);
  frame.append(body);
  frame.push_back(kEtx);
  return frame;
}

std::optional<std::string> BuildBarcodeChunk(int chunk_number, std::string_view data) {
  if (chunk_number < 1 || chunk_number > kMaxChunkNumber || data.size() > kMaxChunkData) {
    return std::nullopt;
  }
  std::string frame;
  frame.reserve(kChunkDataOffset + data.size() + 3);
  frame.push_back(kStx);
  frame.append(kBarcodeChunkTag);
  frame.append(platform::ZeroPadded(chunk_number, kChunkNumberDigits).value());
  frame.append(
      platform::ZeroPadded(static_cast<long long>(data.size()), kChunkLengthDigits).value());
  frame.append(data);
  frame.push_back(kEtx);
  const uint16_t check = UtilCheck16(Bytes(frame) + 1, static_cast<int>(frame.size() - 1));
  frame.push_back(static_cast<char>(check >> 8));
  frame.push_back(static_cast<char>(check & 0xFF));
  return frame;
}

std::string BuildRawPrintFrame(std::span<const std::string_view> lines) {
  std::string frame(1, kStx);
  frame.append(kRawPrintTag);
  for (std::string_view line : lines) {
    frame.append(line);
    frame.push_back(kLf);
  }
  return frame;
}

bool HasRoutingPrefix(std::string_view frame) {
  return frame.size() > kRoutingPrefix.size() && frame[0] == kStx &&
         frame.substr(1, kRoutingPrefix.size()) == kRoutingPrefix;
}

std::optional<int> ReadLengthField(std::string_view frame) {
  return ReadDecimal(frame, PrefixShift(frame) + kLengthOffset, kLengthDigits);
}

std::optional<int> MessageCode(std::string_view frame) {
  return ReadDecimal(frame, PrefixShift(frame) + kCodeOffset, kCodeDigits);
}

size_t EtxIndex(std::string_view frame) {
  if (!frame.empty() && frame.back() == kEtx) return frame.size() - 1;
  if (frame.size() >= 2 && frame[frame.size() - 2] == kEtx) return frame.size() - 2;
  return std::string_view::npos;
}

std::string_view FrameContent(std::string_view frame) {
  const size_t etx = EtxIndex(frame);
  return etx == std::string_view::npos ? frame : frame.substr(0, etx);
}

}  // namespace protocol
