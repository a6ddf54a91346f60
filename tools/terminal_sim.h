// A card terminal on a serial line, simulated: the far end of a pseudo-terminal that the prefix
// names COM<n>, so the hub opens it as its terminal's port. It speaks the terminal's side of the
// link: gateway frames (plain, packed or enciphered), BUSY answers, ACK/NAK after a relayed
// request, and raw VAN bytes; and it collects what the hub sends, split into messages:
// gateway frames (decoded), raw print frames ("JIDPRINT", as text), barcode chunk frames, and
// any other bytes (VAN traffic).
//
// What the hub sends carries no common end marker, so messages are split by their own framing:
// a gateway frame ends at the ETX its length field places (and the check byte after it), a
// barcode chunk and a signature image frame by their lengths. A pause on the line never ends
// one of those half-way: a loaded machine may pause anywhere inside a write. Only a raw print
// frame and a run of other bytes, which have no framing, end at the next STX or at a pause of
// kQuietMs; and at a pause a frame whose ETX stands where its length field says, with nothing
// after it, is taken as one sent without a check byte (Helvar's customer lists).
//
// It can also play the card side of a payment by itself (PlayCard, AnswerPrints): the card data
// for 011, the signature for 041, and ACK, NAK or silence for each print, with 152 once printed.
//
// Print messages (frames 151 with "PRINT", raw print frames) are also rendered as the paper
// would show them (RenderPrint), and a signature image frame is decompressed and described.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "tools/peer_frame.h"

namespace terminal_sim {

// A pause on the line that ends a raw print frame or a run of other bytes.
inline constexpr int kQuietMs = 60;

// The terminal's signature for 041: a "GP" block (hub/payments/signature.h: seed, 20 unused
// bytes, the length as two packed decimal bytes, pen points of the pad's x and y) and, when
// asked, an "SM" block with a bitmap of the signature.
inline constexpr std::string_view kSimSeed = "SIMULATEDTERMINALSEED00000000000";
// A stroke across the pad and back.
inline constexpr std::string_view kSimPenPoints{"\x00\x00\x7F\x3F\x10\x30", 6};
std::string SignatureBlocks(bool with_image);

using Encoding = peer_frame::Encoding;

// One message received from the hub.
struct Received {
  enum class Kind { kFrame, kRawPrint, kBarcodeChunk, kSignature, kBytes };
  Kind kind = Kind::kBytes;
  std::string bytes;  // exactly as received

  // kFrame
  bool routing_prefix = false;
  int length_field = -1;            // -1: not four digits
  int code = -1;                    // -1: not three digits
  std::vector<std::string> fields;  // field 1 on (field 0 is the head and code)
  // kFrame and kBarcodeChunk: "ok", "bad" or "none" (the frame came without one)
  std::string check;

  // kRawPrint: the print lines, each ended by LF
  std::string text;

  // kBarcodeChunk
  int chunk_number = -1;
  std::string chunk_data;

  // kSignature: the payload (the compressed image) as it came
  std::string payload;
};

// What a signature image frame's payload holds, once decompressed.
struct SignatureImage {
  bool decoded = false;  // false: the payload is no compressed text
  size_t size = 0;       // bytes of the decompressed image
  bool bitmap = false;   // the image is a Windows bitmap ("BM" and an info header)
  int width = 0;
  int height = 0;
  int bits_per_pixel = 0;
};
SignatureImage DescribeSignature(std::string_view payload);

// The text of a print message: field 3 of a frame 151 after "PRINT", or a raw print frame's
// lines; nullopt for every other message.
std::optional<std::string> PrintText(const Received& message);

// A print text as readable UTF-8: CP949 converted, LF ends a line, SO and SI shown as "**" around
// the highlighted stretch, every other control byte by its name in angle brackets ("<ESC>",
// "<RS>", "<US>", "<FS>", "<TAB>"...), bytes that are no CP949 text as "<xHH>". GS and six
// digits, a guidance sheet's picture command, is shown as "[guidance sheet]" (its head) or
// "[pictograms F01 C16]" on a row of its own.
std::string RenderPrint(std::string_view text);

// One line describing a message:
//   frame <code> prefix=<yes|no> length=<n> check=<ok|bad|none> fields=<n> <f1>|<f2>|...
//   print <text>
//   chunk <nn> length=<n> check=<ok|bad>
//   signature payload=<m> image=<n> bitmap=<w>x<h>x<bpp>   (or image=undecodable / bitmap=no)
//   bytes <hex>
// Texts are shown with bytes outside printable ASCII, "\" and "|" as \xHH.
std::string Describe(const Received& message);

// Splits a byte stream from the hub into messages. `at_pause` says the line has been quiet, so
// an open raw print frame, run of bytes or frame waiting for its check byte is complete.
class StreamSplitter {
 public:
  void Feed(std::string_view bytes) { pending_.append(bytes); }
  // The next complete message, or nullopt when more bytes are needed.
  std::optional<Received> Next(bool at_pause);
  bool empty() const { return pending_.empty(); }

