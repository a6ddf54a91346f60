#include "stores/payment_journal_file.h"

#include <array>
#include <ctime>
#include <initializer_list>
#include <system_error>
#include <utility>

#include "platform/prefix.h"
#include "platform/text.h"
#include "protocol/card_mask.h"
#include "stores/cpp_sqlite3.h"

namespace stores {
namespace {

// ---- The SQL texts of the journal ----

constexpr char kSetUpConnection[] = "pragma journal_mode = DELETE; pragma synchronous = EXTRA;";
constexpr char kCreateTable[] =
    "create table if not exists PAYMENT_JOURNAL("
    " ID integer primary key autoincrement,"
    " STATE text not null,"
    " TERMINAL_ID text not null, REQUEST_CODE integer not null,"
    " AMOUNT1 text not null, AMOUNT2 text not null, AMOUNT3 text not null,"
    " TOTAL integer not null, CARD text not null,"
    " ORIGINAL_DATE text not null, ORIGINAL_APPROVAL text not null,"
    " APPROVAL_NUMBER text not null default '', RESPONSE_CODE text not null default '',"
    " ANSWER text not null default '',"
    " REQUESTED_AT integer not null, SENT_AT integer not null default 0,"
    " DECIDED_AT integer not null default 0, PRINTED_AT integer not null default 0,"
    " ANSWERED_AT integer not null default 0, COLLECTED_AT integer not null default 0,"
    " SETTLED_AT integer not null default 0, REPEATED_AT integer not null default 0);"
    "create index if not exists PAYMENT_JOURNAL_STATE on PAYMENT_JOURNAL(STATE, TERMINAL_ID);";
constexpr char kInsertEntry[] =
    "insert into PAYMENT_JOURNAL (STATE, TERMINAL_ID, REQUEST_CODE, AMOUNT1, AMOUNT2, AMOUNT3,"
    " TOTAL, CARD, ORIGINAL_DATE, ORIGINAL_APPROVAL, REQUESTED_AT)"
    " values ('requested', '%q', %d, '%q', '%q', '%q', %lld, '%q', '%q', '%q', %lld);";
// The state, the time of the step, what else the step sets; the entry; the states it starts from.
constexpr char kMoveEntry[] =
    "update PAYMENT_JOURNAL set STATE = '%s', %s = %lld%s where ID = %lld and STATE in (%s);";
constexpr char kDecision[] = ", APPROVAL_NUMBER = '%q', RESPONSE_CODE = '%q', ANSWER = '%q'";
constexpr char kSelectState[] = "select STATE from PAYMENT_JOURNAL where ID = %lld;";
constexpr char kSelectEntries[] =
    "select ID, STATE, TERMINAL_ID, REQUEST_CODE, AMOUNT1, AMOUNT2, AMOUNT3, TOTAL, CARD,"
    " ORIGINAL_DATE, ORIGINAL_APPROVAL, APPROVAL_NUMBER, RESPONSE_CODE, ANSWER, REQUESTED_AT,"
    " SENT_AT, DECIDED_AT, PRINTED_AT, ANSWERED_AT, COLLECTED_AT, SETTLED_AT, REPEATED_AT"
    " from PAYMENT_JOURNAL";
constexpr char kWhereOpen[] = " where STATE in ('sent', 'approved', 'printed')";
constexpr char kWhereId[] = " where ID = %lld";
constexpr char kNewestFirst[] = " order by ID desc;";
// The same request: terminal, code, amounts and the cancelled transaction as texts; the card
// when both carry one.
constexpr char kSameRequest[] =
    "TERMINAL_ID = '%q' and REQUEST_CODE = %d and AMOUNT1 = '%q' and AMOUNT2 = '%q' and"
    " AMOUNT3 = '%q' and ORIGINAL_DATE = '%q' and ORIGINAL_APPROVAL = '%q' and"
    " (CARD = '' or '%q' = '' or CARD = '%q')";
constexpr char kSelectKept[] =
    "select ID, ANSWER from PAYMENT_JOURNAL where STATE in ('approved', 'printed') and %s and"
    " ANSWER <> '' and DECIDED_AT between %lld and %lld order by DECIDED_AT desc, ID desc limit 1;";
constexpr char kCollectEntry[] =
    "update PAYMENT_JOURNAL set STATE = 'collected', COLLECTED_AT = %lld"
    " where ID = %lld and STATE in ('approved', 'printed');";
constexpr char kReleaseCollection[] =
    "update PAYMENT_JOURNAL set STATE = case when PRINTED_AT > 0 then 'printed' else 'approved'"
    " end, COLLECTED_AT = 0 where ID = %lld and STATE = 'collected';";
constexpr char kSelectUnresolved[] =
    "select ID from PAYMENT_JOURNAL where STATE = 'sent' and %s and SENT_AT between %lld and %lld"
    " order by SENT_AT desc, ID desc;";
constexpr char kMarkRepeated[] = "update PAYMENT_JOURNAL set REPEATED_AT = %lld where ID = %lld;";
constexpr char kBeginImmediate[] = "begin immediate;";
constexpr char kCommit[] = "commit;";

constexpr int kSqliteReadOnly = 8;  // SQLITE_READONLY

constexpr std::array<std::string_view, 8> kStateNames = {
    "requested", "sent", "approved", "declined", "printed", "answered", "collected", "settled"};

// A step: the state it leads to, the column of its time and the states it starts from.
struct Step {
  JournalState to;
  const char* time_column;
  std::initializer_list<JournalState> from;
};

using enum JournalState;
const Step kSteps[] = {
    {kSent, "SENT_AT", {kRequested}},
    {kApproved, "DECIDED_AT", {kRequested, kSent}},
    {kDeclined, "DECIDED_AT", {kRequested, kSent}},
    {kPrinted, "PRINTED_AT", {kApproved}},
    {kAnswered, "ANSWERED_AT", {kApproved, kPrinted, kDeclined}},
    {kSettled, "SETTLED_AT", {kRequested, kSent, kApproved, kPrinted, kDeclined}},
};

const Step* StepTo(JournalState to) {
  for (const Step& step : kSteps) {
    if (step.to == to) return &step;
  }
  return nullptr;
}

std::string QuotedNames(std::initializer_list<JournalState> states) {
  std::string text;
  for (JournalState state : states) {
    if (!text.empty()) text += ", ";
    text += "'" + std::string(JournalStateName(state)) + "'";
  }
  return text;
}

// What is written of a text: up to its first NUL, with card data masked.
std::string Kept(std::string_view text) {
  return protocol::MaskCardData(text.substr(0, text.find('\0')));
}

JournalIdentity KeptIdentity(const JournalIdentity& request) {
  JournalIdentity kept = request;
  for (std::string* text : {&kept.terminal_id, &kept.amount1, &kept.amount2, &kept.amount3,
                            &kept.card, &kept.original_date, &kept.original_approval}) {
    *text = Kept(*text);
  }
  return kept;
}

std::string SameRequest(const JournalIdentity& kept) {
  return CppSQLite3Format(kSameRequest, kept.terminal_id.c_str(), kept.request_code,
                          kept.amount1.c_str(), kept.amount2.c_str(), kept.amount3.c_str(),
                          kept.original_date.c_str(), kept.original_approval.c_str(),
                          kept.card.c_str(), kept.card.c_str());
}

platform::Status Failure(const std::filesystem::path& file, JournalFile::Access access,
                         const CppSQLite3Exception& e) {
  std::string message = file.string() + ": ";
  if (access == JournalFile::Access::kReadOnly && e.errorCode() == kSqliteReadOnly) {
    message +=
        "a write that a crash left unfinished waits to be rolled back, which a read-only "
        "open cannot do; the hub rolls it back when it next opens the journal (";
    message += std::string(e.errorMessage()) + ")";
  } else {
    message += e.errorMessage();
  }
  return platform::Status(platform::StatusCode::kIoError, std::move(message));
}

JournalEntry ReadEntry(const CppSQLite3Query& row) {
  JournalEntry entry;
  entry.id = row.FieldInt(0);
  const std::optional<JournalState> state = JournalStateFromName(row.FieldText(1));
  if (!state) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR,
                              CppSQLite3Format("entry %lld has an unknown state '%q'",
                                               static_cast<long long>(entry.id), row.FieldText(1))
                                  .c_str());
  }
  entry.state = *state;
  JournalIdentity& request = entry.request;
  request.terminal_id = row.FieldText(2);
  request.request_code = static_cast<int>(row.FieldInt(3));
  request.amount1 = row.FieldText(4);
  request.amount2 = row.FieldText(5);
  request.amount3 = row.FieldText(6);
  request.total = row.FieldInt(7);
  request.card = row.FieldText(8);
  request.original_date = row.FieldText(9);
  request.original_approval = row.FieldText(10);
  entry.approval_number = row.FieldText(11);
  entry.response_code = row.FieldText(12);
  entry.answer = row.FieldText(13);
  int column = 14;
  for (int64_t* time :
       {&entry.requested_ms, &entry.sent_ms, &entry.decided_ms, &entry.printed_ms,
        &entry.answered_ms, &entry.collected_ms, &entry.settled_ms, &entry.repeated_ms}) {
    *time = row.FieldInt(column++);
  }
  return entry;
}

