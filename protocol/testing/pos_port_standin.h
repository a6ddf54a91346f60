// A stand-in for the hub's POS request port, for the card-network library's side that talks to
// it (Helvar's card-network requests): it takes one gateway frame per connection, records it,
// sends the answer the test has set (nothing: the connection just ends, as when the terminal
// refused the relayed request) and closes the connection, as the hub does once it has answered.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/wake_event.h"

namespace gateway_sim {

class PosPortStandIn {
 public:
  // Listens at 127.0.0.1 on a free port; nullptr (with *error) when it cannot.
  static std::unique_ptr<PosPortStandIn> Start(std::string* error);
  ~PosPortStandIn();
  PosPortStandIn(const PosPortStandIn&) = delete;
  PosPortStandIn& operator=(const PosPortStandIn&) = delete;

  int port() const { return listener_->port(); }
  std::string port_text() const { return std::to_string(port()); }

  // What every later request is answered with (empty: closed without an answer).
  void SetAnswer(std::string answer);
  // Every frame received so far, in arrival order.
  std::vector<std::string> Received() const;

 private:
  PosPortStandIn() = default;
  void Serve();

  std::unique_ptr<platform::TcpListener> listener_;
  std::thread thread_;
  platform::WakeEvent stopping_;
  mutable std::mutex mutex_;
  std::string answer_;                // GUARDED_BY(mutex_)
  std::vector<std::string> received_;  // GUARDED_BY(mutex_)
};

}  // namespace gateway_sim
