// What every card and cash transaction does alike: its payment journal entry written at each
// transition (payment_journal.h), and its end, when the POS client waiting in the relay slot is
// answered and the slot given back. The card payment (card_payment.h) and the cash receipt call
// these on the threads that make the transitions: the POS request listener's when a request is
// taken, terminal 0's loop for the approval and the print.
//
// Each journal call takes the installed journal (null: nothing is written) and the slot's entry
// id (RelaySlot::journal_id, 0: no entry, nothing is written), so a transaction whose journal
// failed goes on without its record, as the journal asks.
//
// Order of one transaction:
//   taken      AnswerRepeatFromJournal (a repeat of an approved, never answered transaction is
//              answered from its record and nothing goes to the terminal or the network), else
//              BeginTransaction
//   network    TransactionSent before the approval path or the card-network library is called,
//              then TransactionApproved or TransactionDeclined with the answer frame
//   end        FinishTransaction: printed (the last 152) or answered at once; the answer sent;
//              MarkAnswered only when it reached the client
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "hub/core/frame_log.h"
#include "hub/core/relay_slot.h"
#include "hub/payments/payment_journal.h"
#include "platform/clock.h"

namespace hub::payments {

// What answering the relay client takes: the host notifications, the clock of the pause after
// the close, and where a failed answer is logged. ForModule: the loaded module's.
struct RelayAnswerer {
  std::function<void(uint32_t event, int64_t lparam)> notify;
  platform::Clock* clock = nullptr;  // the system clock when null
  LogTarget log;

  static RelayAnswerer ForModule();

  // Sends `answer` to the relay client and closes it (AnswerRelayClient): true when the whole
  // answer reached the client. An empty answer is no answer: the client is closed (an empty
  // send), false.
  bool Answer(RelaySlot& slot, std::string_view answer) const;
};

// The journal's view of the request in the slot: terminal, code, amounts and total, the card
// (or identification) number masked, the cancelled transaction's date and approval number.
JournalRequest JournalRequestFor(int request_code, const PaymentFields& payment,
                                 std::string_view card_or_identification);

// A repeat of a transaction the journal keeps approved and unanswered: its kept answer is sent to
// the slot's client, which is then closed, and the slot is idle again. True when the request
// was answered so (nothing more is to be done for it, whether the send worked or not: a failed
// send leaves the entry unanswered for the next repeat); false when the request is new.
bool AnswerRepeatFromJournal(PaymentJournal* journal, RelaySlot& slot,
                             const JournalRequest& request, const RelayAnswerer& answerer);

// A new entry for the request just taken; its id is kept in the slot (0 when none).
void BeginTransaction(PaymentJournal* journal, RelaySlot& slot, const JournalRequest& request);

void TransactionSent(PaymentJournal* journal, const RelaySlot& slot);
void TransactionApproved(PaymentJournal* journal, const RelaySlot& slot,
                         std::string_view approval_number, std::string_view answer_frame);
void TransactionDeclined(PaymentJournal* journal, const RelaySlot& slot,
                         std::string_view response_code, std::string_view answer_frame);

// Ends the pending card or cash request: its entry marked printed when `printed`, `answer` sent
// to the relay client and the client closed, the entry marked answered when the answer reached
// it. The pending request code, the last terminal code and the entry id are cleared before the
// slot turns idle, so the next request never finds them. True when the client was answered.
bool FinishTransaction(PaymentJournal* journal, RelaySlot& slot, std::string_view answer,
                       bool printed, const RelayAnswerer& answerer);

}  // namespace hub::payments
