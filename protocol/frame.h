// The gateway frame: the one message format on every link of the hub (card terminal, POS
// clients, gateway server), its special relatives (barcode chunk, raw print, signature image,
// server form) and the helpers that build and read them.
//
//   byte 0      STX
//   (1-14)      "TavenorGateway", only in frames the hub sends to a terminal; every offset
//               below is counted without it
//   1           cipher flag: "X" plain, "S" body enciphered
//   2           packing flag: "X" plain, "0"-"9" body packed, "C" forwarded to the server
//   3-6         length field, four digits
//   7-9         frame type, "TRM"
//   10-12       message code, three digits
//   13-         fields, each introduced by FS; a field may hold GS-separated items
//   last-1      ETX
//   last        check byte over the bytes after STX through ETX (prefix included)
//
// The body is everything from byte 10 to the byte before ETX.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

// Control bytes.
inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kEnq = 0x05;  // link check (three of them) from the TCP terminal
inline constexpr char kAck = 0x06;
inline constexpr char kLf = 0x0A;
inline constexpr char kNak = 0x15;
inline constexpr char kFs = 0x1C;  // introduces each field
inline constexpr char kGs = 0x1D;  // separates the items of a list field

// The TCP terminal's link check, which the hub echoes, and the run of ACK (or NAK) bytes with
// which the TCP terminal, and the remote relay peer, answer a relayed request.
inline constexpr std::string_view kTcpLinkCheck = "\x05\x05\x05";
inline constexpr size_t kTcpAnswerRun = 3;

inline constexpr std::string_view kRoutingPrefix = "TavenorGateway";
inline constexpr std::string_view kFrameType = "TRM";
inline constexpr char kPlainFlag = 'X';
inline constexpr char kCipheredFlag = 'S';
inline constexpr char kForwardedFlag = 'C';

// Offsets from STX, without the routing prefix.
inline constexpr size_t kCipherFlagOffset = 1;
inline constexpr size_t kPackingFlagOffset = 2;
inline constexpr size_t kLengthOffset = 3;
inline constexpr size_t kLengthDigits = 4;
inline constexpr size_t kTypeOffset = kLengthOffset + kLengthDigits;    // 7
inline constexpr size_t kBodyOffset = kTypeOffset + kFrameType.size();  // 10
inline constexpr size_t kCodeOffset = kBodyOffset;
inline constexpr size_t kCodeDigits = 3;
inline constexpr size_t kHeadSize = kCodeOffset + kCodeDigits;  // 13: STX through the code
inline constexpr size_t kFrameOverhead = kBodyOffset + 1;       // 11: the head before the body, ETX
inline constexpr int kMaxLengthValue = 9999;
inline constexpr int kMaxMessageCode = 999;

// The message record a receiver fills: no frame on any link may be longer.
inline constexpr size_t kMessageRecordSize = 40000;

// The server form (registration at sign-on): a six-digit length counting STX through ETX.
inline constexpr size_t kServerLengthDigits = 6;
inline constexpr size_t kServerTypeOffset = kLengthOffset + kServerLengthDigits;    // 9
inline constexpr size_t kServerCodeOffset = kServerTypeOffset + kFrameType.size();  // 12
inline constexpr int kMaxServerLengthValue = 999999;

// The barcode chunk frame: STX "BDBC" nn lllll data ETX check16 (high byte first).
inline constexpr std::string_view kBarcodeChunkTag = "BDBC";
inline constexpr size_t kChunkNumberOffset = 1 + kBarcodeChunkTag.size();  // 5
inline constexpr size_t kChunkNumberDigits = 2;
inline constexpr size_t kChunkLengthOffset = kChunkNumberOffset + kChunkNumberDigits;  // 7
inline constexpr size_t kChunkLengthDigits = 5;
inline constexpr size_t kChunkDataOffset = kChunkLengthOffset + kChunkLengthDigits;  // 12
inline constexpr size_t kMaxChunkData = 21000;
inline constexpr int kMaxChunkNumber = 99;

// The raw print frame: STX "JIDPRINT" and lines each ended by LF; nothing else.
inline constexpr std::string_view kRawPrintTag = "JIDPRINT";

// The signature image frame as receivers see it: a 13-byte head whose bytes 7-12 hold the
// payload length.
inline constexpr size_t kSignatureLengthOffset = 7;
inline constexpr size_t kSignatureLengthDigits = 6;
inline constexpr size_t kSignatureHeadSize = kSignatureLengthOffset + kSignatureLengthDigits;

// Markers searched for anywhere in received bytes.
inline constexpr std::string_view kMarkerTrm = "TRM";
inline constexpr std::string_view kMarkerPmc = "PMC";
inline constexpr std::string_view kMarkerCre = "CRE";
inline constexpr std::string_view kMarkerBmp = "BMP";
inline constexpr std::string_view kMarkerCbmp = "CBMP";
inline constexpr std::string_view kMarkerShb = "SHB";
inline constexpr std::string_view kMarkerMic = "MIC";
inline constexpr std::string_view kMarkerNack = "NACK";
inline constexpr std::string_view kMarkerBdb = "BDB";
inline constexpr std::string_view kMarkerInit = "INIT";
inline constexpr std::string_view kMarkerBusy = "BUSY";

