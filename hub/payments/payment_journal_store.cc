#include "hub/payments/payment_journal_store.h"

#include <system_error>
#include <utility>
#include <vector>

#include "hub/core/module_state.h"
#include "protocol/host_notification.h"

namespace hub::payments {
namespace {

constexpr const char* kLogTag = "PaymentJournal";
// The response code of every approval, on the card and the cash path alike.
constexpr std::string_view kApprovedCode = "0000";

stores::JournalIdentity Identity(const JournalRequest& request) {
  stores::JournalIdentity identity;
  identity.terminal_id = request.terminal_id;
  identity.request_code = request.request_code;
  identity.amount1 = request.amount1;
  identity.amount2 = request.amount2;
  identity.amount3 = request.amount3;
  identity.total = request.total;
  identity.card = request.masked_card;
  identity.original_date = request.original_date;
  identity.original_approval = request.original_approval;
  return identity;
}

std::string Entry(JournalId id) { return "entry " + std::to_string(id); }

// Why an open entry must be looked at.
std::string_view OpenReason(stores::JournalState state) {
  return state == stores::JournalState::kSent
             ? "handed to the network and no outcome heard: check it with the card network"
             : "approved at the network and the POS client never received the answer";
}

}  // namespace

PaymentJournalStore::PaymentJournalStore(Options options) : options_(std::move(options)) {}

std::optional<stores::JournalFile> PaymentJournalStore::File() {
  std::optional<std::filesystem::path> file =
      options_.file.empty() ? stores::JournalFile::PrefixFile() : options_.file;
  if (!file) {
    Failed(std::string("the journal's path ") + stores::kPaymentJournalPath +
           " cannot be mapped under the prefix");
    return std::nullopt;
  }
  return stores::JournalFile(std::move(*file), stores::JournalFile::Access::kReadWrite,
                             kJournalBusyTimeoutMs);
}

void PaymentJournalStore::Failed(const std::string& what) {
  WriteModuleLog(kLogTag, "journal failed: " + what);
  PostHostNotification(protocol::kEventJournalFailed, 0);
}

void PaymentJournalStore::Moved(JournalId id, std::string_view step,
                                const stores::JournalMove& move) {
  switch (move.outcome) {
    case stores::JournalMove::kMoved:
      return;
    case stores::JournalMove::kFailed:
      Failed(Entry(id) + " not marked " + std::string(step) +
             ", the payment goes on: " + move.message);
      return;
    case stores::JournalMove::kNoEntry:
    case stores::JournalMove::kRefused:
      WriteModuleLog(kLogTag, Entry(id) + " not marked " + std::string(step) + ": " + move.message);
      return;
  }
}

JournalId PaymentJournalStore::Begin(const JournalRequest& request) {
  std::optional<stores::JournalFile> file = File();
  if (!file) return 0;
  int64_t id = 0;
  const platform::Status status = file->Begin(Identity(request), Now(), &id);
  if (!status.ok()) {
    Failed("request " + std::to_string(request.request_code) + " of terminal " +
           request.terminal_id + " total " + std::to_string(request.total) +
           " not journaled, the payment goes on without its record: " + status.message());
    return 0;
  }
  return id;
}

void PaymentJournalStore::MarkSent(JournalId id) {
  if (id == 0) return;
  if (std::optional<stores::JournalFile> file = File()) {
    Moved(id, "sent", file->MarkSent(id, Now()));
  }
}

void PaymentJournalStore::MarkApproved(JournalId id, std::string_view approval_number,
                                       std::string_view answer_frame) {
  Decided(id, true, approval_number, kApprovedCode, answer_frame);
}

void PaymentJournalStore::MarkDeclined(JournalId id, std::string_view response_code,
                                       std::string_view answer_frame) {
  Decided(id, false, "", response_code, answer_frame);
}

void PaymentJournalStore::Decided(JournalId id, bool approved, std::string_view approval_number,
                                  std::string_view response_code, std::string_view answer_frame) {
  if (id == 0) return;
  std::optional<stores::JournalFile> file = File();
  if (!file) return;
  if (answer_frame.find('\0') != std::string_view::npos) {
    // No answer frame of the system holds one; a frame cut short must never answer a repeat.
    WriteModuleLog(kLogTag, Entry(id) +
                                ": the answer frame holds a NUL byte and is not kept; "
                                "a repeat cannot be answered from this entry");
    answer_frame = {};
  }
  Moved(id, approved ? "approved" : "declined",
        file->MarkDecided(id, approved, approval_number, response_code, answer_frame, Now()));
}

void PaymentJournalStore::MarkPrinted(JournalId id) {
  if (id == 0) return;
  if (std::optional<stores::JournalFile> file = File()) {
    Moved(id, "printed", file->MarkPrinted(id, Now()));
  }
}

void PaymentJournalStore::MarkAnswered(JournalId id) {
  if (id == 0) return;
  if (std::optional<stores::JournalFile> file = File()) {
    Moved(id, "answered", file->MarkAnswered(id, Now()));
  }
}

std::optional<KeptAnswer> PaymentJournalStore::CollectKeptAnswer(const JournalRequest& request) {
  std::optional<stores::JournalFile> file = File();
  if (!file) return std::nullopt;
  stores::JournalCollection found;
  const platform::Status status =
      file->Collect(Identity(request), Now(), options_.collect_window_ms, &found);
  if (!status.ok()) {
    Failed("no kept answer looked up for request " + std::to_string(request.request_code) +
           " of terminal " + request.terminal_id +
           ", it goes on as a new transaction: " + status.message());
    return std::nullopt;
  }
  for (const int64_t unresolved : found.unresolved_ids) {
    WriteModuleLog(kLogTag, "repeated request " + std::to_string(request.request_code) +
                                " of terminal " + request.terminal_id + " total " +
                                std::to_string(request.total) + " meets " + Entry(unresolved) +
                                ", whose outcome at the network was never heard: the repeat goes "
                                "on as a new transaction; check " +
                                Entry(unresolved) +
                                " with the card network, both may have been approved");
    PostHostNotification(protocol::kEventOpenPayment, unresolved);
  }
  if (found.collected_id == 0) return std::nullopt;
  WriteModuleLog(kLogTag, "repeated request " + std::to_string(request.request_code) +
                              " of terminal " + request.terminal_id + " total " +
                              std::to_string(request.total) + " answered from the kept answer of " +
                              Entry(found.collected_id) + ", now collected; nothing sent");
  return KeptAnswer{found.collected_id, std::move(found.answer)};
}

void PaymentJournalStore::MarkCollectionUnanswered(JournalId id) {
  std::optional<stores::JournalFile> file = File();
  if (!file) return;
  Moved(id, "collection unanswered", file->ReleaseCollection(id));
}

void PaymentJournalStore::ReportOpenEntries() {
  std::optional<stores::JournalFile> file = File();
  if (!file) return;
  std::error_code error;
  if (!std::filesystem::exists(file->path(), error)) return;
  std::vector<stores::JournalEntry> open;
  const platform::Status status = file->List(false, &open);
  if (!status.ok()) {
    Failed("open entries not read at start: " + status.message());
    return;
  }
  for (auto entry = open.rbegin(); entry != open.rend(); ++entry) {
    WriteModuleLog(kLogTag, "open at start: " + stores::DescribeJournalEntry(*entry) + ": " +
                                std::string(OpenReason(entry->state)));
    PostHostNotification(protocol::kEventOpenPayment, entry->id);
  }
}

PaymentJournalStore& ModulePaymentJournal() {
  static PaymentJournalStore journal;
  return journal;
}

void ReportOpenJournalEntries() { ModulePaymentJournal().ReportOpenEntries(); }

}  // namespace hub::payments
