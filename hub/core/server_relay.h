// The hub's short TCP talks with the gateway server: the client every talk uses (connect, timed
// receive, exchange), the sale relay that forwards the terminal's sale and cancellation messages
// (812, 813, 883) to the server and then has Helvar record them, and the store-and-forward of
// cancellations (883) that could not be delivered, kept in RETALO_812 of the temporary store.
//
// Every talk opens its own socket and connection record and closes it before it returns, so
// terminal loops relay at the same time without sharing anything.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hub/core/frame_log.h"
#include "platform/clock.h"
#include "platform/unique_fd.h"
#include "stores/local_stores.h"

namespace hub {

// Socket error codes, left in a connection record's last error or returned.
enum SocketError : int32_t {
  kSocketStartFailed = -3001,  // the socket library failed to start (never on this system)
  kSocketNone = -3002,         // no socket
  kSocketConnectFailed = -3003,
  kSocketTimedOut = -3004,  // no data within the time limit
  kSocketSendFailed = -3006,
  kSocketPeerClosed = -3090,  // the peer closed the connection without data
  // Any other negative value: the (negated) system error of a failed receive.
};

// The most one receive of a connection record takes, and one exchange's receive.
inline constexpr size_t kReceiveBufferSize = 8000;
inline constexpr size_t kExchangeReceiveSize = 90000;
// How long a connect may take before it counts as failed.
inline constexpr std::chrono::milliseconds kConnectLimit{10000};

// One talk with a server: the socket, the last error and what the last receive took.
// Owns its socket; closing (or destroying) shuts it down in both directions first.
class ServerConnection {
 public:
  ServerConnection() = default;
  ~ServerConnection() { Close(); }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Connects to the dotted `address` and the decimal `port`. 1 on success; 0 with the last
  // error kSocketNone or kSocketConnectFailed (bad address or port, refused, unreachable, no
  // answer within kConnectLimit); the socket is then closed.
  int Connect(std::string_view port, std::string_view address);

  // Waits up to `limit` for the socket to become readable, then reads at most 8,000 bytes into
  // the record's buffer and copies them to `destination` (when not null). Returns the count;
  // 0 with the last error kSocketTimedOut, kSocketPeerClosed or the negated system error.
  int TimedReceive(std::string* destination, std::chrono::milliseconds limit);

  // Sends all bytes; false with the last error kSocketSendFailed.
  bool SendAll(std::string_view bytes);

  // Waits up to `limit` for the socket to become readable; false (last error kSocketTimedOut)
  // when the limit passes.
  bool WaitReadable(std::chrono::milliseconds limit);

  // Shuts the socket down in both directions and closes it; nothing when none is open.
  void Close();

  bool open() const { return socket_.valid(); }
  int32_t last_error() const { return last_error_; }
  std::string_view received() const { return std::string_view(buffer_.data(), received_); }

 private:
  friend int Exchange(std::string_view, ServerConnection*, std::string_view, std::string_view,
                      std::string*, size_t, std::chrono::milliseconds);
  // One receive of at most `room` bytes: the count, or the (negative) last error it leaves.
  int ReceiveInto(char* buffer, size_t room);

