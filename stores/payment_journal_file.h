// The payment journal file "c:\tavenor\PaymentJournal.db" (mapped under the prefix): one row
// per card or cash transaction the hub took from a POS client, with the state it reached and the
// time it reached each step. The hub writes it (hub/payments/payment_journal_store.h); the staff's
// command ordella_journal (tools/ordella_journal) lists it and settles its entries.
//
// Durability: every write is one SQLite transaction in rollback-journal mode
// (journal_mode = DELETE) with synchronous = EXTRA, which is FULL (journal and file flushed at
// every commit) plus the flush of the folder once the journal is deleted: the deletion is the
// commit, and without that flush a power cut just after it could bring the journal back and roll
// the write back. WAL is not used, for the reason written in retalo/db/SETTINGS.md. A write has
// reached the disk when its call returns.
//
// Card data: every text is masked with protocol::MaskCardData before it is written, whatever the
// caller hands over, so the file never holds a whole card number or track data (a caller is to
// mask already; this is the second line). A text is taken up to its first NUL byte.
//
// Each operation opens the file, does its work in one transaction and closes it again, so the
// hub's threads, the hub and the command may use the file at the same time; SQLite's locks order
// them (a lock is waited for up to the busy time-out given). This layer does not log: failures
// are returned with SQLite's message, and the caller logs them in its own terms.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace stores {

inline constexpr char kPaymentJournalPath[] = "c:\\tavenor\\PaymentJournal.db";

// The states of a transaction, in the order it passes through them (see
// hub/payments/payment_journal.h for what each means). Stored by name.
enum class JournalState {
  kRequested,
  kSent,
  kApproved,
  kDeclined,
  kPrinted,
  kAnswered,
  kCollected,
  kSettled,
};

// "requested", "sent", "approved", "declined", "printed", "answered", "collected", "settled".
std::string_view JournalStateName(JournalState state);
std::optional<JournalState> JournalStateFromName(std::string_view name);

// Open entries are those the staff must look at: the network may hold money the POS client never
// heard of. Sent (handed to the network, no outcome written), approved or printed (never
// answered).
bool IsOpenJournalState(JournalState state);

// What identifies a request (hub/payments/payment_journal.h, JournalRequest).
struct JournalIdentity {
  std::string terminal_id;
  int request_code = 0;
  std::string amount1;
  std::string amount2;
  std::string amount3;
  int64_t total = 0;
  std::string card;  // card or identification number, masked
  std::string original_date;
  std::string original_approval;
};

struct JournalEntry {
  int64_t id = 0;
  JournalState state = JournalState::kRequested;
  JournalIdentity request;
  std::string approval_number;
  std::string response_code;
  std::string answer;  // the answer frame kept for the POS client, masked; empty when none
  // Wall-clock times (milliseconds since 1970-01-01 UTC) of each step; 0 where none was reached.
  int64_t requested_ms = 0;
  int64_t sent_ms = 0;
  int64_t decided_ms = 0;  // approved or declined
  int64_t printed_ms = 0;
  int64_t answered_ms = 0;
  int64_t collected_ms = 0;
  int64_t settled_ms = 0;
  // The last time a repeat of the request met this entry while it was left sent (0: never).
  int64_t repeated_ms = 0;
};

// The result of a write that moves an entry to a later state.
struct JournalMove {
  enum Outcome {
    kMoved,
    kNoEntry,  // no entry of that id
    kRefused,  // the entry is in a state the move does not start from (state says which)
    kFailed,   // the file could not be opened or written (message says why)
  };
  Outcome outcome = kFailed;
  JournalState state = JournalState::kRequested;
  std::string message;

  bool moved() const { return outcome == kMoved; }
};

// What a repeated request found (JournalFile::Collect).
struct JournalCollection {
  // The entry whose kept answer the repeat is to get (now collected), 0 when none.
  int64_t collected_id = 0;
  std::string answer;
  // Entries left sent, whose outcome at the network is unknown, that the repeat matched: they
  // stay open, marked with the time of the repeat, newest first.
  std::vector<int64_t> unresolved_ids;
};

// Local time of a wall-clock time, "YYYY-MM-DD HH:MM:SS"; "" for 0.
std::string JournalTimeText(int64_t ms);

// One line for the diagnostic log and the staff's list: the id, state, the time of the latest
// step, the request's identity and the network's answer, e.g.
//   17 approved 2030-01-01 09:00:03 terminal 1047312 code 51 amounts 10000/0/1000 total 11000
//   card 941012******1234 approval 30012345 response 0000
std::string DescribeJournalEntry(const JournalEntry& entry);

// The entry as one JSON object (texts in UTF-8, times as local "YYYY-MM-DD HH:MM:SS" or null),
// for the staff's command and the status command.
std::string JournalEntryJson(const JournalEntry& entry);

class JournalFile {
 public:
  enum class Access { kReadWrite, kReadOnly };

  // The journal of the current prefix; nullopt when its path cannot be mapped.
  static std::optional<std::filesystem::path> PrefixFile();

  // Read-write access creates the folder, the file and its table when missing; read-only access
  // never writes (a missing file reads as an empty journal).
  JournalFile(std::filesystem::path file, Access access, int busy_timeout_ms);

  const std::filesystem::path& path() const { return file_; }

  // A new entry in state requested at now_ms; its id in *id.
  platform::Status Begin(const JournalIdentity& request, int64_t now_ms, int64_t* id) const;

  // requested -> sent.
  JournalMove MarkSent(int64_t id, int64_t now_ms) const;
  // requested or sent -> approved or declined, with the network's answer and the answer frame.
  JournalMove MarkDecided(int64_t id, bool approved, std::string_view approval_number,
                          std::string_view response_code, std::string_view answer,
                          int64_t now_ms) const;
  // approved -> printed.
  JournalMove MarkPrinted(int64_t id, int64_t now_ms) const;
  // approved, printed or declined -> answered.
  JournalMove MarkAnswered(int64_t id, int64_t now_ms) const;
  // Any state but answered, collected and settled -> settled (the staff's decision).
  JournalMove Settle(int64_t id, int64_t now_ms) const;
  // collected -> printed (when it was printed) or approved: the kept answer did not reach the POS
  // client, so the entry is open again.
  JournalMove ReleaseCollection(int64_t id) const;

  // A repeated request: the newest entry approved or printed with the same identity whose
  // approval is at most window_ms old and that kept an answer becomes collected, in one
  // transaction (two repeats never both collect one entry). Same identity: terminal, request
  // code, the three amounts and the cancellation's original date and approval as texts; the card
  // too when both the entry and the repeat carry one. When none is collected, the entries left
  // sent with the same identity within the window (counted from their sending) are marked with
  // the repeat's time and returned.
  platform::Status Collect(const JournalIdentity& repeat, int64_t now_ms, int64_t window_ms,
                           JournalCollection* out) const;

  // The entries, newest first: all of them, or only the open ones.
  platform::Status List(bool all, std::vector<JournalEntry>* out) const;
  // One entry; nullopt in *out when there is none of that id.
  platform::Status Get(int64_t id, std::optional<JournalEntry>* out) const;

 private:
  JournalMove Move(int64_t id, JournalState to, int64_t now_ms, const std::string& also_set) const;
  // Runs `update` (which changes entry `id` or nothing); when nothing changed, says why.
  JournalMove Change(int64_t id, JournalState to, const std::string& update) const;
  // The entries `where` (a where clause, or empty for all) selects, newest first.
  platform::Status Select(const std::string& where, std::vector<JournalEntry>* out) const;

  std::filesystem::path file_;
  Access access_;
  int busy_timeout_ms_;
};

}  // namespace stores
