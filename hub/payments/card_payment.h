// The card payment: a POS client's card payment or cancellation, taken into the relay slot,
// carried through the card terminal (card data, signature), approved on the payment path of the
// property map, printed on the terminal in one or two copies, and only then answered.
//
//   request  51 payment, 61 split payment, 71 cancellation, 63 split cancellation
//   answer   052, 062, 072, 064
//
// Request (POS listener's thread). Fields 1-3 amounts (19 characters each), 4 installment months
// (two characters, right-aligned with zero fill: "3" is "03", empty is "00"), 5 and 6 the
// cancelled transaction's date and approval number (9 each), 10 the card data (199). A field
// longer than its room is refused, never cut: a cut amount or card number would charge another
// amount or card. The refusal frame says "REQUEST FIELD TOO LONG" (pos_request.h) and the slot
// is given back; the field is logged by name. The terminal identifier (terminal slot 0's) and
// the program code (by the pharmacy program index, ProgramCode) are stored beside them. Then the
// terminal is asked: 041 with the total at once when the card data has more than seven
// characters, else 011 for the card data first.
//
// Terminal answers (terminal 0's loop). With a card or cash request pending (its code in the
// slot and the slot not idle):
//   012  field 3 is the card data (longer than its room: the request is answered with the
//        refusal above); 041 follows
//   042  the approval step follows
//   152  the merchant copy is queued 200 ms later when one is pending, else the answer area's
//        text is sent to the POS client and the request ends (cash and card alike)
// Without one: 012 goes back to the POS client as it came, 042 only has its signature stored and
// goes back likewise, 152 and 844 close the POS client without a word; others are ignored.
//
// Approval step. Payment paths 0 and 1: the sign-pad module (module_approval.h) with the loop's
// own library; path 2: the sign-pad objects' approval, installed by the module
// (InstallSignPadObjectsApproval); none installed, or any other path: the request fails with
// response code "9999" and "결제 오류 : 결제실패!" (logged), never a pretended approval. The
// answer frame (PaymentAnswerFrame) goes into the answer area. Approved: the card receipt is
// built into the print copy buffers, the module path confirms the transaction, the merchant copy
// is marked pending when the second-copy flag is set, and the customer copy is queued. Declined
// or failed: the answer goes at once and nothing is printed. An approval whose receipt cannot be
// built is answered at once too: the money is taken, so the till must hear of it.
//
// The ACK, NAK and 4,000 ms watch of every queued copy is the loop's (terminal_loop.h): a refused
// copy closes the POS client without the answer; the journal keeps the approved transaction.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "hub/core/pos_request.h"
#include "hub/core/relay_slot.h"
#include "hub/core/terminal_loop.h"
#include "hub/payments/approval_record.h"
#include "hub/payments/module_approval.h"
#include "hub/payments/payment_journal.h"
#include "hub/payments/pharmacy_settings.h"
#include "hub/payments/transaction_steps.h"

namespace hub::payments {

inline constexpr std::string_view kRefusedFieldTooLong = "REQUEST FIELD TOO LONG";

// Card data of more than this many characters is enough to ask for the total at once.
inline constexpr size_t kCardDataKnownAbove = 7;
// The pause between the terminal's report that the customer copy is printed and the merchant
// copy, so the customer can tear the first copy off.
inline constexpr uint32_t kMerchantCopyPauseMs = 200;
// The answer frame carries its eleven fields and then this many empty ones.
inline constexpr size_t kAnswerTrailingFields = 22;

// True for the card requests (51 61 63 71) and for every request the terminal answer handler
// treats as pending (the card requests and the cash receipts 161 171 181 183).
bool IsCardRequest(int request_code);
bool IsPaymentRequest(int request_code);

// The program code of a pharmacy program index 0-16 ("200", "202" ..., empty for 10, 12, 15);
// an index outside 0-16 has none either (logged by the caller).
std::string_view ProgramCode(int program_index);

// The frame that asks the terminal for the total (041: "041" FS FS total FS) or for the card
// data first (011: "011" FS FS FS), toward the terminal: routing prefix, check byte.
std::string CardTerminalFrame(const PaymentFields& payment);
// Amount 1 + amount 2 + amount 3, each read as a decimal integer.
long long PaymentTotal(const PaymentFields& payment);

// The answer to the POS client, built from the approval reply record: "%cXX%04dTRM%s%c" (length
// field the body length, no prefix, no check byte) with body: answer code, terminal identifier,
// response code, response message, transaction management number, card number, approval number,
// total, merchant number, issuer, acquirer (record fields stripped of leading and trailing
// spaces), then 22 empty fields. Empty for a request code that is no card request.
std::string PaymentAnswerFrame(int request_code, std::string_view terminal_id,
                               const ApprovalRecord& record, long long total);

// --- Request ---------------------------------------------------------------------------------

struct CardRequestServices {
  PaymentJournal* journal = nullptr;
  RelayAnswerer answerer;
  static CardRequestServices ForModule();  // the installed journal, the module's answerer
};

// The card request handler: `request` has taken the slot (pos_request.h). Queued: the terminal
// is asked (041 or 011). A repeat answered from the journal is done as well (queued, its
// connection already answered and closed by the slot). Refused: the slot is given back.
PosRequestResult TakeCardRequest(RelaySlot& slot, const PosRequest& request,
                                 const PharmacySettings& settings,
                                 const CardRequestServices& services);
// The hook of the listeners (pos_services.h), with the module's services.
PosRequestResult CardRequest(RelaySlot& slot, const PosRequest& request,
                             const PharmacySettings& settings);

// --- Terminal answers and the approval ------------------------------------------------------

// How a card is approved and, after its receipt was built, confirmed.
struct CardApprover {
  std::function<ModuleApprovalResult(std::string_view frame, int request_code,
                                     const PaymentFields& payment)>
      approve;
  std::function<void()> confirm;  // may be empty
};

// The sign-pad objects' approval (payment path 2), as the module installs it.
using SignPadObjectsApprovalFn = ModuleApprovalResult (*)(std::string_view frame,
                                                          int request_code, PaymentFields payment,
                                                          const PharmacySettings& settings);
void InstallSignPadObjectsApproval(SignPadObjectsApprovalFn approval);
SignPadObjectsApprovalFn InstalledSignPadObjectsApproval();

// The approver of the settings' payment path: 0 and 1 the sign-pad module through `sign_pad`
// (null: the approval fails), 2 the installed sign-pad objects' approval.
CardApprover ApproverForPath(const PharmacySettings& settings, platform::Library* sign_pad,
                             const ModuleApprovalSettings& module_settings);

// What a terminal answer is handled with, on the terminal loop's thread.
struct PaymentStep {
  RelaySlot* slot = nullptr;
  PaymentJournal* journal = nullptr;
  RelayAnswerer answerer;
  PharmacySettings settings;
};

// The terminal answer handler: 1 when the approval step must follow, else 0 (see above).
int TerminalAnswer(const PaymentStep& step, std::string_view frame);
// The approval step for the terminal's 042 `frame`.
void ApprovalStep(const PaymentStep& step, std::string_view frame, const CardApprover& approver);

// The loop's payment path (TerminalLoopServices::payment): the answer handler and, when it asks
// for it, the approval step, with the loop's slot, notifications, clock and sign-pad library and
// the module's journal and settings.
void HandlePaymentFrame(TerminalContext& context, MessageRecord& record);

}  // namespace hub::payments
