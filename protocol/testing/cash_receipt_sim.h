// The cash-receipt server, simulated: the peer of the card-network library's cash-receipt call
// (companions/ediconn/cash_protocol.h). It takes one request per connection, records its
// thirteen texts so tests can check what the hub passed, and answers by its verdict:
//
//   approve   answer code "0000", the message "정상승인" and the configured approval number;
//   decline   the configured decline code and message, no approval number.
//
// Like the gateway server's ports it can instead stay silent (read the request, never answer),
// refuse (close at once after the accept) or be slow (answer after a delay). Connections are
// served one at a time.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/wake_event.h"
#include "protocol/testing/gateway_server_sim.h"

namespace gateway_sim {

enum class CashVerdict { kApprove, kDecline };
struct CashAnswer {
  CashVerdict verdict = CashVerdict::kApprove;
  std::string approval_number = "123456789";
  std::string decline_code = "7001";
  std::string decline_message = "\xC7\xD1\xB5\xB5\xC3\xCA\xB0\xFA";  // "한도초과"
};

// Parses "approve" or "decline" into `answer`; false when it is neither.
bool ParseCashVerdict(std::string_view text, CashAnswer* answer);

// The answer's three texts (answer code, message, approval number) for a verdict.
std::vector<std::string> CashAnswerTexts(const CashAnswer& answer);

struct CashServerOptions {
  std::string address = "127.0.0.1";
  PortOptions port;
  CashAnswer answer;
  std::string record_file;  // each request appended as "cash <hex of the message>"; "" none
  // Called on the server's thread with each request's texts.
  std::function<void(const std::vector<std::string>&)> on_received;
};

class CashReceiptServerSimulator {
 public:
  // Listens; nullptr (with *error) when the port cannot be taken.
  static std::unique_ptr<CashReceiptServerSimulator> Start(CashServerOptions options,
                                                           std::string* error);
  // Stops listening and ends the connection being served.
  ~CashReceiptServerSimulator();
  CashReceiptServerSimulator(const CashReceiptServerSimulator&) = delete;
  CashReceiptServerSimulator& operator=(const CashReceiptServerSimulator&) = delete;

  int port() const { return listener_->port(); }
  // The port as the hub passes it to the library.
  std::string port_text() const { return std::to_string(port()); }

  // The texts of every request received so far (ediconn::CashRequestText order).
  std::vector<std::vector<std::string>> Received() const;
  // True once at least `count` requests have arrived, within timeout_ms.
  bool WaitForReceived(size_t count, int timeout_ms) const;

 private:
  explicit CashReceiptServerSimulator(CashServerOptions options) : options_(std::move(options)) {}
  void Serve();
  void Converse(int client);
  bool Pause(int ms) const;

  CashServerOptions options_;
  std::unique_ptr<platform::TcpListener> listener_;
  std::thread thread_;
  platform::WakeEvent stopping_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<std::vector<std::string>> received_;  // GUARDED_BY(mutex_)
};

}  // namespace gateway_sim
