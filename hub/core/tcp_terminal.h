// The TCP terminal: terminal 0 when its slot has no serial port. The hub listens on the TCP
// terminal port and serves one terminal connection at a time; a second terminal that connects
// meanwhile waits in the listen queue until the first connection ends. Each connection runs the
// terminal loop (terminal_loop.h) over the connection, on the accept thread: frames are assembled
// and dispatched as for a serial terminal, without the VAN module; ENQ ENQ ENQ is the link check
// (echoed, host notification 1010); ACK ACK ACK and NAK NAK NAK answer a relayed request; the
// greeting goes in the connection's first quiet moment. A connection that sends nothing holds the
// port until it closes or the module stops; one that closes in the middle of a frame loses that
// frame (logged). Every accepted connection posts host notification 1010 (lParam 0).
//
// The remote relay peer: when the settings name one (address not "0.0.0.0"), a loop of its own
// greets the peer and then delivers the relay slot's requests and Helvar's replies for terminal 0
// to it, each in one exchange on a fresh connection (30 s); the connected terminal then gets
// neither, nor a greeting. A request the peer does not acknowledge with ACK ACK ACK, or a peer
// that cannot be reached, closes the relay client at once. The peer loop takes no later answer
// for a request, so an acknowledged request also leaves the slot (relay client closed), which
// takes the next POS request.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "hub/core/manager_main_thread.h"
#include "hub/core/terminal_loop.h"
#include "platform/socket.h"
#include "platform/wake_event.h"

namespace hub {

// The most one receive from the TCP terminal takes.
inline constexpr size_t kTcpTerminalReceiveSize = 8192;
// How long a write to the TCP terminal may take before it counts as failed.
inline constexpr int kTcpTerminalWriteLimitMs = 10000;
// A TCP terminal that vanishes without closing its connection (switched off, cable pulled) is
// taken for gone within a minute: the accept loop serves one terminal at a time, so until then a
// terminal that comes back could not connect again.
inline constexpr platform::DeadPeerLimits kTcpTerminalDeadPeer{30, 10, 3};
// One exchange with the remote relay peer.
inline constexpr int kRelayPeerLimitMs = 30000;
// The remote relay peer address that means none.
inline constexpr std::string_view kNoRelayPeer = "0.0.0.0";

// The remote relay peer of the settings (offsets 2138, 2158); address "0.0.0.0" means none.
struct RelayPeer {
  std::string address = std::string(kNoRelayPeer);
  std::string port;

  bool configured() const { return !address.empty() && address != kNoRelayPeer; }
  static RelayPeer FromSettings(const char* record);
};

// One accepted TCP terminal connection as a terminal loop's link.
class TcpTerminalConnection final : public TerminalLink {
 public:
  // `stop` ends the link as soon as it is signalled.
  TcpTerminalConnection(platform::UniqueFd socket, const platform::WakeEvent& stop,
                        LogTarget log);
  ~TcpTerminalConnection() override;  // shuts the connection down and closes it

  int index() const override { return 0; }
  int Write(const unsigned char* bytes, int length) override;
  bool SetLastSent(std::string_view bytes) override { return last_sent_.Set(bytes); }
  int WriteLastSent() override;
  // Waits on the socket (not on `clock`) up to wait_ms, then takes what arrived (at most
  // kTcpTerminalReceiveSize bytes). False once the terminal has closed the connection, it failed,
  // or the stop was signalled.
  bool WaitAndTake(platform::Clock& clock, uint32_t wait_ms,
                   std::vector<unsigned char>* bytes) override;

 private:
  platform::UniqueFd socket_;
  const platform::WakeEvent& stop_;
  LogTarget log_;
  std::mutex write_mutex_;
  LastSentArea last_sent_;
};

class TcpTerminal final : public Worker {
 public:
  // Listens on all local addresses at `port` (0: a port the system picks) and starts the accept
  // thread; nullptr (logged) when the port cannot be taken. `loop` serves every connection
  // (its VAN entry points are not used); `peer` says whether a remote relay peer takes the relay
  // slot and Helvar's replies.
  static std::unique_ptr<TcpTerminal> Start(uint16_t port, TerminalLoopServices loop,
                                            bool relay_peer);
  ~TcpTerminal() override;

  uint16_t port() const { return port_; }

  // Writes to the connected terminal (the host's requests); 0 (logged) when none is connected.
  int WriteToTerminal(std::string_view bytes);

  // Ends the accept wait and the connection being served, and joins the thread.
  void Stop() override;

 private:
  TcpTerminal(std::unique_ptr<platform::TcpListener> listener, TerminalLoopServices loop,
              bool relay_peer);
  void AcceptLoop();
  void Serve(platform::UniqueFd socket);

  std::unique_ptr<platform::TcpListener> listener_;
  const uint16_t port_;
  const TerminalLoopServices loop_services_;
  const bool relay_peer_;
  platform::WakeEvent stop_;
  std::mutex connection_mutex_;
  TcpTerminalConnection* connection_ = nullptr;  // GUARDED_BY(connection_mutex_)
  std::thread thread_;
};

// What the remote relay peer loop takes from the module.
struct RelayPeerServices {
  const std::atomic<bool>* running = nullptr;
  const std::atomic<RelaySlot*>* relay_slot = nullptr;
  std::function<void(uint32_t event, int64_t lparam)> notify;
  platform::Clock* clock = nullptr;  // the system clock when null
  LogTarget log;
  int limit_ms = kRelayPeerLimitMs;
};

class RemoteRelayPeerLoop final : public Worker {
 public:
  // Starts the loop's thread; nullptr when `peer` is not configured (the connection loop then
  // serves the relay slot) or the thread cannot start.
  static std::unique_ptr<RemoteRelayPeerLoop> Start(RelayPeer peer, RelayPeerServices services);
  ~RemoteRelayPeerLoop() override;

  // Ends the loop (after an exchange in progress) and joins its thread.
  void Stop() override;

 private:
  RemoteRelayPeerLoop(RelayPeer peer, RelayPeerServices services);
  void Run();
  bool Running() const;
  void ServeRelaySlot(RelaySlot& slot);
  void ForwardHelvarReply();
  // One exchange with the peer: the answer's byte count (0 or negative when none came).
  int Exchange(std::string_view bytes, std::string* answer);

  const RelayPeer peer_;
  RelayPeerServices services_;
  platform::WakeEvent wake_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<SharedBlock> shared_block_;
  std::vector<unsigned char> reply_;
  std::thread thread_;
};

}  // namespace hub
