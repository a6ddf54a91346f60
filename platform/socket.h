// Stream sockets: the waits, sends and receives every connection uses, with a deadline and an
// optional cancel event, and TCP over IPv4 (connect, listen, accept). Every descriptor made here
// is non-blocking and closed on exec; waits go through poll, so no call outlives its deadline
// and a thread blocked in a wait can be released from another through its cancel event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/deadline.h"
#include "platform/status.h"
#include "platform/unique_fd.h"
#include "platform/wake_event.h"

namespace platform {

// --- Any connected stream socket ---------------------------------------------------------

// Waits until `socket` can be read (bytes, or the peer's end) or written. kTimedOut once the
// deadline passes; kCancelled as soon as `cancel` (when given) is signalled.
Status WaitReadable(int socket, const Deadline& deadline, const WakeEvent* cancel = nullptr);
Status WaitWritable(int socket, const Deadline& deadline, const WakeEvent* cancel = nullptr);

// Sends all of `bytes`, never raising SIGPIPE. kTimedOut when the deadline passes first (part
// may have been sent), kIoError when the connection fails.
Status SendAll(int socket, std::string_view bytes, const Deadline& deadline);

// Waits for bytes and takes what has arrived, at most `room`, into `buffer`; *count is how many.
// kClosed when the peer ended the connection, kTimedOut, kCancelled (see WaitReadable) or
// kIoError (system_error() holds the errno); *count is 0 on every failure.
Status ReceiveSome(int socket, char* buffer, size_t room, const Deadline& deadline, size_t* count,
                   const WakeEvent* cancel = nullptr);

// Takes exactly `size` bytes into `buffer`; a peer that ends the connection before is kClosed.
Status ReceiveExactly(int socket, void* buffer, size_t size, const Deadline& deadline,
                      const WakeEvent* cancel = nullptr);

// Shuts the connection down in both directions, so that the peer sees it end even where another
// descriptor still refers to it, and closes it. Nothing for an empty owner.
void CloseConnection(UniqueFd socket);

// --- TCP over IPv4 -----------------------------------------------------------------------

// When a TCP peer counts as gone though it never closed the connection (switched off, its cable
// pulled): after `idle_s` seconds without traffic the system probes it every `interval_s`
// seconds, and after `probes` unanswered probes, or once sent bytes have gone unacknowledged
// for as long, receives and sends on the connection fail.
struct DeadPeerLimits {
  int idle_s = 0;
  int interval_s = 0;
  int probes = 0;
  int total_ms() const { return (idle_s + interval_s * probes) * 1000; }
};

// Sets those limits on a connected TCP socket. kIoError when the system refuses one.
Status DetectDeadPeer(int socket, const DeadPeerLimits& limits);

// A decimal port, 1 to 65535, with nothing around it; nullopt otherwise.
std::optional<uint16_t> ParsePort(std::string_view text);

// The first IPv4 address of a host name (or of a dotted address) in dotted form; empty when it
// does not resolve.
std::string ResolveIpv4(const std::string& name);

// Connects to the dotted `address` at `port`, giving up at the deadline. kInvalidArgument for
// an address that is not dotted IPv4 or port 0; kTimedOut; kIoError (refused, unreachable).
Status TcpConnect(std::string_view address, uint16_t port, const Deadline& deadline,
                  UniqueFd* connection);

// A listening TCP socket. Accept waits until a client connects, the deadline passes or another
// thread calls Cancel, so the thread that serves it can always be stopped and joined.
class TcpListener {
 public:
  // Listens at the dotted `address` (127.0.0.1 for local clients only) and `port`; port 0 takes
  // a free port the system picks (see port()). The address is reused at once after a restart.
  static Status Listen(std::string_view address, uint16_t port, int backlog,
                       std::unique_ptr<TcpListener>* listener);

  // The port it listens at.
  uint16_t port() const { return port_; }

  // The next client's connection. kTimedOut, kCancelled once Cancel has been called (this wait
  // and every later one), or kIoError.
  Status Accept(const Deadline& deadline, UniqueFd* connection);

  // Ends a waiting Accept, from any thread; later ones return kCancelled at once.
  void Cancel() const { cancel_.Signal(); }

 private:
  TcpListener(UniqueFd socket, uint16_t port) : socket_(std::move(socket)), port_(port) {}

  UniqueFd socket_;
  WakeEvent cancel_;
  uint16_t port_;
};

}  // namespace platform
