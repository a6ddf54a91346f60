#include "tools/terminal_sim.h"
#include "tools/terminal_tcp_line.h"

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "companions/huffcompress/huff_decoder.h"
#include "companions/huffcompress/testing/signature_bmp.h"
#include "companions/util/ordella_util.h"
#include "protocol/frame.h"
#include "protocol/guidance_sheet.h"
#include "platform/text.h"
#include "tools/peer_frame.h"

namespace terminal_sim {
namespace {

using protocol::kEtx;
using protocol::kStx;

constexpr std::string_view kPrintTag = protocol::kRawPrintTag;
constexpr std::string_view kChunkTag = protocol::kBarcodeChunkTag;
constexpr size_t kChunkTrailer = 3;  // ETX and the two check bytes
constexpr std::string_view kSignatureTag = "BMPP";
constexpr size_t kSignatureTrailer = 1;  // ETX
constexpr int kPrintCode = 151;
constexpr int kPrintedCode = 152;
constexpr int kAskCardDataCode = 11;
constexpr int kCardDataCode = 12;
constexpr int kAskTotalCode = 41;
constexpr int kSignatureCode = 42;
constexpr std::string_view kPrintField = "PRINT";
constexpr size_t kPrintTextField = 2;  // field 3, counting from the fields after the code

// The frames of the link itself, which a terminal does not acknowledge like a relayed request.
constexpr int kLinkCodes[] = {840, 841, 842};

// Names of the control bytes 0x00-0x1F.
constexpr const char* kControlNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                         "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                         "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                         "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
constexpr std::string_view kEmphasis = "**";

uint32_t Le(std::string_view bytes, size_t offset, size_t count) {
  uint32_t value = 0;
  for (size_t i = 0; i < count; ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
  }
  return value;
}

std::string HexByte(unsigned char c) {
  char hex[8];
  std::snprintf(hex, sizeof(hex), "<x%02X>", c);
  return hex;
}

// A run of text bytes as UTF-8; byte by byte in hexadecimal when it is no CP949 text.
std::string TextRun(std::string_view run) {
  if (std::optional<std::string> utf8 = platform::Cp949ToUtf8(run)) return *utf8;
  std::string out;
  for (unsigned char c : run) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : HexByte(c);
  return out;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '|') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

Received Bytes(std::string bytes) {
  Received message;
  message.kind = Received::Kind::kBytes;
  message.bytes = std::move(bytes);
  return message;
}

// A gateway frame from STX through ETX, with its check byte when `has_check`.
Received DecodeFrame(std::string bytes, bool has_check) {
  Received message;
  message.kind = Received::Kind::kFrame;
  message.routing_prefix = protocol::HasRoutingPrefix(bytes);
  message.length_field = protocol::ReadLengthField(bytes).value_or(-1);
  message.code = protocol::MessageCode(bytes).value_or(-1);
  const size_t etx = has_check ? bytes.size() - 2 : bytes.size() - 1;
  if (has_check) {
    const char expected = protocol::CheckByte(std::string_view(bytes).substr(1, etx));
    message.check = expected == bytes.back() ? "ok" : "bad";
  } else {
    message.check = "none";
  }
  // Field 0 runs up to the first FS; the fields follow it, the last one ends before ETX.
  std::string_view content = std::string_view(bytes).substr(0, etx);
  size_t fs = content.find(protocol::kFs);
  while (fs != std::string_view::npos) {
    const size_t next = content.find(protocol::kFs, fs + 1);
    message.fields.emplace_back(content.substr(
        fs + 1, next == std::string_view::npos ? std::string_view::npos : next - fs - 1));
    fs = next;
  }
  message.bytes = std::move(bytes);
  return message;
}

Received RawPrint(std::string bytes) {
  Received message;
  message.kind = Received::Kind::kRawPrint;
  message.text = bytes.substr(1 + kPrintTag.size());
  message.bytes = std::move(bytes);
  return message;
}

Received BarcodeChunk(std::string bytes, size_t data_length) {
  Received message;
  message.kind = Received::Kind::kBarcodeChunk;
  message.chunk_number =
      protocol::ReadDecimal(bytes, protocol::kChunkNumberOffset, protocol::kChunkNumberDigits)
          .value_or(-1);
  message.chunk_data = bytes.substr(protocol::kChunkDataOffset, data_length);
  const size_t checked = protocol::kChunkDataOffset + data_length;  // bytes 1 through ETX
  const uint16_t expected = UtilCheck16(reinterpret_cast<const unsigned char*>(bytes.data()) + 1,
                                        static_cast<int>(checked));
  const auto high = static_cast<unsigned char>(bytes[checked + 1]);
  const auto low = static_cast<unsigned char>(bytes[checked + 2]);
  const bool ends_right = bytes[checked] == kEtx;
  message.check = ends_right && expected == ((high << 8) | low) ? "ok" : "bad";
  message.bytes = std::move(bytes);
  return message;
}

Received Signature(std::string bytes, size_t payload_length) {
  Received message;
  message.kind = Received::Kind::kSignature;
  message.payload = bytes.substr(protocol::kSignatureHeadSize, payload_length);
  message.check = bytes.back() == kEtx ? "ok" : "bad";
  message.bytes = std::move(bytes);
  return message;
}

bool IsRelayedRequest(const Received& message) {
  if (message.kind == Received::Kind::kSignature) return true;
  if (message.kind != Received::Kind::kFrame || !message.routing_prefix) return false;
  for (int code : kLinkCodes) {
    if (message.code == code) return false;
  }
  return true;
}

// True when `head` (bytes after STX) may still grow into `tag`.
bool MayBecome(std::string_view head, std::string_view tag) {
  return head.size() < tag.size() && tag.starts_with(head);
}

// True while the bytes after STX may still grow into the head of a framed message: a barcode
// chunk, raw print or signature tag, or a gateway frame's routing prefix, flags and length
// field (whose bytes so far are digits).
bool MayBecomeFramed(std::string_view head) {
  if (MayBecome(head, kChunkTag) || MayBecome(head, kPrintTag) || MayBecome(head, kSignatureTag) ||
      MayBecome(head, protocol::kRoutingPrefix)) {
    return true;
  }
  if (head.starts_with(protocol::kRoutingPrefix)) head.remove_prefix(protocol::kRoutingPrefix.size());
  constexpr size_t kFlags = protocol::kLengthOffset - 1;
  if (head.size() >= kFlags + protocol::kLengthDigits) return false;  // the length field decides
  for (size_t at = kFlags; at < head.size(); ++at) {
    if (head[at] < '0' || head[at] > '9') return false;
  }
  return true;
}

}  // namespace

std::string Describe(const Received& message) {
  switch (message.kind) {
    case Received::Kind::kFrame: {
      std::string line = "frame " + std::to_string(message.code) +
                         " prefix=" + (message.routing_prefix ? "yes" : "no") +
                         " length=" + std::to_string(message.length_field) +
                         " check=" + message.check +
                         " fields=" + std::to_string(message.fields.size()) + " ";
      for (size_t n = 0; n < message.fields.size(); ++n) {
        if (n > 0) line += "|";
        line += Escape(message.fields[n]);
      }
      return line;
    }
    case Received::Kind::kRawPrint:
      return "print " + Escape(message.text);
    case Received::Kind::kBarcodeChunk:
      return "chunk " + std::to_string(message.chunk_number) +
             " length=" + std::to_string(message.chunk_data.size()) + " check=" + message.check;
    case Received::Kind::kSignature: {
      const SignatureImage image = DescribeSignature(message.payload);
      std::string line = "signature payload=" + std::to_string(message.payload.size());
      if (!image.decoded) return line + " image=undecodable";
      line += " image=" + std::to_string(image.size);
      if (!image.bitmap) return line + " bitmap=no";
      return line + " bitmap=" + std::to_string(image.width) + "x" + std::to_string(image.height) +
             "x" + std::to_string(image.bits_per_pixel);
    }
    case Received::Kind::kBytes:
      break;
  }
  std::string hex;
  for (unsigned char c : message.bytes) {
    char pair[3];
    std::snprintf(pair, sizeof(pair), "%02X", c);
    hex += pair;
  }
  return "bytes " + hex;
}

SignatureImage DescribeSignature(std::string_view payload) {
  SignatureImage image;
  const std::optional<std::string> bytes = huffcompress::Decompress(payload);
  if (!bytes) return image;
  image.decoded = true;
  image.size = bytes->size();
  // "BM", the file header (14 bytes), then the info header: its size, width, height, planes and
  // bits per pixel.
  constexpr size_t kInfoHeader = 14;
  constexpr size_t kBitsOffset = kInfoHeader + 14;
  if (bytes->size() >= kBitsOffset + 2 && bytes->starts_with("BM")) {
    image.bitmap = true;
    image.width = static_cast<int32_t>(Le(*bytes, kInfoHeader + 4, 4));
    image.height = static_cast<int32_t>(Le(*bytes, kInfoHeader + 8, 4));
    image.bits_per_pixel = static_cast<int>(Le(*bytes, kBitsOffset, 2));
  }
  return image;
}

std::optional<std::string> PrintText(const Received& message) {
  if (message.kind == Received::Kind::kRawPrint) return message.text;
  if (message.kind != Received::Kind::kFrame || message.code != kPrintCode ||
      message.fields.size() <= kPrintTextField ||
      !message.fields[kPrintTextField].starts_with(kPrintField)) {
    return std::nullopt;
  }
  // A print text may hold FS bytes of its own: everything after "PRINT" up to ETX is the text.
  std::string text = message.fields[kPrintTextField].substr(kPrintField.size());
  for (size_t n = kPrintTextField + 1; n < message.fields.size(); ++n) {
    text += protocol::kFs + message.fields[n];
  }
  return text;
}

// GS and six digits, the printer's picture command of a guidance sheet: its head, or up to three
// pictograms by their positions, shown by their codes ("#nn" for a position without one).
std::optional<std::string> PictureCommand(std::string_view text, size_t gs) {
  namespace guide = protocol::guidance;
  const std::string_view digits = text.substr(gs + 1, guide::kPictogramDigits);
  if (digits.size() < guide::kPictogramDigits ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  if (digits == guide::kSheetHead) return std::string("[guidance sheet]");
  std::string shown = "[pictograms";
  for (size_t at = 0; at < digits.size(); at += guide::kPictogramPositionDigits) {
    const std::string_view two = digits.substr(at, guide::kPictogramPositionDigits);
    const int position = (two[0] - '0') * 10 + (two[1] - '0');
    if (position == 0) continue;
    const std::string_view code = guide::PictogramCode(position);
    shown += " " + (code.empty() ? "#" + std::string(two) : std::string(code));
  }
  return shown == "[pictograms" ? "[no pictograms]" : shown + "]";
}

std::string RenderPrint(std::string_view text) {
  std::string out;
  size_t run_start = 0;
  auto flush = [&](size_t end) {
    if (end > run_start) out += TextRun(text.substr(run_start, end - run_start));
    run_start = end + 1;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F) continue;
    flush(i);
    if (c == protocol::kLf) {
      out.push_back('\n');
    } else if (const std::optional<std::string> picture =
                   c == protocol::kGs ? PictureCommand(text, i) : std::nullopt) {
      // The pictures take a row of their own on the paper.
      out += *picture;
      i += protocol::guidance::kPictogramDigits;
      run_start = i + 1;
      if (i + 1 < text.size() && text[i + 1] != protocol::kLf) out.push_back('\n');
    } else if (c == 0x0E || c == 0x0F) {
      out += kEmphasis;
    } else if (c == 0x7F) {
      out += "<DEL>";
    } else {
      out += "<" + std::string(kControlNames[c]) + ">";
    }
  }
  flush(text.size());
  return out;
}

std::optional<Received> StreamSplitter::Next(bool at_pause) {
  if (pending_.empty()) return std::nullopt;
  auto take = [this](size_t count) {
    std::string bytes = pending_.substr(0, count);
    pending_.erase(0, count);
    return bytes;
  };
  const size_t next_stx = pending_.find(kStx, 1);
  if (pending_[0] != kStx) {
    const size_t stx = pending_.find(kStx);
    if (stx == std::string::npos && !at_pause) return std::nullopt;
    return Bytes(take(stx));
  }
  const std::string_view head = std::string_view(pending_).substr(1);
  // A message without framing of its own ends at a pause.
  auto open_until_pause = [&]() -> std::optional<Received> {
    if (at_pause) return Bytes(take(std::string::npos));
    return std::nullopt;
  };
  // A framed message waits for its framing, however long the line pauses.
  if (MayBecomeFramed(head)) return std::nullopt;
  if (head.starts_with(kSignatureTag)) {
    if (pending_.size() < protocol::kSignatureHeadSize) return std::nullopt;
    const std::optional<int> length =
        protocol::ReadDecimal(pending_, protocol::kSignatureLengthOffset, protocol::kSignatureLengthDigits);
    if (!length) return Bytes(take(next_stx));
    const size_t total = protocol::kSignatureHeadSize + static_cast<size_t>(*length) + kSignatureTrailer;
    if (pending_.size() < total) return std::nullopt;
    return Signature(take(total), static_cast<size_t>(*length));
  }

  if (head.starts_with(kChunkTag)) {
    if (pending_.size() < protocol::kChunkDataOffset) return std::nullopt;
    const std::optional<int> length =
        protocol::ReadDecimal(pending_, protocol::kChunkLengthOffset, protocol::kChunkLengthDigits);
    if (!length) return Bytes(take(next_stx));
    const size_t total = protocol::kChunkDataOffset + static_cast<size_t>(*length) + kChunkTrailer;
    if (pending_.size() < total) return std::nullopt;
    return BarcodeChunk(take(total), static_cast<size_t>(*length));
  }
  if (head.starts_with(kPrintTag)) {
    if (next_stx == std::string::npos && !at_pause) return std::nullopt;
    return RawPrint(take(next_stx));
  }
  // A frame with a binary body (packed customer records) may hold STX and ETX bytes inside it,
  // so its length field decides where it ends. The field counts the frame from STX through ETX
  // without the routing prefix (most frames), the whole frame with it (the host's requests,
  // customer lists), or, for the card-receipt copies, two bytes less than the whole frame; the
  // reading whose end byte is ETX is the frame.
  const std::optional<int> length = protocol::ReadLengthField(pending_);
  if (length) {
    const size_t prefix =
        protocol::HasRoutingPrefix(pending_) ? protocol::kRoutingPrefix.size() : 0;
    const auto value = static_cast<size_t>(*length);
    std::vector<size_t> readings = {value + prefix - 1, value - 1};
    if (prefix > 0) readings.push_back(value + 1);
    bool may_grow = false;
    for (size_t reading = 0; reading < readings.size(); ++reading) {
      const size_t etx_at = readings[reading];
      if (*length < 1 || etx_at < protocol::kCodeOffset) continue;
      if (etx_at >= pending_.size()) {
        may_grow = true;
        continue;
      }
      if (pending_[etx_at] != kEtx) continue;
      if (etx_at + 1 < pending_.size()) {
        // An ETX byte inside the body is told apart by the check byte that must follow.
        const char check = protocol::CheckByte(std::string_view(pending_).substr(1, etx_at));
        if (pending_[etx_at + 1] != check) continue;
        return DecodeFrame(take(etx_at + 2), true);
      }
      // The check byte may still come. A frame toward the terminal whose length field follows
      // the normal rule always has one; only the others may end at a pause without it.
      if (!at_pause || (prefix > 0 && reading == 0)) return std::nullopt;
      return DecodeFrame(take(etx_at + 1), false);
    }
    if (may_grow) {
      // Still short of what its length field may say. At a pause, a frame whose length field
      // follows none of the readings is known by its ETX and the check byte that fits it.
      if (!at_pause) return std::nullopt;
      for (size_t etx = pending_.find(kEtx, protocol::kCodeOffset); etx != std::string::npos;
           etx = pending_.find(kEtx, etx + 1)) {
        if (etx + 1 < pending_.size() &&
            pending_[etx + 1] == protocol::CheckByte(std::string_view(pending_).substr(1, etx))) {
          return DecodeFrame(take(etx + 2), true);
        }
      }
      return std::nullopt;
    }
  }
  const size_t etx = pending_.find(kEtx, 1);
  if (next_stx < etx) return Bytes(take(next_stx));  // a frame cut short by the next one
  if (etx == std::string::npos) return length ? std::nullopt : open_until_pause();
  if (etx + 1 < pending_.size()) {
    // A check byte always has bit 0x20 set, so it is never taken for the next STX.
    const bool has_check = pending_[etx + 1] != kStx;
    return DecodeFrame(take(etx + (has_check ? 2 : 1)), has_check);
  }
  if (!at_pause) return std::nullopt;  // the check byte may still come
  return DecodeFrame(take(etx + 1), false);
}

std::optional<std::string> TerminalFrame(int code, const std::vector<std::string>& fields,
                                         Encoding encoding, int packing_level) {
  return peer_frame::EncodedFrame(code, fields, encoding, packing_level,
                                  seed::CipherLengthField::kTerminal);
}

std::string SignatureBlocks(bool with_image) {
  std::string blocks = "GP" + std::string(kSimSeed) + std::string(20, '0');
  blocks += platform::PackDecimal(
                platform::ZeroPadded(static_cast<long long>(kSimPenPoints.size()), 4).value())
                .value();
  blocks += kSimPenPoints;
  if (with_image) {
    const std::string image = huffcompress::testing::SignatureBmp();
    blocks += "SM" + platform::ZeroPadded(static_cast<long long>(image.size()), 4).value() + image;
  }
  return blocks;
}

std::string BusyFrame() {
  const std::string_view fields[] = {protocol::kMarkerBusy};
  return protocol::BuildMessage(0, fields).value();
}

std::unique_ptr<TerminalSimulator> TerminalSimulator::Create(int com_number, std::string* error) {
  platform::Status status;
  std::unique_ptr<platform::SerialPort> line = platform::SerialPort::OpenPeer(com_number, &status);
  if (line == nullptr) {
    if (error != nullptr) *error = status.message();
    return nullptr;
  }
  return std::unique_ptr<TerminalSimulator>(new TerminalSimulator(std::move(line)));
}

std::unique_ptr<TerminalSimulator> TerminalSimulator::ConnectTcp(const std::string& address,
                                                                 uint16_t port,
                                                                 std::string* error) {
  platform::Status status;
  std::unique_ptr<platform::SerialPort> line = ConnectTcpLine(address, port, &status);
  if (line == nullptr) {
    if (error != nullptr) *error = status.message();
    return nullptr;
  }
  std::unique_ptr<TerminalSimulator> terminal(new TerminalSimulator(std::move(line)));
  terminal->answer_run_.store(protocol::kTcpAnswerRun);
  if (!terminal->SendLinkCheck()) {
    if (error != nullptr) *error = "the link check could not be sent";
    return nullptr;
  }
  return terminal;
}

bool TerminalSimulator::SendLinkCheck() { return Send(protocol::kTcpLinkCheck); }

TerminalSimulator::TerminalSimulator(std::unique_ptr<platform::SerialPort> line)
    : device_(line->device()), line_(std::move(line)) {
  reader_ = std::thread(&TerminalSimulator::ReadLine, this);
}

TerminalSimulator::~TerminalSimulator() { LosePort(); }

bool TerminalSimulator::Send(std::string_view bytes) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (line_ == nullptr) return false;
  constexpr int kWriteTimeoutMs = 10000;
  return line_->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      kWriteTimeoutMs) == static_cast<long>(bytes.size());
}

