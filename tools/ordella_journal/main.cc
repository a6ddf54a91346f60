// ordella_journal: the staff's view of the payment journal, the record of every card and cash
// transaction the hub took from a POS client (stores/payment_journal_file.h). Usage, states and
// exit codes: README.md beside this file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "platform/program_options.h"
#include "platform/text.h"
#include "stores/payment_journal_file.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitJournalFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoEntry = 3;
constexpr int kExitRefused = 4;

// The command waits this long for a write lock the hub holds (its writes are short).
constexpr int kBusyTimeoutMs = 10000;

constexpr char kUsage[] =
    "usage: ordella_journal [--file PATH] list [--all] [--json]\n"
    "       ordella_journal [--file PATH] show ID [--json]\n"
    "       ordella_journal [--file PATH] settle ID\n"
    "       ordella_journal --help | --version\n"
    "\n"
    "  list      the entries, newest first: only the open ones (approved or printed and never\n"
    "            answered, or sent with no outcome heard), or --all of them\n"
    "  show ID   one entry with the time of each step and its kept answer\n"
    "  settle ID marks an entry settled (checked with the card network, cancelled or paid\n"
    "            otherwise); refused for entries answered, collected or settled\n"
    "  --file    the journal file (default: c:\\tavenor\\PaymentJournal.db under $ORDELLA_PREFIX)\n"
    "  --json    machine-readable output\n"
    "\n"
    "exit codes: 0 done, 1 the journal cannot be read or written, 2 wrong command line,\n"
    "            3 no entry of that id, 4 the entry cannot be settled\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Utf8(std::string_view cp949) { return platform::Cp949ForDisplay(cp949); }

// A frame made readable: its control bytes named.
std::string ReadableFrame(std::string_view frame) {
  std::string shown;
  std::string text;
  auto flush = [&] {
    shown += Utf8(text);
    text.clear();
  };
  for (const char c : frame) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20) {
      text += c;
      continue;
    }
    flush();
    switch (byte) {
      case 0x02:
        shown += "<STX>";
        break;
      case 0x03:
        shown += "<ETX>";
        break;
      case 0x1C:
        shown += "<FS>";
        break;
      default:
        shown += "\\x" + platform::ToHex(std::string_view(&c, 1));
        break;
    }
  }
  flush();
  return shown;
}

void PrintEntry(const stores::JournalEntry& entry) {
  const stores::JournalIdentity& request = entry.request;
  auto line = [](const char* name, const std::string& value) {
    if (!value.empty())
      Print(std::string(name) + std::string(11 - std::string_view(name).size(), ' ') + value);
  };
  Print("entry " + std::to_string(entry.id));
  line("state", std::string(stores::JournalStateName(entry.state)) +
                    (stores::IsOpenJournalState(entry.state) ? " (open)" : ""));
  line("terminal", Utf8(request.terminal_id));
  line("request", std::to_string(request.request_code));
  line("amounts",
       Utf8(request.amount1) + " / " + Utf8(request.amount2) + " / " + Utf8(request.amount3));
  line("total", std::to_string(request.total));
  line("card", Utf8(request.card));
  line("cancels", request.original_date.empty() && request.original_approval.empty()
                      ? ""
                      : Utf8(request.original_date) + " / " + Utf8(request.original_approval));
  line("approval", Utf8(entry.approval_number));
  line("response", Utf8(entry.response_code));
  line("requested", stores::JournalTimeText(entry.requested_ms));
  line("sent", stores::JournalTimeText(entry.sent_ms));
  line("decided", stores::JournalTimeText(entry.decided_ms));
  line("printed", stores::JournalTimeText(entry.printed_ms));
  line("answered", stores::JournalTimeText(entry.answered_ms));
  line("collected", stores::JournalTimeText(entry.collected_ms));
  line("settled", stores::JournalTimeText(entry.settled_ms));
  line("repeated", stores::JournalTimeText(entry.repeated_ms));
  line("answer", ReadableFrame(entry.answer));
}

int JournalFailed(const platform::Status& status) {
  std::fprintf(stderr, "ordella_journal: %s\n", status.message().c_str());
  return kExitJournalFailed;
}

std::optional<int64_t> EntryId(const std::string& text) {
  char* end = nullptr;
  const long long id = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || id < 1) return std::nullopt;
  return id;
}

