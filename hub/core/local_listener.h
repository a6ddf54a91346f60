// The local listeners: the POS request listener and the two acknowledgement listeners. Each is a
// TCP port with one accept thread that serves its connections one after another.
//
// POS request listener: bytes are received (at most 40,000 per connection) until they make a
// whole request (pos_request_frame.h): a gateway frame is logged ("DLL Recv"), host notification
// 950 is posted and the request handled (pos_request.h); a signature image frame is posted (950)
// and goes to the terminal unchanged. A request queued in the relay slot gives its connection to
// the slot, which answers and closes it when the terminal is done; the listener goes back to
// accepting. A refused request is answered with its refusal frame and closed.
//
// Acknowledgement listeners: bytes are received until none follow for kAckQuietMs; then the
// first listener answers ACK ACK ACK, the second ACK, the bytes are logged
// ("EdiRollServerThread") and handed to the listener's print (pos_services.h), which makes the
// connection the relay client and queues the print. A print the slot cannot take is closed.
//
// What no client may do to a listener:
//   - bytes that are neither a gateway frame nor a signature image frame: closed at once, logged;
//   - 40,000 bytes without a whole request: closed, logged, the next connection accepted;
//   - connecting and sending nothing, or stopping mid-frame: kReceiveLimitMs after the accept the
//     connection is closed (logged), so one client never holds the port;
//   - a second request while one is pending: refused at once (pos_request.h).
// A connection handed to the relay slot is never read again by the listener: the thread that
// completes the request closes it, and a descriptor another thread closes is never read here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "hub/core/frame_log.h"
#include "hub/core/manager_main_thread.h"
#include "hub/core/pharmacy_settings.h"
#include "hub/core/pos_services.h"
#include "hub/core/relay_slot.h"
#include "platform/socket.h"
#include "platform/wake_event.h"

namespace hub {

enum class ListenerKind { kPosRequest, kFirstAck, kSecondAck };

// Bytes received on one connection.
inline constexpr size_t kListenerBufferSize = 40000;
// How long after its accept a connection may take to send a whole request.
inline constexpr int kReceiveLimitMs = 30000;
// An acknowledgement listener's text is whole when no further byte comes for this long.
inline constexpr int kAckQuietMs = 100;

inline constexpr char kPosRecvLogTag[] = "DLL Recv";
inline constexpr char kAckListenerLogTag[] = "EdiRollServerThread";

// Everything a listener takes from the module; ForModule gives the loaded module's, with the
// payments side's services it has installed (pos_services.h).
struct ListenerServices {
  const std::atomic<bool>* running = nullptr;  // may be null: runs until stopped
  const std::atomic<RelaySlot*>* relay_slot = nullptr;
  std::function<void(uint32_t event, int64_t lparam)> notify;
  std::function<PharmacySettings()> settings;  // read for each request; none: empty settings
  PosServices pos;                             // an empty hook: that service is refused
  LogTarget log;
  int receive_limit_ms = kReceiveLimitMs;

  static ListenerServices ForModule();
};

class LocalListener final : public Worker {
 public:
  // Listens on all local addresses at `port` (0: a port the system picks, see port()) and starts
  // the accept thread; nullptr (logged) when the port cannot be taken.
  static std::unique_ptr<LocalListener> Start(ListenerKind kind, uint16_t port,
                                              ListenerServices services);
  ~LocalListener() override;
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  uint16_t port() const { return port_; }

  // Ends the accept wait and any receive, joins the thread and closes the listening socket (a
  // client still waiting to be accepted sees its connection end). A connection already handed
  // to the relay slot stays with it.
  void Stop() override;

 private:
  LocalListener(ListenerKind kind, std::unique_ptr<platform::TcpListener> listener,
                ListenerServices services);
  void AcceptLoop();
  bool Running() const;
  void ServePosClient(platform::UniqueFd connection);
  void ServeAckClient(platform::UniqueFd connection);
  // Receives the next bytes of `connection` onto *held, at most kListenerBufferSize in all: kOk
  // with bytes added, kInvalidArgument once the buffer is full, else why the receive ended.
  platform::Status ReceiveMore(int connection, std::string* held,
                               const platform::Deadline& deadline);
  // The relay slot; null (the connection closed, logged) while the module has none.
  RelaySlot* Slot(platform::UniqueFd* connection) const;
  PharmacySettings Settings() const;
  void HandOver(RelaySlot* slot, platform::UniqueFd connection, bool queued,
                const std::string& answer);
  void Log(const std::string& text) const;

  const ListenerKind kind_;
  std::unique_ptr<platform::TcpListener> listener_;
  const uint16_t port_;
  ListenerServices services_;
  platform::WakeEvent stop_;
  std::thread thread_;
};

}  // namespace hub
