#include "hub/payments/transaction_steps.h"

#include <optional>
#include <string>

#include "hub/core/module_state.h"
#include "hub/core/terminal_loop.h"
#include "hub/payments/receipt_fields.h"
#include "protocol/card_mask.h"

namespace hub::payments {
namespace {

JournalId EntryOf(const RelaySlot& slot) {
  return slot.journal_id.load(std::memory_order_relaxed);
}

// The request is done: what identifies it goes before the slot can be taken again.
void ReleasePending(RelaySlot& slot) {
  slot.pending_request_code.store(0, std::memory_order_relaxed);
  slot.last_terminal_code.store(0, std::memory_order_relaxed);
  slot.journal_id.store(0, std::memory_order_relaxed);
}

}  // namespace

RelayAnswerer RelayAnswerer::ForModule() {
  RelayAnswerer answerer;
  answerer.notify = &PostHostNotification;
  answerer.clock = &platform::SystemClock();
  answerer.log = ModuleLogTarget();
  return answerer;
}

bool RelayAnswerer::Answer(RelaySlot& slot, std::string_view answer) const {
  platform::Clock& pause_clock = clock != nullptr ? *clock : platform::SystemClock();
  if (answer.empty()) {
    CloseRelayClient(slot, notify, pause_clock);
    return false;
  }
  return AnswerRelayClient(slot, answer, notify, pause_clock, log);
}

JournalRequest JournalRequestFor(int request_code, const PaymentFields& payment,
                                 std::string_view card_or_identification) {
  JournalRequest request;
  request.terminal_id = std::string(payment.terminal_id.view());
  request.request_code = request_code;
  request.amount1 = std::string(payment.amount1.view());
  request.amount2 = std::string(payment.amount2.view());
  request.amount3 = std::string(payment.amount3.view());
  request.total = AmountValue(payment.amount1.view()) + AmountValue(payment.amount2.view()) +
                  AmountValue(payment.amount3.view());
  request.masked_card = protocol::MaskCardData(card_or_identification);
  request.original_date = std::string(payment.original_date.view());
  request.original_approval = std::string(payment.original_approval.view());
  return request;
}

bool AnswerRepeatFromJournal(PaymentJournal* journal, RelaySlot& slot,
                             const JournalRequest& request, const RelayAnswerer& answerer) {
  if (journal == nullptr) return false;
  const std::optional<KeptAnswer> kept = journal->CollectKeptAnswer(request);
  if (!kept) return false;
  WriteModuleLog("PaymentJournal", "request " + std::to_string(request.request_code) +
                                       " answered from journal entry " + std::to_string(kept->id));
  ReleasePending(slot);
  if (!answerer.Answer(slot, kept->answer_frame)) journal->MarkCollectionUnanswered(kept->id);
  return true;
}

void BeginTransaction(PaymentJournal* journal, RelaySlot& slot, const JournalRequest& request) {
  slot.journal_id.store(journal != nullptr ? journal->Begin(request) : 0,
                        std::memory_order_relaxed);
}

void TransactionSent(PaymentJournal* journal, const RelaySlot& slot) {
  if (journal != nullptr && EntryOf(slot) != 0) journal->MarkSent(EntryOf(slot));
}

void TransactionApproved(PaymentJournal* journal, const RelaySlot& slot,
                         std::string_view approval_number, std::string_view answer_frame) {
  if (journal != nullptr && EntryOf(slot) != 0) {
    journal->MarkApproved(EntryOf(slot), approval_number, answer_frame);
  }
}

void TransactionDeclined(PaymentJournal* journal, const RelaySlot& slot,
                         std::string_view response_code, std::string_view answer_frame) {
  if (journal != nullptr && EntryOf(slot) != 0) {
    journal->MarkDeclined(EntryOf(slot), response_code, answer_frame);
  }
}

bool FinishTransaction(PaymentJournal* journal, RelaySlot& slot, std::string_view answer,
                       bool printed, const RelayAnswerer& answerer) {
  const JournalId entry = journal != nullptr ? EntryOf(slot) : 0;
  if (entry != 0 && printed) journal->MarkPrinted(entry);
  ReleasePending(slot);
  const bool answered = answerer.Answer(slot, answer);
  if (entry != 0 && answered) journal->MarkAnswered(entry);
  return answered;
}

}  // namespace hub::payments
