// The cash receipt: a POS client's request for a cash-receipt approval (161 one total, 181 split
// amounts) or cancellation (171, 183) is exchanged with the cash-receipt server through the
// card-network library (EDICONN.DLL, companions/ediconn) and answered; an approval is also
// printed on terminal 0 unless the pharmacy program keeps its own receipts (program index 0, 1,
// 2 or 13). The terminal takes no part in the transaction itself.
//
// The handler runs on the POS listener's thread, the relay slot taken for the request:
//
//   1. the request's fields become the slot's payment fields (field 7 the identification
//      number, field 10 when 7 is empty; the program code field 11 of a request of at most 14
//      fields, else field 22); a field longer than its room is cut to it (logged);
//   2. a repeat of an approved request whose answer never reached the till is answered from the
//      payment journal and nothing goes to the network (payment_journal.h);
//   3. the journal entry begins (card data masked) and is marked sent; EDICONN's cash-receipt
//      call (ordinal 16) takes the fifteen texts of CashCallTextsFor; a result of 1 or more is an
//      exchange whose answer the answer call (ordinal 20) gives, anything else is the answer
//      "9999" "현금영수증 서버 접속 실패" with no approval number;
//   4. the answer frame (CashAnswerFrame) goes to the slot's answer area and to the journal,
//      approved or declined; an approval ("0000") builds the cash-receipt printout
//      (receipts.h);
//   5. a printout under a program index other than 0, 1, 2 and 13 is queued for terminal 0 as a
//      print message, and the answer waits in the answer area until the terminal reports the
//      print done (152); otherwise the answer goes to the relay client at once, which is then
//      closed (AnswerRelayClient), and the journal entry is marked answered when it arrived.
//
// Either way the connection has gone to the slot: the result is "queued", and the listener lets
// the connection go. Without the library the request is refused as not ready
// (pos_request.h) before anything is written.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hub/core/frame_log.h"
#include "hub/core/pos_request.h"
#include "hub/core/relay_slot.h"
#include "hub/payments/payment_journal.h"
#include "hub/payments/pharmacy_settings.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace hub::payments {

// The answer when the cash-receipt server could not be reached.
inline constexpr std::string_view kCashServerUnreachableCode = "9999";
// "현금영수증 서버 접속 실패"
inline constexpr std::string_view kCashServerUnreachable =
    "\xC7\xF6\xB1\xDD\xBF\xB5\xBC\xF6\xC1\xF5 \xBC\xAD\xB9\xF6 \xC1\xA2\xBC\xD3 \xBD\xC7\xC6\xD0";

// The request fields a cash request may carry, field 0 included (field 22 the program code).
inline constexpr size_t kCashRequestFields = 23;
// Up to this many fields the program code is field 11, beyond it field 22.
inline constexpr size_t kShortCashRequestFields = 14;
// Empty fields after field 7 of the answer.
inline constexpr size_t kCashAnswerTrailingFields = 19;

// The fifteen texts of EDICONN's cash-receipt call, in its order.
inline constexpr size_t kCashCallTexts = 15;
using CashCallTexts = std::array<std::string, kCashCallTexts>;

// What the cash-receipt server answered (EDICONN's answer call).
struct CashServerAnswer {
  std::string code;  // "0000" approved
  std::string message;
  std::string approval_number;
};

// The library's two cash-receipt entry points. A test puts its own in their place to make the
// exchange fail or answer as it likes.
class CashReceiptNetwork {
 public:
  virtual ~CashReceiptNetwork() = default;
  // Ordinal 16: 1 or more when the exchange with the server took place.
  virtual int Transact(const CashCallTexts& texts) = 0;
  // Ordinal 20: the answer of the last exchange on this thread.
  virtual CashServerAnswer LastAnswer() = 0;
};

// The loaded library's entry points, looked up by name; nullptr (logged) when one is missing.
std::unique_ptr<CashReceiptNetwork> BindCashReceiptNetwork(const platform::Library& library);

// The module's binding: EDICONN.DLL loaded by name on the first cash request and kept for the
// module's life; nullptr (logged) while it cannot be loaded, and the next request tries again.
CashReceiptNetwork* ModuleCashReceiptNetwork();

// Where the cash-receipt server is: registry values ediconn::kCashServerAddressValue and
// ediconn::kCashServerPortValue under "Software\Tavenor" (companions/ediconn/cash_protocol.h),
// 127.0.0.1 and "19000" when missing.
struct CashServer {
  std::string address;
  std::string port;
};
CashServer CashServerFromRegistry();

// Per request code: the answer code and the message type EDICONN is given.
struct CashRequestKind {
  int answer_code;            // 162, 172, 182, 184
  std::string_view message_type;  // "0200" approval, "0210" cancellation
  bool split;                 // amounts 1 and 2 go to the server apart (181, 183)
};
// nullopt for a code that is no cash request.
std::optional<CashRequestKind> CashKindOf(int request_code);

// Step 1: the request's fields into the slot's payment fields (and terminal slot 0's identifier
// from the settings); returns the total, amount 1 + amount 2 + amount 3.
long long StoreCashRequest(RelaySlot& slot, const PosRequest& request,
                           const PharmacySettings& settings, const LogTarget& log);

// The fifteen texts for the slot's payment fields.
CashCallTexts CashCallTextsFor(const CashRequestKind& kind, const PaymentFields& payment,
                               long long total, const PharmacySettings& settings,
                               const CashServer& server);

// The answer frame: STX "XX", the body length + 7 in four digits, the body (answer code where
// other frames carry "TRM"; terminal identifier, server's code, message, an empty field,
// identification number, approval number, total, then 19 empty fields), ETX; no routing prefix,
// no check byte.
std::string CashAnswerFrame(int answer_code, const PaymentFields& payment, long long total,
                            const CashServerAnswer& answer);

// What the handler works with; the module's are ModuleCashReceiptServices().
struct CashReceiptServices {
  CashReceiptNetwork* network = nullptr;  // null: the request is refused as not ready
  PaymentJournal* journal = nullptr;      // null: nothing is journaled
  CashServer server;
  std::function<void(uint32_t event, int64_t lparam)> notify;
  platform::Clock* clock = nullptr;  // the system clock when null
  LogTarget log;
};
CashReceiptServices ModuleCashReceiptServices();

// The handler (steps above) for a request that has taken the slot.
PosRequestResult HandleCashReceipt(RelaySlot& slot, const PosRequest& request,
                                   const PharmacySettings& settings,
                                   const CashReceiptServices& services);

// The hook the module installs (PosServices::cash_receipt): HandleCashReceipt with the module's
// services.
PosRequestResult CashReceiptRequest(RelaySlot& slot, const PosRequest& request,
                                    const PharmacySettings& settings);

}  // namespace hub::payments
