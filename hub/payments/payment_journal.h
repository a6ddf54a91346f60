// The payment journal: every card and cash transaction the hub takes from a POS client, written
// through its states to a durable store, so that "the card was approved but the till never
// heard" cannot pass unnoticed. A crash or a dropped POS connection between the network's
// approval and the answer leaves the transaction approved and unanswered; the journal keeps it,
// reports it when the module next starts, and answers it once from its record when the POS
// client repeats the same request instead of charging the card a second time.
//
// States, in the order a transaction passes through them (each written before the step that
// follows it, so a crash never leaves a later step without its record):
//
//   requested        the POS request was taken into the relay slot
//   sent             handed to the network: the approval path, or EDICONN for a cash receipt
//   approved         the network approved it; the answer frame for the POS client is kept
//   declined         the network declined it, or a local failure ("9999"); the answer is kept
//   printed          the receipt the terminal was to print is printed (152)
//   answered         the POS client received the whole answer (a send that failed is no answer)
//   collected        an approved transaction left unanswered was answered later from the journal
//   settled          the staff marked it settled (cancelled at the network, or paid otherwise)
//
// A transaction that ends approved or printed, never answered, is kept: it is what the staff
// must look at, and what a repeated request collects.
//
// The card payment (card_payment.h) and the cash receipt (cash_receipt.h) call the installed
// journal on the threads that make the transitions (the POS listener's, terminal 0's loop).
// Without an installed journal they run as before and write nothing; the module installs the
// journal of the prefix when it loads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hub::payments {

// What identifies a request when the POS client repeats it: the terminal it was made at, its
// request code and its three amounts as the request carried them.
struct JournalRequest {
  std::string terminal_id;  // terminal slot 0's identifier
  int request_code = 0;     // 51 61 63 71 (card), 161 171 181 183 (cash)
  std::string amount1;
  std::string amount2;
  std::string amount3;
  int64_t total = 0;
  // The card number or identification number, masked by protocol::MaskCardData before it is
  // handed over (first six and last four digits; never track data).
  std::string masked_card;
  std::string original_date;      // cancellations
  std::string original_approval;  // cancellations
};

// One transaction's journal entry id; 0 is no entry (nothing was written, or no journal).
using JournalId = int64_t;

// A kept answer found for a repeated request: the entry it belongs to (now collected) and the
// answer frame to send.
struct KeptAnswer {
  JournalId id = 0;
  std::string answer_frame;
};

class PaymentJournal {
 public:
  virtual ~PaymentJournal() = default;

  // A new transaction in state "requested"; its id, or 0 when it could not be written (logged).
  virtual JournalId Begin(const JournalRequest& request) = 0;
  virtual void MarkSent(JournalId id) = 0;
  // The network's outcome and the answer frame the POS client is to receive (card data in it is
  // masked before it is stored).
  virtual void MarkApproved(JournalId id, std::string_view approval_number,
                            std::string_view answer_frame) = 0;
  virtual void MarkDeclined(JournalId id, std::string_view response_code,
                            std::string_view answer_frame) = 0;
  virtual void MarkPrinted(JournalId id) = 0;
  virtual void MarkAnswered(JournalId id) = 0;

  // Called before a request goes to the network. When the journal keeps an approved transaction
  // of the same terminal, request code and amounts that was never answered, and it is young
  // enough to be the same sale, it is marked collected and its kept answer frame returned: the
  // caller answers the POS client with it and sends nothing to the network. Otherwise nullopt.
  virtual std::optional<KeptAnswer> CollectKeptAnswer(const JournalRequest& request) = 0;
  // The kept answer of a collection did not reach the POS client (the send failed): the entry is
  // approved (or printed) and unanswered again, for the next repeat and for the staff.
  virtual void MarkCollectionUnanswered(JournalId id) = 0;
};

// The journal of the loaded module; null when none is installed. Installed once while the
// library loads, before any listener starts.
void InstallPaymentJournal(PaymentJournal* journal);
PaymentJournal* InstalledPaymentJournal();

}  // namespace hub::payments
