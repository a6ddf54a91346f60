// The gateway server, simulated: it listens on the three ports the hub talks to and plays the
// server's side of each exchange, recording every request it receives so tests can assert on it.
//
//   sale relay     takes the terminal's sale or cancellation frame (812, 813, 883) and answers
//                  with a frame of the same code whose field 1 is "0000";
//   registration   takes the sign-on registration (server form, six-digit length) and answers
//                  with a frame 851 whose field 10 is the configured terminal version;
//   pass-through   greets the client, takes the frame, answers twice (fields "ANSWER1" and
//                  "ANSWER2", a pause apart so they arrive as two receives), takes the five ACK
//                  bytes that confirm the second answer and replies with one ACK;
//   barcode        takes a barcode look-up (STX "XX" six-digit length "CRE835" ... FS barcode FS
//                  FS ETX) and answers with its item (answer code "0000") when the barcode is
//                  one of the configured items, else with answer code "9999";
//   VAN approval   takes the sign-pad module library's approval request (kicc_protocol.h) and
//                  answers with an 832-byte answer record: approved with an approval number,
//                  declined with a code and a message, or "0000" with a blank approval number
//                  (VanAnswer); takes the library's confirmations and acknowledges them;
//   sign-pad       the network behind the sign-pad objects (companions/signpad/signpad_protocol.h):
//                  issues working keys (a later download only for a terminal that had its first),
//                  and answers a request packet with an answer packet: approved, or declined with
//                  a code and two messages (SignPadAnswer); a packet whose signature does not
//                  match its hash code, or whose terminal has no working key, is declined.
//   guidance       takes a guidance request (protocol/guidance_sheet.h) and answers with the
//                  texts of its drugs from the catalogue (guidance_service.h).
//   VAN server     the VAN module's server (companions/tavenorvan/van_link.h): takes one VAN
//                  message per connection and answers with the message whose payload is "ANS"
//                  and the request's payload.
//
// The sale port answers every frame it takes, a repeated one too: the hub sends a cancellation
// it kept while the server was down again once the server answers, and again after that when
// its row could not be deleted, so a real server must treat a repeated frame as the same sale
// (the frame carries its own identity in its fields). The simulator records each arrival, so a
// test sees every send.
//
// Each port can instead stay silent (accept and never answer), refuse (close at once after the
// accept) or be slow (answer after a delay). Connections of one port are served one at a time.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/wake_event.h"
#include "protocol/testing/guidance_service.h"

