// What the VAN module (libOrdella_TavenorVanDll.so), the card terminal and the VAN server agree
// on: how a VAN message is framed, where the VAN server is reached and the states the module
// reports. README.md beside this file tells the whole protocol.
//
// A VAN message, in both directions and on both links (terminal - module, module - server):
//   SOH (0x01) | payload length, four decimal digits | payload | EOT (0x04)
// The payload is any bytes, 0 to 9999 of them. Bytes outside a message (noise, or a message
// whose length digits or end byte are wrong) are dropped up to the next SOH.
//
// The module and the server: one exchange per connection. The module connects, sends the
// terminal's message as it came, reads one message back, closes, and writes that message to
// the terminal as it came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.h"
#include "platform/status.h"
#include "platform/wake_event.h"

namespace tavenor_van {

inline constexpr char kSoh = 0x01;
inline constexpr char kEot = 0x04;
inline constexpr size_t kLengthDigits = 4;
inline constexpr size_t kHeadSize = 1 + kLengthDigits;
inline constexpr size_t kMaxPayload = 9999;
inline constexpr size_t kMaxMessage = kHeadSize + kMaxPayload + 1;

// The VAN server: the gateway server's address (the property map's server address) at this
// port; the environment variable moves the port for tests and test sites.
inline constexpr uint16_t kServerPort = 4100;
inline constexpr char kServerPortVariable[] = "ORDELLA_VAN_SERVER_PORT";
// How long the module waits for the server: to connect, and for its whole answer.
inline constexpr int kConnectLimitMs = 10000;
inline constexpr int kAnswerLimitMs = 30000;

// What GetVanState reports.
enum State : int32_t {
  kIdle = 0,        // nothing under way; the hub forwards its own traffic to the terminal
  kExchanging = 3,  // a message from the terminal is with the VAN server; its answer not yet
                    // written to the terminal
};

// The simulated VAN server's answer to a message with `payload`: the payload behind "ANS".
inline constexpr std::string_view kSimulatedAnswerPrefix = "ANS";

// The message carrying `payload`; nullopt when the payload is longer than kMaxPayload.
std::optional<std::string> EncodeMessage(std::string_view payload);
// The payload of a whole message; nullopt when `message` is not exactly one.
std::optional<std::string_view> PayloadOf(std::string_view message);

// Collects bytes as they come and hands out whole messages.
class Framer {
 public:
  void Feed(std::string_view bytes) { held_.append(bytes); }
  // The next whole message (SOH through EOT), or nullopt when more bytes are needed. Bytes that
  // cannot begin a message are dropped and counted.
  std::optional<std::string> Next();
  // Drops a partial message.
  void Clear() { held_.clear(); }
  size_t dropped() const { return dropped_; }
  size_t held() const { return held_.size(); }

 private:
  void Drop(size_t count);

  std::string held_;
  size_t dropped_ = 0;
};

// Reads one message from `socket`; kInvalidArgument when the bytes are no message, else what the
// receive gave (kClosed, kTimedOut, kCancelled, kIoError).
platform::Status ReceiveMessage(int socket, const platform::Deadline& deadline,
                                std::string* message, const platform::WakeEvent* cancel = nullptr);

}  // namespace tavenor_van
