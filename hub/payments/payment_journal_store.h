// The payment journal the module installs: PaymentJournal (payment_journal.h) over the journal
// file of the prefix, "c:\tavenor\PaymentJournal.db" (stores/payment_journal_file.h: one row per
// transaction, one durable write per transition, card data masked).
//
// Nothing is opened when the module loads: each call maps the path under the prefix and opens the
// file for its one write, so a missing or broken journal never keeps the module from loading. A
// journal that cannot be opened or written never stops a payment either: the call writes a
// diagnostic record (tag "PaymentJournal"), posts host notification kEventJournalFailed and
// returns 0 (Begin), nullopt (CollectKeptAnswer) or nothing, and the payment goes on without its
// record. A transition the entry's state does not allow (an answer for an entry the staff
// settled, say) is logged and leaves the entry as it is.
//
// Collecting a kept answer. A repeat is answered from an entry only when the entry is approved
// or printed, never answered, of the same terminal, request code and amounts (and the same
// cancelled transaction; the same card when both carry one), kept an answer frame, and was
// approved at most kCollectWindowMs before. The window is ten minutes: a till whose gateway
// crashed retries once the host program is running again, which takes one to a few minutes, or
// some more when the machine restarts after a power cut; two genuine sales with the same three
// amounts at one terminal within ten minutes are rare, and rarer still with the same card. It is
// measured on the wall clock (the tick count starts afresh with the machine); an approval whose
// time lies ahead of the clock (the clock was set back) is outside it. The answer returned is the
// kept frame, masked as it was written: a number of 13 to 19 digits in it (card number, also a
// 15-digit merchant number) reads with its middle digits masked.
//
// A repeat of a request left "sent" (handed to the network, the crash came before the outcome
// was written) is not answered from the journal: nothing says the network approved it. It goes
// on as a new transaction (nullopt), and the entry that was left sent stays open, marked with the
// time of the repeat, logged and reported to the host (kEventOpenPayment with its id) at once, so
// the staff check it with the card network and cancel one of the two when both were approved.
// Refusing the repeat instead would stop the customer's payment on a record nobody at the counter
// can resolve.
//
// At module start every open entry (approved or printed and never answered, or left sent) is
// reported: one diagnostic record with its masked details and one host notification
// kEventOpenPayment with its id each. The staff list and settle them with ordella_journal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "hub/payments/payment_journal.h"
#include "platform/clock.h"
#include "stores/payment_journal_file.h"

namespace hub::payments {

inline constexpr int64_t kCollectWindowMs = 10 * 60 * 1000;
// How long a call waits for the journal while another writer (the staff's command) holds it.
inline constexpr int kJournalBusyTimeoutMs = 2000;

class PaymentJournalStore final : public PaymentJournal {
 public:
  struct Options {
    // The journal file; empty: the journal of the prefix current at each call.
    std::filesystem::path file;
    platform::Clock* clock = &platform::SystemClock();
    int64_t collect_window_ms = kCollectWindowMs;
  };

  PaymentJournalStore() : PaymentJournalStore(Options{}) {}
  explicit PaymentJournalStore(Options options);

  JournalId Begin(const JournalRequest& request) override;
  void MarkSent(JournalId id) override;
  void MarkApproved(JournalId id, std::string_view approval_number,
                    std::string_view answer_frame) override;
  void MarkDeclined(JournalId id, std::string_view response_code,
                    std::string_view answer_frame) override;
  void MarkPrinted(JournalId id) override;
  void MarkAnswered(JournalId id) override;
  std::optional<KeptAnswer> CollectKeptAnswer(const JournalRequest& request) override;
  void MarkCollectionUnanswered(JournalId id) override;

  // The start report: every open entry, oldest first, logged and notified (kEventOpenPayment).
  // A journal that does not exist yet holds none and is not created.
  void ReportOpenEntries();

 private:
  std::optional<stores::JournalFile> File();
  int64_t Now() { return options_.clock->WallTimeMs(); }
  void Decided(JournalId id, bool approved, std::string_view approval_number,
               std::string_view response_code, std::string_view answer_frame);
  void Moved(JournalId id, std::string_view step, const stores::JournalMove& move);
  void Failed(const std::string& what);

  const Options options_;
};

// The journal of the loaded module: the prefix's file on the system clock.
PaymentJournalStore& ModulePaymentJournal();

// The start sequence's report (hub/core/manager_main_thread.h): ModulePaymentJournal()'s
// ReportOpenEntries.
void ReportOpenJournalEntries();

}  // namespace hub::payments