 private:
  std::string pending_;
};

// The gateway frame a terminal sends: code and fields (field 1 on), encoded as asked. nullopt
// when it cannot be built (code outside 0-999, too long, a packing level outside 0-9, no cipher
// key).
std::optional<std::string> TerminalFrame(int code, const std::vector<std::string>& fields,
                                         Encoding encoding = Encoding::kPlain,
                                         int packing_level = 6);

// The terminal's BUSY answer: a frame that carries the marker "BUSY".
std::string BusyFrame();

class TerminalSimulator {
 public:
  // Makes the line and names it COM<com_number> in the current prefix; nullptr (with *error)
  // when it cannot.
  static std::unique_ptr<TerminalSimulator> Create(int com_number, std::string* error = nullptr);
  // A TCP terminal instead: connects to the hub's TCP terminal port at `address`:`port` and
  // sends the link check (ENQ ENQ ENQ), which the hub echoes; from then on it behaves as on a
  // serial line (the hub closing the connection is the line lost). nullptr (with *error) when
  // the hub does not take the connection.
  static std::unique_ptr<TerminalSimulator> ConnectTcp(const std::string& address, uint16_t port,
                                                       std::string* error = nullptr);
  ~TerminalSimulator();
  TerminalSimulator(const TerminalSimulator&) = delete;
  TerminalSimulator& operator=(const TerminalSimulator&) = delete;

  std::string device() const { return device_; }

  // Each send is one write of all its bytes; false when the line is gone or the write failed.
  bool Send(std::string_view bytes);
  bool SendFrame(int code, const std::vector<std::string>& fields,
                 Encoding encoding = Encoding::kPlain, int packing_level = 6);
  bool SendBusy() { return Send(BusyFrame()); }
  // ACK and NAK: one byte on a serial line, three in a row from a TCP terminal.
  bool SendAck() { return Send(std::string(answer_run_.load(), '\x06')); }
  bool SendNak() { return Send(std::string(answer_run_.load(), '\x15')); }
  // The TCP terminal's link check (ENQ ENQ ENQ).
  bool SendLinkCheck();

  // How the terminal answers each relayed request (a frame 151, 157 or 843 with the routing
  // prefix, or a signature image frame) as soon as it has it: ACK, NAK or not at all (the
  // default: the test or the operator answers by hand).
  enum class RelayAnswer { kNone, kAck, kNak };
  void AnswerRelayedRequests(RelayAnswer answer);

  // Plays the card side of a payment: 011 is answered with 012 carrying `card_data` in field 3,
  // 041 with 042 carrying the signature blocks (SignatureBlocks), packed as a terminal sends
  // binary bodies. Each answer follows the relayed request's own ACK (AnswerRelayedRequests).
  struct CardPlay {
    std::string card_data;
    bool with_image = false;  // an "SM" block too (the sign-pad objects' path)
  };
  void PlayCard(CardPlay play);

  // How a print message (151) is answered, instead of the relayed requests' answer: ACK and,
  // printed, 152; NAK; or nothing at all. kRelayed: as every relayed request.
  enum class PrintAnswer { kRelayed, kPrinted, kNak, kSilent };
  void AnswerPrints(PrintAnswer answer);

  // The next message from the hub, waiting up to timeout_ms; nullopt when none came.
  std::optional<Received> Next(int timeout_ms);
  // The next gateway frame with message code `code`, skipping others; nullopt when none came.
  std::optional<Received> NextFrame(int code, int timeout_ms);

  // Hangs the line up, as a pulled cable would: the hub's watcher sees its port lost. Later
  // sends fail.
  void LosePort();
  bool lost() const;

 private:
  explicit TerminalSimulator(std::unique_ptr<platform::SerialPort> line);
  void ReadLine();
  // Answers `message` as the terminal was told to (called without mutex_).
  void AnswerMessage(const Received& message, RelayAnswer relay, PrintAnswer print,
                     const std::optional<CardPlay>& card);

  std::string device_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::unique_ptr<platform::SerialPort> line_;  // GUARDED_BY(mutex_) for LosePort
  std::mutex write_mutex_;
  bool stop_ = false;                              // GUARDED_BY(mutex_)
  std::deque<Received> received_;                  // GUARDED_BY(mutex_)
  RelayAnswer relay_answer_ = RelayAnswer::kNone;  // GUARDED_BY(mutex_)
  std::optional<CardPlay> card_play_;              // GUARDED_BY(mutex_)
  PrintAnswer print_answer_ = PrintAnswer::kRelayed;  // GUARDED_BY(mutex_)
  std::atomic<size_t> answer_run_{1};
  std::thread reader_;
};

}  // namespace terminal_sim