bool FileExists(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::is_regular_file(file, error);
}

long long Ll(int64_t value) { return static_cast<long long>(value); }

}  // namespace

std::string_view JournalStateName(JournalState state) {
  return kStateNames[static_cast<size_t>(state)];
}

std::optional<JournalState> JournalStateFromName(std::string_view name) {
  for (size_t i = 0; i < kStateNames.size(); ++i) {
    if (kStateNames[i] == name) return static_cast<JournalState>(i);
  }
  return std::nullopt;
}

bool IsOpenJournalState(JournalState state) {
  return state == kSent || state == kApproved || state == kPrinted;
}

std::string JournalTimeText(int64_t ms) {
  if (ms == 0) return "";
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
}

std::string DescribeJournalEntry(const JournalEntry& entry) {
  int64_t latest = entry.requested_ms;
  for (int64_t time : {entry.sent_ms, entry.decided_ms, entry.printed_ms, entry.answered_ms,
                       entry.collected_ms, entry.settled_ms}) {
    if (time > latest) latest = time;
  }
  const JournalIdentity& request = entry.request;
  std::string text = std::to_string(entry.id) + " " + std::string(JournalStateName(entry.state)) +
                     " " + JournalTimeText(latest) + " terminal " + request.terminal_id + " code " +
                     std::to_string(request.request_code) + " amounts " + request.amount1 + "/" +
                     request.amount2 + "/" + request.amount3 + " total " +
                     std::to_string(request.total);
  if (!request.card.empty()) text += " card " + request.card;
  if (!request.original_approval.empty() || !request.original_date.empty()) {
    text += " cancels " + request.original_date + "/" + request.original_approval;
  }
  if (!entry.approval_number.empty()) text += " approval " + entry.approval_number;
  if (!entry.response_code.empty()) text += " response " + entry.response_code;
  if (entry.repeated_ms != 0) text += " repeated " + JournalTimeText(entry.repeated_ms);
  return text;
}