bool TerminalSimulator::SendFrame(int code, const std::vector<std::string>& fields,
                                  Encoding encoding, int packing_level) {
  const std::optional<std::string> frame = TerminalFrame(code, fields, encoding, packing_level);
  return frame && Send(*frame);
}

std::optional<Received> TerminalSimulator::Next(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                         [this] { return !received_.empty(); })) {
    return std::nullopt;
  }
  Received message = std::move(received_.front());
  received_.pop_front();
  return message;
}

std::optional<Received> TerminalSimulator::NextFrame(int code, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    std::optional<Received> message = Next(static_cast<int>(left.count()));
    if (!message) return std::nullopt;
    if (message->kind == Received::Kind::kFrame && message->code == code) return message;
  }
}

void TerminalSimulator::AnswerRelayedRequests(RelayAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  relay_answer_ = answer;
}

void TerminalSimulator::PlayCard(CardPlay play) {
  std::lock_guard<std::mutex> lock(mutex_);
  card_play_ = std::move(play);
}

void TerminalSimulator::AnswerPrints(PrintAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  print_answer_ = answer;
}

void TerminalSimulator::AnswerMessage(const Received& message, RelayAnswer relay,
                                      PrintAnswer print, const std::optional<CardPlay>& card) {
  if (print != PrintAnswer::kRelayed) {
    // A card-receipt copy (its signature frame and its print) is one send, answered once.
    if (message.kind == Received::Kind::kSignature) return;
    if (message.kind == Received::Kind::kFrame && message.code == kPrintCode) {
      if (print == PrintAnswer::kPrinted) {
        SendAck();
        SendFrame(kPrintedCode, {});
      } else if (print == PrintAnswer::kNak) {
        SendNak();
      }
      return;
    }
  }
  if (relay == RelayAnswer::kAck) SendAck();
  if (relay == RelayAnswer::kNak) SendNak();
  if (!card || message.kind != Received::Kind::kFrame) return;
  if (message.code == kAskCardDataCode) {
    SendFrame(kCardDataCode, {"", "", card->card_data});
  } else if (message.code == kAskTotalCode) {
    // The signature's bytes may hold STX: the body travels packed, as a terminal sends it.
    SendFrame(kSignatureCode, {"", "", SignatureBlocks(card->with_image)}, Encoding::kPacked);
  }
}

