// The pharmacy program's side of the hub's local ports, simulated: it builds every request a POS
// client sends (gateway frames for payments, cash receipts, prints and display requests, plain,
// packed or enciphered; raw print texts for the two acknowledgement ports; signature image
// frames), sends them over TCP in one or more segments, and decodes what comes back.
//
// What the hub answers on a POS connection is one of:
//   - a gateway frame: "TRM" and the code at bytes 10-12 (the refusal and the card answer), or
//     the code at bytes 7-9 where others carry "TRM" (the cash-receipt answer);
//   - acknowledgement bytes (0x06 three times or once: the acknowledgement ports);
//   - nothing: the connection ends without an answer (a relayed request done or refused by the
//     terminal, bytes that were no request).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "tools/peer_frame.h"

namespace pos_client {

using Encoding = peer_frame::Encoding;

// A POS request: the code and its fields (field 1 on), encoded as asked. Enciphered frames carry
// the length field a POS connection expects (the whole frame less 10). nullopt when it cannot
// be built (code outside 0-999, too long, a packing level outside 0-9, no cipher key).
std::optional<std::string> RequestFrame(int code, const std::vector<std::string>& fields,
                                        Encoding encoding = Encoding::kPlain,
                                        int packing_level = 6);

// A framed print for the second acknowledgement port: the text is field 2.
std::string FramedPrint(std::string_view text);

// A signature image frame around `payload` (the compressed image): STX "BMPP15", the payload's
// length in six digits, the payload, ETX. nullopt when the payload is longer than six digits.
std::optional<std::string> SignatureFrame(std::string_view payload);

// What came back on a connection.
struct Answer {
  enum class Kind { kNone, kAck, kFrame, kBytes };
  Kind kind = Kind::kNone;
  std::string bytes;  // exactly as received

  // kAck: how many ACK bytes
  size_t acks = 0;

  // kFrame
  int code = -1;                    // -1: not three digits
  bool type_field = true;           // "TRM" at bytes 7-9 (false: the code stands there)
  int length_field = -1;            // -1: not four digits
  std::string check;                // "ok", "bad" or "none"
  std::vector<std::string> fields;  // field 1 on
};

Answer DecodeAnswer(std::string_view bytes);

// The answer decoded field by field, one item a line, texts shown as UTF-8 (CP949 converted,
// control bytes as \xHH):
//   closed without answer
//   ack x3
//   answer 152 type=TRM length=48 check=ok fields=3
//     field 1: T0001
//     ...
//   bytes <hex>
std::string DescribeAnswer(const Answer& answer);

// A text given on a command line or in a test in UTF-8, as the CP949 bytes the hub reads; the
// escapes \n, \r, \t, \\ and \xHH stand for their bytes. nullopt when it is no CP949 text.
std::optional<std::string> TextArgument(std::string_view utf8);

// One connection to a local port of the hub (127.0.0.1).
class Connection {
 public:
  // nullptr (with *error) when the port does not take the connection within timeout_ms.
  static std::unique_ptr<Connection> Open(uint16_t port, int timeout_ms, std::string* error);

  // Sends `bytes` in `segments` parts of about equal size (at least one byte each), pausing
  // pause_ms between them, so the hub receives them in separate reads. False when a send fails.
  bool Send(std::string_view bytes, int segments = 1, int pause_ms = 0);

  // Receives until at least `count` bytes have come in all, the hub ends the connection, or
  // timeout_ms pass; returns what came in this call.
  std::string Receive(size_t count, int timeout_ms);
  // Receives until the hub ends the connection; true (with the bytes in *received) when it does
  // within timeout_ms.
  bool ReceiveUntilClosed(int timeout_ms, std::string* received);
  bool closed() const { return closed_; }

 private:
  explicit Connection(platform::UniqueFd socket) : socket_(std::move(socket)) {}

  platform::UniqueFd socket_;
  bool closed_ = false;
};

}  // namespace pos_client