std::optional<std::filesystem::path> JournalFile::PrefixFile() {
  return platform::MapPath(kPaymentJournalPath);
}

JournalFile::JournalFile(std::filesystem::path file, Access access, int busy_timeout_ms)
    : file_(std::move(file)), access_(access), busy_timeout_ms_(busy_timeout_ms) {}

namespace {

// The journal opened for one operation: for writing (folder, file and table made when missing,
// the journal mode and flushes set), or for reading.
CppSQLite3DB OpenJournal(const std::filesystem::path& file, JournalFile::Access access,
                         int busy_timeout_ms) {
  CppSQLite3DB db;
  db.SetBusyTimeout(busy_timeout_ms);
  if (access == JournalFile::Access::kReadOnly) {
    db.OpenFileReadOnly(file.string());
    return db;
  }
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);  // the open reports a failure
  db.OpenFile(file.string());
  db.ExecuteChange(kSetUpConnection);
  db.ExecuteChange(kCreateTable);
  return db;
}

platform::Status ReadOnlyRefused(const std::filesystem::path& file) {
  return platform::Status(platform::StatusCode::kInvalidArgument,
                          file.string() + ": opened for reading only");
}

}  // namespace

platform::Status JournalFile::Begin(const JournalIdentity& request, int64_t now_ms,
                                    int64_t* id) const {
  *id = 0;
  if (access_ == Access::kReadOnly) return ReadOnlyRefused(file_);
  const JournalIdentity kept = KeptIdentity(request);
  try {
    CppSQLite3DB db = OpenJournal(file_, access_, busy_timeout_ms_);
    db.ExecuteChange(CppSQLite3Format(
        kInsertEntry, kept.terminal_id.c_str(), kept.request_code, kept.amount1.c_str(),
        kept.amount2.c_str(), kept.amount3.c_str(), Ll(kept.total), kept.card.c_str(),
        kept.original_date.c_str(), kept.original_approval.c_str(), Ll(now_ms)));
    *id = db.LastRowId();
    return platform::Status();
  } catch (const CppSQLite3Exception& e) {
    return Failure(file_, access_, e);
  }
}