void TerminalSimulator::LosePort() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return;
    stop_ = true;
  }
  line_->Interrupt();
  reader_.join();
  std::lock_guard<std::mutex> lock(write_mutex_);
  line_.reset();
}

bool TerminalSimulator::lost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

void TerminalSimulator::ReadLine() {
  StreamSplitter splitter;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    const platform::SerialPort::Event event = line_->WaitEvent(kQuietMs);
    if (event == platform::SerialPort::Event::kReadable) {
      unsigned char chunk[4096];
      long got = 0;
      while ((got = line_->Read(chunk, sizeof(chunk))) > 0) {
        splitter.Feed(std::string_view(reinterpret_cast<char*>(chunk), static_cast<size_t>(got)));
      }
    } else if (event == platform::SerialPort::Event::kLost) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
    }
    const bool at_pause = event == platform::SerialPort::Event::kTimeout;
    std::unique_lock<std::mutex> lock(mutex_);
    while (std::optional<Received> message = splitter.Next(at_pause)) {
      const RelayAnswer relay = IsRelayedRequest(*message) ? relay_answer_ : RelayAnswer::kNone;
      const PrintAnswer print = print_answer_;
      const std::optional<CardPlay> card = card_play_;
      const Received answered = *message;
      received_.push_back(std::move(*message));
      arrived_.notify_all();
      lock.unlock();
      AnswerMessage(answered, relay, print, card);
      lock.lock();
    }
  }
}

}  // namespace terminal_sim