  platform::UniqueFd socket_;
  int32_t last_error_ = 0;
  std::string buffer_ = std::string(kReceiveBufferSize, '\0');
  size_t received_ = 0;
};

// One request and its answer on a fresh connection: connect, send all bytes, wait up to `limit`
// for the answer, receive once (at most 90,000 bytes), then shut down and close.
// Returns the received count, with at most `destination_size` bytes of the answer copied into
// `destination` (when not null), or:
//   0                   the connect failed, or the server closed the connection without
//                       answering (the record's last error says which);
//   kSocketSendFailed   the request could not be sent;
//   kSocketTimedOut     no answer within the limit;
//   another negative    the negated system error of the receive.
// The record's last error holds the same code on failure.
int Exchange(std::string_view port, ServerConnection* connection, std::string_view bytes,
             std::string_view address, std::string* destination, size_t destination_size,
             std::chrono::milliseconds limit);

// Where the gateway server is reached. The sale relay and the sign-on registration use the
// server's address with their fixed ports; the pass-through of server business uses the address
// and port of the property map. The fixed ports can be moved for tests and test sites through
// the environment variables below.
inline constexpr std::string_view kSaleRelayPort = "15041";
inline constexpr std::string_view kRegistrationPort = "16000";
inline constexpr char kSaleRelayPortVariable[] = "ORDELLA_SALE_RELAY_PORT";
inline constexpr char kRegistrationPortVariable[] = "ORDELLA_REGISTRATION_PORT";
inline constexpr std::chrono::milliseconds kSaleRelayLimit{10000};
inline constexpr std::chrono::milliseconds kRegistrationLimit{5000};

struct GatewayEndpoint {
  std::string address;
  std::string port;
};
// The loaded module's endpoints: the address of property offset 2108 with the sale-relay port
// (or the registration port), and the pass-through's address and port (offsets 2108, 2128).
GatewayEndpoint SaleRelayEndpoint();
GatewayEndpoint RegistrationEndpoint();
GatewayEndpoint PassThroughEndpoint();

// The sale record that Helvar requests 800+i, 850+i and 860+i carry, fields separated by FS:
//   F0        c, the number in message field 5 ("%d"; 0 when below 1)
//   F1        c >= 1: hexadecimal text of the c x 10 bytes that start at message field 6
//   F2        for each of the n items (n: message field 19) the hexadecimal text of its first 27
//             bytes and GS; item k starts 28 x k bytes after the start of message field 20
//   F3        message field 4
//   F4 - F15  message fields 7 - 18
// With c >= 1 the prescription bytes may hold FS, so fields 7-20 are counted from the first FS
// after them; with c below 1 the record ends with one more FS after F15. A missing field reads
// as empty. nullopt (with the reason in *refusal) when the frame does not hold the c x 10
// prescription bytes or the n items it announces: nothing is read beyond the frame, and a sale
// is never recorded with part of its data.
std::optional<std::string> BuildSaleRecord(std::string_view frame, std::string* refusal = nullptr);

// The number a text starts with, read as the C library's atoi reads it (blanks, a sign, digits;
// 0 when there is none), saturated at the 32-bit limits instead of overflowing.
int64_t LeadingNumber(std::string_view text);

// The Helvar request bases of the three relayed messages.
inline constexpr int32_t kSaleBase = 800;
inline constexpr int32_t kCancelBase = 850;
inline constexpr int32_t kCancelWithMessageBase = 860;

class KeptFrameReplay;

// What the sale relay calls; the module's by default (ModuleRelayServices).
struct RelayServices {
  GatewayEndpoint server;
  std::chrono::milliseconds limit = kSaleRelayLimit;
  // Sends Helvar request `code` with `payload`; 1 when taken.
  std::function<int(int32_t code, std::string_view payload)> send_helvar;
  // Keeps an undelivered frame in RETALO_812 of the temporary store; 1 when stored.
  std::function<int(std::string_view frame)> store_frame;
  // The kept frames with their rows, oldest first, and the delete of one row (1 when done).
  std::function<std::vector<stores::KeptFrame>()> read_kept;
  std::function<int(int64_t seq)> delete_kept;
  // Replays the kept frames after each exchange the server answered; none: no replay.
  KeptFrameReplay* replay = nullptr;
  LogTarget log;
};
RelayServices ModuleRelayServices();

// Relays a terminal's sale message: the packing flag (byte 2) of `*frame` becomes "C", the whole
// frame is exchanged with the gateway server (the answer is not used); when `store` is set and
// the server took nothing, the frame is kept in RETALO_812; then, when message field 2 is
// exactly "0000", the sale record goes to Helvar as request base + terminal. Returns 1 when
// Helvar was asked, 0 otherwise.
int RelaySale(std::string* frame, int terminal, int32_t base, bool store,
              const RelayServices& services);

// The replay of what was kept: the frames in RETALO_812 go to the gateway server again once it
// answers again, oldest first, each row deleted only after the server took the frame, by the
// rule the relay applies to a live frame: the exchange received at least one byte (the answer
// itself is not read). A frame the server refuses, or does not answer within the relay's
// limit, stays and is logged, and the replay ends there: the later frames wait behind it, so
// the server sees them in the order they were made and a silent server holds the replaying
// thread for one limit, not one per frame.
//
// A replay starts (1) right after the relay's exchange of a live frame was answered, on the
// thread that relayed it, and (2) at most once a minute otherwise, from the module's main
// thread, which looks every second and serves nothing else, so a silent server holds no
// terminal's loop (MainThreadOptions::replay_kept). Either start
// counts as the minute's try. Only one replay runs at a time: a start while another runs does
// nothing, so no row is ever sent twice at once; each replay reads the rows once, so a row
// whose delete failed is not sent again by the same replay.
//
// The server must treat a repeated frame as the same sale: a frame is sent again when its
// delete failed after delivery, or when the server took it but its answer was lost. The frame
// carries its own identity (terminal, date and sale numbers of its fields), so the server
// recognises it; the hub adds nothing to it.
class KeptFrameReplay {
 public:
  static constexpr uint32_t kIntervalMs = 60000;

  // The minute is counted from construction: the first timed try comes a minute later.
  explicit KeptFrameReplay(platform::Clock& clock) : clock_(clock), last_try_(clock.Now()) {}

  // True when a minute has passed since the last try.
  bool Due();
  // Replays when Due (Due and Replay together); the number of frames the server took.
  int ReplayIfDue(const RelayServices& services);
  // Replays now, unless another replay runs (then 0); the number of frames the server took.
  int Replay(const RelayServices& services);

 private:
  platform::Clock& clock_;
  std::atomic<uint32_t> last_try_;
  std::atomic<bool> replaying_{false};
};

// The loaded module's replay, on the system clock.
KeptFrameReplay& ModuleKeptFrameReplay();

}  // namespace hub