JournalMove JournalFile::MarkSent(int64_t id, int64_t now_ms) const {
  return Move(id, kSent, now_ms, "");
}

JournalMove JournalFile::MarkDecided(int64_t id, bool approved, std::string_view approval_number,
                                     std::string_view response_code, std::string_view answer,
                                     int64_t now_ms) const {
  std::string decision;
  try {
    decision = CppSQLite3Format(kDecision, Kept(approval_number).c_str(),
                                Kept(response_code).c_str(), Kept(answer).c_str());
  } catch (const CppSQLite3Exception& e) {
    return {JournalMove::kFailed, kRequested, Failure(file_, access_, e).message()};
  }
  return Move(id, approved ? kApproved : kDeclined, now_ms, decision);
}

JournalMove JournalFile::MarkPrinted(int64_t id, int64_t now_ms) const {
  return Move(id, kPrinted, now_ms, "");
}

JournalMove JournalFile::MarkAnswered(int64_t id, int64_t now_ms) const {
  return Move(id, kAnswered, now_ms, "");
}

JournalMove JournalFile::Settle(int64_t id, int64_t now_ms) const {
  return Move(id, kSettled, now_ms, "");
}

JournalMove JournalFile::Move(int64_t id, JournalState to, int64_t now_ms,
                              const std::string& also_set) const {
  const Step* step = StepTo(to);
  if (step == nullptr) {
    return {JournalMove::kFailed, kRequested,
            "no step leads to " + std::string(JournalStateName(to))};
  }
  try {
    return Change(
        id, to,
        CppSQLite3Format(kMoveEntry, JournalStateName(to).data(), step->time_column, Ll(now_ms),
                         also_set.c_str(), Ll(id), QuotedNames(step->from).c_str()));
  } catch (const CppSQLite3Exception& e) {
    return {JournalMove::kFailed, kRequested, Failure(file_, access_, e).message()};
  }
}

JournalMove JournalFile::ReleaseCollection(int64_t id) const {
  try {
    return Change(id, kApproved, CppSQLite3Format(kReleaseCollection, Ll(id)));
  } catch (const CppSQLite3Exception& e) {
    return {JournalMove::kFailed, kRequested, Failure(file_, access_, e).message()};
  }
}

JournalMove JournalFile::Change(int64_t id, JournalState to, const std::string& update) const {
  if (access_ == Access::kReadOnly) {
    return {JournalMove::kFailed, kRequested, ReadOnlyRefused(file_).message()};
  }
  try {
    CppSQLite3DB db = OpenJournal(file_, access_, busy_timeout_ms_);
    if (db.ExecuteChange(update) == 1) return {JournalMove::kMoved, to, ""};
    CppSQLite3Query found = db.ExecuteQuery(CppSQLite3Format(kSelectState, Ll(id)));
    if (found.Eof()) return {JournalMove::kNoEntry, kRequested, "no entry " + std::to_string(id)};
    const std::optional<JournalState> state = JournalStateFromName(found.FieldText(0));
    const std::string name = found.FieldText(0);
    return {JournalMove::kRefused, state.value_or(kRequested),
            "entry " + std::to_string(id) + " is " + name + ": it cannot become " +
                std::string(JournalStateName(to))};
  } catch (const CppSQLite3Exception& e) {
    return {JournalMove::kFailed, kRequested, Failure(file_, access_, e).message()};
  }
}