namespace gateway_sim {

enum class PortKind {
  kSale, kRegistration, kPassThrough, kBarcode, kVan, kSignPad, kGuidance, kVanLink
};
inline constexpr PortKind kPortKinds[] = {
    PortKind::kSale, PortKind::kRegistration, PortKind::kPassThrough, PortKind::kBarcode,
    PortKind::kVan,  PortKind::kSignPad,      PortKind::kGuidance,    PortKind::kVanLink};
// "sale", "registration", "pass", "barcode", "van", "signpad", "guidance", "vanlink".
std::string_view PortName(PortKind kind);

enum class Behaviour { kAnswer, kSilent, kRefuse, kSlow };

struct PortOptions {
  int port = 0;  // 0: a free port is picked
  Behaviour behaviour = Behaviour::kAnswer;
  int delay_ms = 0;  // kSlow: the wait before each answer (the pass-through's greeting included)
};

// What the VAN approval server answers to an approval request.
enum class VanVerdict { kApprove, kDecline, kBlankApproval };
struct VanAnswer {
  VanVerdict verdict = VanVerdict::kApprove;
  std::string approval_number = "30012345";        // kApprove: left-aligned in its 12 characters
  std::string decline_code = "8037";               // kDecline: the response code
  std::string decline_message = "LIMIT EXCEEDED";  // kDecline: the response message (CP949)
};

// The answer record the VAN approval server gives to `request_record` (kicc_protocol.h).
std::string VanAnswerRecord(const VanAnswer& answer, std::string_view request_record);

// Parses "approve", "decline" or "blank" into `answer`; false when it is none.
bool ParseVanVerdict(std::string_view text, VanAnswer* answer);

// What the sign-pad network answers to a request packet it takes.
struct SignPadAnswer {
  bool approve = true;
  std::string approval_number = "30012345";
  std::string merchant_number = "123456789";
  std::string decline_code = "05";
  std::string decline_message = "\xC7\xD1\xB5\xB5\xC3\xCA\xB0\xFA";  // "한도초과"
  std::string decline_detail = "CALL ISSUER";
};
// The network's own declines.
inline constexpr std::string_view kSignPadHashMismatch = "H1";
inline constexpr std::string_view kSignPadNoWorkingKey = "K1";

// Parses "approve" or "decline" into `answer`; false when it is neither.
bool ParseSignPadVerdict(std::string_view text, SignPadAnswer* answer);

// One request as received: the bytes of one read-until-complete; on the VAN port one whole
// message (an approval request or a confirmation, header included); on the sign-pad port one
// whole message (a key download or a transaction, header included); on the VAN module's port
// one VAN message as it came.
struct ReceivedRequest {
  PortKind port = PortKind::kSale;
  std::string bytes;
};

// An item the barcode service knows (texts as the server sends them, CP949).
struct KnownItem {
  std::string maker;
  std::string product;
  std::string purchase_price;
  std::string sale_price;
};

struct Options {
  std::string address = "127.0.0.1";
  PortOptions sale;
  PortOptions registration;
  PortOptions pass_through;
  PortOptions barcode;
  std::map<std::string, KnownItem> items;  // the barcode service's catalogue, by barcode
  PortOptions van;
  VanAnswer van_answer;
  PortOptions signpad;
  SignPadAnswer signpad_answer;
  PortOptions guidance;
  GuidanceService guidance_service;
  PortOptions van_link;  // the VAN module's server
  std::string terminal_version = "V2501";  // field 10 of the registration answer
  std::string record_file;                 // each request appended as "<port> <hex>"; "" none
  std::function<void(const ReceivedRequest&)> on_received;  // called on the port's thread
};

// Parses "answer", "silent", "refuse" or "slow:<ms>" into `options`; false when it is none.
bool ParseBehaviour(std::string_view text, PortOptions* options);

// A silent port's connection: kept open without a word until the client gives up (or `stopping`
// is signalled).
void StaySilent(int client, const platform::WakeEvent& stopping);

// The answers the simulator gives (also what tests expect to see at the terminal).
std::string SaleAnswer(int code);
std::string RegistrationAnswer(std::string_view terminal_version);
std::string PassThroughGreeting();
std::string PassThroughAnswer(int code, int which);  // which: 1 or 2
std::string PassThroughReceiptReply();
// The barcode service's answer: field 0 holds the answer code at positions 25-28, then the
// barcode, maker, product name, purchase price and sale price; nullptr for an unknown barcode.
std::string BarcodeAnswer(std::string_view barcode, const KnownItem* item);
inline constexpr std::string_view kBarcodeKnown = "0000";
inline constexpr std::string_view kBarcodeUnknown = "9999";

// How long the pass-through waits between its two answers.
inline constexpr int kAnswerGapMs = 300;

class GatewayServerSimulator {
 public:
  // Listens on the three ports; nullptr (with *error) when a port cannot be taken.
  static std::unique_ptr<GatewayServerSimulator> Start(Options options, std::string* error);
  // Stops listening and ends every connection.
  ~GatewayServerSimulator();
  GatewayServerSimulator(const GatewayServerSimulator&) = delete;
  GatewayServerSimulator& operator=(const GatewayServerSimulator&) = delete;

  int port(PortKind kind) const;
  // Points the sign-pad objects' settings (companions/signpad/signpad_protocol.h) at this
  // simulator's sign-pad network. False when the setting cannot be written.
  bool PointSignPadObjectsHere() const;

  // Everything received so far, in arrival order.
  std::vector<ReceivedRequest> Received() const;
  // True once at least `count` requests have arrived, within timeout_ms.
  bool WaitForReceived(size_t count, int timeout_ms) const;

 private:
  struct Listener {
    PortKind kind;
    PortOptions options;
    std::unique_ptr<platform::TcpListener> socket;
    std::thread thread;
  };

  explicit GatewayServerSimulator(Options options) : options_(std::move(options)) {}
  bool Listen(Listener* listener, std::string* error);
  void Serve(Listener* listener);
  void Converse(const Listener& listener, int client);
  void ConverseVan(const Listener& listener, int client);
  void ConverseSignPad(const Listener& listener, int client);
  // A silent port holds the connection until the client goes, a slow one waits its delay:
  // false when no answer is to be given (silent, or the simulator stops).
  bool AwaitAnswerTurn(const Listener& listener, int client) const;
  // The sign-pad network's reply to one message; nullopt: the connection ends without one.
  std::optional<std::string> SignPadReply(char kind, std::string_view payload);
  void ConverseVanLink(const Listener& listener, int client);
  // Reads one request of the port's framing; false when the client went or the simulator stops.
  bool ReadRequest(PortKind kind, int client, std::string* request) const;
  void Record(PortKind kind, std::string bytes);
  // Waits `ms`, ending early when the simulator stops; false then.
  bool Pause(int ms) const;

  Options options_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  platform::WakeEvent stopping_;  // signalled when the simulator stops
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<ReceivedRequest> received_;  // GUARDED_BY(mutex_)
  // The sign-pad network's working key per terminal identifier; used by the sign-pad port's
  // thread only.
  std::map<std::string, std::string> signpad_keys_;
  int signpad_key_serial_ = 0;
};

}  // namespace gateway_sim