int List(const stores::JournalFile& journal, bool all, bool json) {
  std::vector<stores::JournalEntry> entries;
  const platform::Status status = journal.List(all, &entries);
  if (!status.ok()) return JournalFailed(status);
  if (json) {
    std::string text = "[";
    for (const stores::JournalEntry& entry : entries) {
      text += (text.size() > 1 ? ",\n " : "") + stores::JournalEntryJson(entry);
    }
    Print(text + "]");
    return kExitDone;
  }
  if (entries.empty()) Print(all ? "(no entries)" : "(no open entries)");
  for (const stores::JournalEntry& entry : entries) {
    Print(Utf8(stores::DescribeJournalEntry(entry)));
  }
  return kExitDone;
}

int NoEntry(int64_t id, const stores::JournalFile& journal) {
  std::fprintf(stderr, "ordella_journal: no entry %lld in %s\n", static_cast<long long>(id),
               journal.path().c_str());
  return kExitNoEntry;
}

int Show(const stores::JournalFile& journal, int64_t id, bool json) {
  std::optional<stores::JournalEntry> entry;
  const platform::Status status = journal.Get(id, &entry);
  if (!status.ok()) return JournalFailed(status);
  if (!entry) return NoEntry(id, journal);
  if (json) {
    Print(stores::JournalEntryJson(*entry));
  } else {
    PrintEntry(*entry);
  }
  return kExitDone;
}

// Why an entry in `state` cannot be settled.
std::string RefusalReason(stores::JournalState state) {
  switch (state) {
    case stores::JournalState::kAnswered:
      return "it is answered: the POS client received its answer";
    case stores::JournalState::kCollected:
      return "it is collected: a repeated request of the POS client was answered from it";
    case stores::JournalState::kSettled:
      return "it is settled already";
    default:
      return "it is " + std::string(stores::JournalStateName(state));
  }
}

int Settle(const std::filesystem::path& file, int64_t id) {
  const stores::JournalFile journal(file, stores::JournalFile::Access::kReadWrite, kBusyTimeoutMs);
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return NoEntry(id, journal);  // nothing is created
  const int64_t now_ms = platform::SystemClock().WallTimeMs();
  const stores::JournalMove move = journal.Settle(id, now_ms);
  switch (move.outcome) {
    case stores::JournalMove::kMoved:
      Print("entry " + std::to_string(id) + " settled at " + stores::JournalTimeText(now_ms));
      return kExitDone;
    case stores::JournalMove::kNoEntry:
      return NoEntry(id, journal);
    case stores::JournalMove::kRefused:
      std::fprintf(stderr, "ordella_journal: entry %lld not settled: %s\n",
                   static_cast<long long>(id), RefusalReason(move.state).c_str());
      return kExitRefused;
    case stores::JournalMove::kFailed:
      break;
  }
  return JournalFailed(platform::Status(platform::StatusCode::kIoError, move.message));
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::filesystem::path> file;
  std::vector<std::string> words;
  bool all = false;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (const std::optional<int> done = platform::AnswerHelpOrVersion(arg, "ordella_journal", kUsage)) {
      return *done;
    }
    if (arg == "--file" && i + 1 < argc) {
      file = argv[++i];
    } else if (arg == "--all") {
      all = true;
    } else if (arg == "--json") {
      json = true;
    } else if (arg.starts_with("--")) {
      return Usage();
    } else {
      words.emplace_back(arg);
    }
  }
  if (words.empty()) return Usage();
  if (!file) file = stores::JournalFile::PrefixFile();
  if (!file) {
    std::fprintf(stderr, "ordella_journal: %s cannot be mapped under the prefix\n",
                 stores::kPaymentJournalPath);
    return kExitJournalFailed;
  }
  const std::string& command = words[0];
  if (command == "list" && words.size() == 1) {
    return List(stores::JournalFile(*file, stores::JournalFile::Access::kReadOnly, kBusyTimeoutMs),
                all, json);
  }
  if (all || words.size() != 2) return Usage();
  const std::optional<int64_t> id = EntryId(words[1]);
  if (!id) return Usage();
  if (command == "show") {
    return Show(stores::JournalFile(*file, stores::JournalFile::Access::kReadOnly, kBusyTimeoutMs),
                *id, json);
  }
  if (command == "settle" && !json) return Settle(*file, *id);
  return Usage();
}