platform::Status JournalFile::Collect(const JournalIdentity& repeat, int64_t now_ms,
                                      int64_t window_ms, JournalCollection* out) const {
  *out = JournalCollection{};
  if (access_ == Access::kReadOnly) return ReadOnlyRefused(file_);
  const JournalIdentity kept = KeptIdentity(repeat);
  try {
    CppSQLite3DB db = OpenJournal(file_, access_, busy_timeout_ms_);
    // The write lock is taken before the entry is looked for: a second repeat waits for it and
    // then finds the entry collected.
    db.ExecuteChange(kBeginImmediate);
    const std::string same = SameRequest(kept);
    const long long since = Ll(now_ms - window_ms);
    int64_t id = 0;
    std::string answer;
    {
      CppSQLite3Query row =
          db.ExecuteQuery(CppSQLite3Format(kSelectKept, same.c_str(), since, Ll(now_ms)));
      if (!row.Eof()) {
        id = row.FieldInt(0);
        answer = row.FieldText(1);
      }
    }
    JournalCollection found;
    if (id != 0) {
      if (db.ExecuteChange(CppSQLite3Format(kCollectEntry, Ll(now_ms), Ll(id))) == 1) {
        found.collected_id = id;
        found.answer = std::move(answer);
      }
    } else {
      for (CppSQLite3Query row = db.ExecuteQuery(
               CppSQLite3Format(kSelectUnresolved, same.c_str(), since, Ll(now_ms)));
           !row.Eof(); row.NextRow()) {
        found.unresolved_ids.push_back(row.FieldInt(0));
      }
      for (int64_t unresolved : found.unresolved_ids) {
        db.ExecuteChange(CppSQLite3Format(kMarkRepeated, Ll(now_ms), Ll(unresolved)));
      }
    }
    db.ExecuteChange(kCommit);  // closing without it rolls the transaction back
    *out = std::move(found);
    return platform::Status();
  } catch (const CppSQLite3Exception& e) {
    return Failure(file_, access_, e);
  }
}

platform::Status JournalFile::List(bool all, std::vector<JournalEntry>* out) const {
  return Select(all ? "" : kWhereOpen, out);
}

platform::Status JournalFile::Get(int64_t id, std::optional<JournalEntry>* out) const {
  out->reset();
  std::vector<JournalEntry> entries;
  const platform::Status status = Select(CppSQLite3Format(kWhereId, Ll(id)), &entries);
  if (status.ok() && !entries.empty()) *out = std::move(entries.front());
  return status;
}

platform::Status JournalFile::Select(const std::string& where,
                                     std::vector<JournalEntry>* out) const {
  out->clear();
  if (access_ == Access::kReadOnly && !FileExists(file_)) return platform::Status();
  try {
    CppSQLite3DB db = OpenJournal(file_, access_, busy_timeout_ms_);
    if (!db.TableExists("PAYMENT_JOURNAL")) return platform::Status();
    std::vector<JournalEntry> entries;
    const std::string sql = std::string(kSelectEntries) + where + kNewestFirst;
    for (CppSQLite3Query row = db.ExecuteQuery(sql); !row.Eof(); row.NextRow()) {
      entries.push_back(ReadEntry(row));
    }
    *out = std::move(entries);
    return platform::Status();
  } catch (const CppSQLite3Exception& e) {
    return Failure(file_, access_, e);
  }
}

std::string JournalEntryJson(const JournalEntry& entry) {
  const JournalIdentity& request = entry.request;
  std::string json = "{\"id\": " + std::to_string(entry.id);
  auto text = [&](const char* name, std::string_view value) {
    json += std::string(", \"") + name + "\": " +
            platform::JsonString(platform::Cp949ForDisplay(value));
  };
  auto time = [&](const char* name, int64_t ms) {
    json += std::string(", \"") + name + "\": " +
            (ms == 0 ? std::string("null") : platform::JsonString(JournalTimeText(ms)));
  };
  text("state", JournalStateName(entry.state));
  json += std::string(", \"open\": ") + (IsOpenJournalState(entry.state) ? "true" : "false");
  text("terminal_id", request.terminal_id);
  json += ", \"request_code\": " + std::to_string(request.request_code);
  text("amount1", request.amount1);
  text("amount2", request.amount2);
  text("amount3", request.amount3);
  json += ", \"total\": " + std::to_string(request.total);
  text("card", request.card);
  text("original_date", request.original_date);
  text("original_approval", request.original_approval);
  text("approval_number", entry.approval_number);
  text("response_code", entry.response_code);
  text("answer", entry.answer);
  time("requested_at", entry.requested_ms);
  time("sent_at", entry.sent_ms);
  time("decided_at", entry.decided_ms);
  time("printed_at", entry.printed_ms);
  time("answered_at", entry.answered_ms);
  time("collected_at", entry.collected_ms);
  time("settled_at", entry.settled_ms);
  time("repeated_at", entry.repeated_ms);
  return json + "}";
}

}  // namespace stores