// What a frame's length field says. Most frames count STX through ETX without the prefix and
// the check byte (kNormal); the others were fixed by the peers that read them and are kept.
// `text_length` below is the length of the text the rule names, where it names one.
enum class LengthRule {
  kNormal,              // body + 11
  kHostRequest,         // body + 25: 840, 842, 843 sent at the host's request
  kReceiptCopy,         // body + 23: the two card-receipt print copies
  kCashReceiptAnswer,   // body + 7: cash-receipt answer to a POS client
  kPaymentAnswer,       // body: card-payment answer to a POS client
  kGreeting,            // 35: sign-on answer 840 and greeting 841 (24-byte body)
  kSellerList,          // text_length + 27: Helvar's seller list 816 (text after the code's FS)
  kBarcodeBuildAnswer,  // 27: Helvar's answer 817 to a barcode database build
  kWholeFrame,          // STX through ETX, prefix included: Helvar's customer lists
  kGuidanceSheet,       // text_length + 11 with the prefix, + 7 without: guidance print
};

// The optional parts of a frame.
struct FrameShape {
  bool routing_prefix = false;
  bool frame_type = true;  // false: the body is written where "TRM" would be
  bool check_byte = true;
};
inline constexpr FrameShape kPlainShape{};
inline constexpr FrameShape kTerminalShape{.routing_prefix = true};
inline constexpr FrameShape kPaymentAnswerShape{.check_byte = false};
inline constexpr FrameShape kCashReceiptAnswerShape{.frame_type = false, .check_byte = false};

// The check byte of a frame: UtilCheckByte over the bytes after STX through ETX.
char CheckByte(std::string_view after_stx_through_etx);

// The body of a message: the code as three digits, then each field preceded by FS.
// nullopt when the code is outside 0-999.
std::optional<std::string> MessageBody(int code, std::span<const std::string_view> fields);

// STX, (prefix), "XX", length field by `rule`, ("TRM"), body, ETX, (check byte).
// nullopt when the length value does not fit four digits: a length is never written wrong.
std::optional<std::string> BuildFrame(std::string_view body, LengthRule rule = LengthRule::kNormal,
                                      FrameShape shape = kPlainShape, size_t text_length = 0);

// The link messages, sign-on answer 840 and greeting 841, carry the code and 21 empty fields.
inline constexpr size_t kLinkMessageFields = 21;
std::string LinkMessageBody(int code);
// A link message as the hub sends it unasked: routing prefix, length field 35, check byte.
std::string LinkFrame(int code);

// A normal frame of a message code and its fields.
std::optional<std::string> BuildMessage(int code, std::span<const std::string_view> fields,
                                        FrameShape shape = kPlainShape);

// Puts the routing prefix after STX of a frame built without it (ending in ETX, with or without
// its check byte): the length field stays as it is and a check byte over the prefixed frame is
// appended. nullopt when the input is not such a frame or already carries the prefix.
std::optional<std::string> InsertRoutingPrefix(std::string_view frame);

// The server form: STX, "XX", six-digit length of the whole frame (STX through ETX), "TRM",
// body, ETX; no prefix, no check byte. nullopt when the length does not fit six digits.
std::optional<std::string> BuildServerFrame(std::string_view body);

// A barcode chunk frame (chunk numbers count from 1). nullopt for a chunk number outside 1-99
// or more than 21000 bytes of data.
std::optional<std::string> BuildBarcodeChunk(int chunk_number, std::string_view data);

// The raw print frame of the given lines (each ended by LF).
std::string BuildRawPrintFrame(std::span<const std::string_view> lines);

// True when the frame carries the routing prefix after STX.
bool HasRoutingPrefix(std::string_view frame);

// The number written in `digits` decimal digits at `offset` of `bytes`; nullopt when the bytes
// are missing or not all digits.
std::optional<int> ReadDecimal(std::string_view bytes, size_t offset, size_t digits);

// The value of the four-digit length field; nullopt when the frame is too short or the field
// is not four digits. A routing prefix is skipped.
std::optional<int> ReadLengthField(std::string_view frame);

// The message code (bytes 10-12); nullopt when they are not three digits. A routing prefix is
// skipped.
std::optional<int> MessageCode(std::string_view frame);

// True when `marker` occurs anywhere in `bytes` (which may hold NULs).
inline bool ContainsMarker(std::string_view bytes, std::string_view marker) {
  return bytes.find(marker) != std::string_view::npos;
}

// The index of the frame's ETX: its last byte, or the byte before its check byte (a check byte
// always has bit 0x20 set, so it is never taken for ETX). npos when the frame ends otherwise.
size_t EtxIndex(std::string_view frame);

// The frame without its tail: what comes before ETX (and the check byte after it). A frame that
// does not end in ETX or ETX and a check byte is returned whole.
std::string_view FrameContent(std::string_view frame);

// Fields of a text, as views into it. Slot n holds field n; slots past the last field read as
// empty; fields beyond the N slots are not kept (count tells how many the text had).
template <size_t N>
struct Fields {
  std::array<std::string_view, N> slot{};
  size_t count = 0;

  std::string_view operator[](size_t n) const { return n < N ? slot[n] : std::string_view(); }
};

template <size_t N>
Fields<N> SplitFields(std::string_view text, char separator) {
  Fields<N> fields;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    const std::string_view field =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (fields.count < N) fields.slot[fields.count] = field;
    ++fields.count;
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

// Every field of a text split at `separator`, as views into it; a text without the separator
// is one field.
std::vector<std::string_view> SplitAll(std::string_view text, char separator);

// The fields of a frame: field 0 runs from STX to the first FS, field n follows the n-th FS.
// The last field ends before ETX, so no field holds ETX or the check byte.
template <size_t N>
Fields<N> FrameFields(std::string_view frame) {
  return SplitFields<N>(FrameContent(frame), kFs);
}

}  // namespace protocol
