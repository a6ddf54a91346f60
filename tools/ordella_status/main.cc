// ordella-status: whether the counter is healthy, at a glance. It reads what the hub, Helvar and
// the stores leave where others can see it, and writes nothing anywhere: the hub's status board
// is mapped read-only, the SQLite files are opened read-only, and the logs are only read. Usage,
// fields and exit codes: README.md beside this file.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "platform/program_options.h"
#include "platform/file_mapping.h"
#include "platform/prefix.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window.h"
#include "protocol/helvar_request.h"
#include "protocol/status_board.h"
#include "retalo/db/server_choice.h"
#include "retalo/db/sql_backend.h"
#include "stores/cpp_sqlite3.h"
#include "stores/local_stores.h"
#include "stores/payment_journal_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitHealthy = 0;
constexpr int kExitAttention = 1;
constexpr int kExitUsage = 2;

// The main thread writes the heartbeat once a second; five missed ones mean it is stuck.
constexpr int64_t kHeartbeatStaleMs = 5000;
constexpr size_t kJournalEntriesShown = 5;
constexpr size_t kLogFailuresShown = 5;
constexpr int kBusyTimeoutMs = 1000;

constexpr char kUsage[] =
    "usage: ordella-status [--json]\n"
    "       ordella-status --help | --version\n"
    "\n"
    "  the hub and its terminals, the relay slot, Helvar, what waits for a retry or a resend,\n"
    "  the payment journal's last transactions, the pharmacy database and the last failures\n"
    "  in today's logs, read from $ORDELLA_PREFIX without writing anything\n"
    "  --json   machine-readable output\n"
    "\n"
    "exit codes: 0 healthy, 1 something needs attention (listed under \"attention\"),\n"
    "            2 wrong command line\n";

std::string TimeText(int64_t ms) { return ms == 0 ? "" : stores::JournalTimeText(ms); }

// ---- What is gathered ----

struct HubStatus {
  std::string state;  // "running", "not answering", "stopped", "not running"
  std::optional<protocol::BoardSnapshot> board;
};

struct DatabaseStatus {
  std::string backend;  // "sqlite", "odbc", "unknown"
  bool answers = false;
  std::string detail;  // the folder or server; why it does not answer
};

struct Report {
  HubStatus hub;
  bool helvar_running = false;
  std::optional<stores::KeptWorkCounts> kept;
  bool journal_read = false;
  std::vector<stores::JournalEntry> journal;  // newest first, at most kJournalEntriesShown
  size_t journal_open = 0;
  DatabaseStatus database;
  std::vector<std::string> failures;  // oldest first
  std::vector<std::string> attention;
};

HubStatus ReadHub(int64_t now_ms) {
  HubStatus hub;
  const std::unique_ptr<platform::FileMapping> mapping =
      platform::FileMapping::ReadExisting(protocol::kStatusBoardName);
  if (mapping) hub.board = protocol::ReadBoard(mapping->data(), mapping->size());
  if (!hub.board || !platform::ProcessAlive(hub.board->pid)) {
    hub.state = "not running";
  } else if (!hub.board->running) {
    hub.state = "stopped";
  } else if (now_ms - hub.board->heartbeat_ms > kHeartbeatStaleMs) {
    hub.state = "not answering";
  } else {
    hub.state = "running";
  }
  return hub;
}

// Each of the three files opened read-only and its schema read.
DatabaseStatus ProbeSqlite(const retalo::BackendSettings& settings) {
  DatabaseStatus status{"sqlite", false, settings.sqlite_dir};
  const std::optional<fs::path> dir = platform::MapPath(settings.sqlite_dir);
  if (!dir) {
    status.detail += ": the folder cannot be mapped";
    return status;
  }
  for (const char* name : {"PM_DRUG.db", "PM_BASE.db", "PM_PRES.db"}) {
    const fs::path file = *dir / name;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
      status.detail += std::string(": ") + name + " is missing";
      return status;
    }
    try {
      CppSQLite3DB db;
      db.OpenFileReadOnly(file.string());
      CppSQLite3Query rows = db.ExecuteQuery("select count(*) from sqlite_master");
      (void)rows;
    } catch (const CppSQLite3Exception& failure) {
      status.detail += std::string(": ") + name + ": " + failure.errorMessage();
      return status;
    }
  }
  status.answers = true;
  return status;
}

// A connection as the database writer makes it, and one query that changes nothing.
DatabaseStatus ProbeOdbc(const retalo::BackendSettings& settings) {
  const std::string server = retalo::ChooseServer(retalo::SystemServerLookup());
  DatabaseStatus status{"odbc", false, server + " (" + settings.odbc_driver + ")"};
  const std::string connection = retalo::OdbcConnectionString(settings.odbc_driver, server);
  std::unique_ptr<retalo::SqlBackend> backend = retalo::MakeBackend(retalo::BackendKind::kOdbc);
  std::string error;
  retalo::SqlOutcome outcome;
  if (connection.empty()) {
    status.detail += ": the server's name cannot be used in a connection string";
  } else if (!backend || !backend->Open({connection, {}}, &error) ||
             !backend->Execute("SELECT 1", &outcome, &error)) {
    status.detail += ": " + platform::Cp949ForDisplay(error);
  } else {
    status.answers = true;
  }
  if (backend) backend->Close();
  return status;
}

DatabaseStatus ProbeDatabase() {
  const retalo::BackendSettings settings = retalo::ReadBackendSettings();
  switch (settings.kind) {
    case retalo::BackendKind::kSqlite:
      return ProbeSqlite(settings);
    case retalo::BackendKind::kOdbc:
      return ProbeOdbc(settings);
    case retalo::BackendKind::kUnknown:
      break;
  }
  return {"unknown", false, "the registry value DbBackend names no backend"};
}

// What marks a record of the hub's and Helvar's log as a failure: those logs also record
// ordinary traffic, and their failure records all say so in one of these words.
bool IsFailureRecord(std::string_view line) {
  std::string lower(line);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view word : {"fail", "error", "refused", "dropped", "did not", "cannot",
                                "could not", "not loaded", "not served", "not sent", "timed out",
                                "lost"}) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> ReadLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Today's failures: the failure records of the daily log the hub and Helvar write
// (<path>\Log\YYYYMMDD.log) and every line of the database writer's, which holds failures only
// (<path>\log\RetaloLog YYYYMMDD.txt), the last kLogFailuresShown of each.
std::vector<std::string> ReadFailures(const std::string& today) {
  platform::RegValue path;
  if (platform::RegGetValue("Software\\Tavenor\\Update", "path", &path) !=
          platform::RegStatus::kOk ||
      path.text.empty()) {
    return {};
  }
  std::string dir = path.text;
  if (dir.back() != '\\') dir += '\\';
  std::vector<std::string> failures;
  auto keep_last = [&failures](const std::vector<std::string>& found, const char* source) {
    const size_t first = found.size() > kLogFailuresShown ? found.size() - kLogFailuresShown : 0;
    for (size_t i = first; i < found.size(); ++i) {
      failures.push_back(std::string(source) + ": " + platform::Cp949ForDisplay(found[i]));
    }
  };
  std::vector<std::string> found;
  if (std::optional<fs::path> file = platform::MapPath(dir + "Log\\" + today + ".log")) {
    for (const std::string& line : ReadLines(*file)) {
      if (IsFailureRecord(line)) found.push_back(line);
    }
  }
  keep_last(found, "log");
  found.clear();
  if (std::optional<fs::path> file = platform::MapPath(dir + "log\\RetaloLog " + today + ".txt")) {
    for (const std::string& line : ReadLines(*file)) {
      if (!line.empty() && line.find_first_not_of('-') != std::string::npos) found.push_back(line);
    }
  }
  keep_last(found, "database writer");
  return failures;
}

Report Gather() {
  platform::Clock& clock = platform::SystemClock();
  const int64_t now_ms = clock.WallTimeMs();
  Report report;
  report.hub = ReadHub(now_ms);
  if (report.hub.state != "running") report.attention.push_back("the hub is " + report.hub.state);

  report.helvar_running = platform::FindWindowByTitle(protocol::kHelvarWindowTitle).has_value();
  if (!report.helvar_running) report.attention.push_back("Helvar is not running");

  report.kept = stores::CountKeptWork();
  if (!report.kept) {
    report.attention.push_back("the temporary store cannot be read");
  } else {
    if (report.kept->requests > 0)
      report.attention.push_back(std::to_string(report.kept->requests) +
                                 " request(s) wait for a retry in the pharmacy database");
    if (report.kept->frames > 0)
      report.attention.push_back(std::to_string(report.kept->frames) +
                                 " frame(s) wait to be sent to the gateway server");
  }

  if (const std::optional<fs::path> file = stores::JournalFile::PrefixFile()) {
    const stores::JournalFile journal(*file, stores::JournalFile::Access::kReadOnly,
                                      kBusyTimeoutMs);
    std::vector<stores::JournalEntry> all;
    std::vector<stores::JournalEntry> open;
    report.journal_read = journal.List(true, &all).ok() && journal.List(false, &open).ok();
    if (all.size() > kJournalEntriesShown) all.resize(kJournalEntriesShown);
    report.journal = std::move(all);
    report.journal_open = open.size();
  }
  if (!report.journal_read) {
    report.attention.push_back("the payment journal cannot be read");
  } else if (report.journal_open > 0) {
    report.attention.push_back(std::to_string(report.journal_open) +
                               " payment(s) in the journal are open: see ordella_journal list");
  }

  report.database = ProbeDatabase();
  if (!report.database.answers) report.attention.push_back("the pharmacy database does not answer");

  report.failures = ReadFailures(clock.LocalDate());
  return report;
}

// ---- How it is shown ----

std::string LinkName(int32_t link) {
  switch (link) {
    case protocol::kBoardLinkSerial:
      return "serial";
    case protocol::kBoardLinkTcp:
      return "TCP";
    default:
      return "not started";
  }
}

std::string SendStateName(int32_t state) {
  if (state == 0) return "idle";
  if (state == 1) return "waiting to be sent to the terminal";
  return "sent, waiting for the terminal";
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintText(const Report& report) {
  Print("hub        " + report.hub.state +
        (report.hub.board ? " (pid " + std::to_string(report.hub.board->pid) + ", started " +
                                TimeText(report.hub.board->started_ms) + ")"
                          : ""));
  if (report.hub.board) {
    const protocol::BoardSnapshot& board = *report.hub.board;
    for (size_t t = 0; t < board.terminals.size(); ++t) {
      const protocol::BoardTerminal& terminal = board.terminals[t];
      if (terminal.link == protocol::kBoardLinkNone) continue;
      std::string line = "terminal " + std::to_string(t) + " " + LinkName(terminal.link) + " " +
                         terminal.port + ", " + std::to_string(terminal.frames) + " frame(s)";
      if (terminal.frames > 0)
        line += ", last " + std::to_string(terminal.last_code) + " at " +
                TimeText(terminal.last_frame_ms);
      Print(line);
    }
    const protocol::BoardRelay& relay = board.relay;
    // An idle slot may still hold the code of the request it served last: not shown.
    const bool busy = relay.send_state != 0 || relay.client_waiting != 0;
    Print("relay slot " + SendStateName(relay.send_state) +
          (busy && relay.pending_request_code != 0
               ? ", request " + std::to_string(relay.pending_request_code)
               : "") +
          (relay.client_waiting != 0 ? ", a POS client waits" : "") +
          // The main thread copies the slot's state with its heartbeat, about once a second.
          " (as of " + TimeText(board.heartbeat_ms) + ")");
  }
  Print(std::string("helvar     ") + (report.helvar_running ? "running" : "not running"));
  if (report.kept) {
    Print("kept       " + std::to_string(report.kept->requests) + " request(s) for retry, " +
          std::to_string(report.kept->frames) + " frame(s) for the gateway server");
  } else {
    Print("kept       the temporary store cannot be read");
  }
  Print("database   " + report.database.backend + " " + report.database.detail + ": " +
        (report.database.answers ? "answers" : "does not answer"));
  if (!report.journal_read) {
    Print("journal    cannot be read");
  } else {
    Print("journal    " + std::to_string(report.journal_open) + " open");
    for (const stores::JournalEntry& entry : report.journal) {
      Print("  " + platform::Cp949ForDisplay(stores::DescribeJournalEntry(entry)));
    }
  }
  Print("failures   " + std::to_string(report.failures.size()) + " today");
  for (const std::string& failure : report.failures) Print("  " + failure);
  Print("attention  " + std::string(report.attention.empty() ? "none" : ""));
  for (const std::string& item : report.attention) Print("  " + item);
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string json = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    json += (i == 0 ? "" : ", ") + platform::JsonString(items[i]);
  }
  return json + "]";
}

void PrintJson(const Report& report) {
  using platform::JsonString;
  std::string json = "{\"hub\": {\"state\": " + JsonString(report.hub.state);
  if (const std::optional<protocol::BoardSnapshot>& board = report.hub.board) {
    json += ", \"pid\": " + std::to_string(board->pid) +
            ", \"started_at\": " + JsonString(TimeText(board->started_ms)) +
            ", \"heartbeat_at\": " + JsonString(TimeText(board->heartbeat_ms));
    json += ", \"relay_slot\": {\"send_state\": " + std::to_string(board->relay.send_state) +
            ", \"pending_request_code\": " + std::to_string(board->relay.pending_request_code) +
            ", \"client_waiting\": " + (board->relay.client_waiting != 0 ? "true" : "false") +
            ", \"last_terminal_code\": " + std::to_string(board->relay.last_terminal_code) + "}";
    json += ", \"terminals\": [";
    bool first = true;
    for (size_t t = 0; t < board->terminals.size(); ++t) {
      const protocol::BoardTerminal& terminal = board->terminals[t];
      if (terminal.link == protocol::kBoardLinkNone) continue;
      json += std::string(first ? "" : ", ") + "{\"index\": " + std::to_string(t) +
              ", \"link\": " + JsonString(LinkName(terminal.link)) +
              ", \"port\": " + JsonString(terminal.port) +
              ", \"frames\": " + std::to_string(terminal.frames) +
              ", \"last_code\": " + std::to_string(terminal.last_code) +
              ", \"last_frame_at\": " +
              (terminal.last_frame_ms == 0 ? std::string("null")
                                           : JsonString(TimeText(terminal.last_frame_ms))) +
              "}";
      first = false;
    }
    json += "]";
  }
  json += "}, \"helvar\": {\"running\": " + std::string(report.helvar_running ? "true" : "false");
  json += "}, \"kept\": ";
  json += report.kept ? "{\"requests\": " + std::to_string(report.kept->requests) +
                            ", \"frames\": " + std::to_string(report.kept->frames) + "}"
                      : std::string("null");
  json += ", \"journal\": ";
  if (report.journal_read) {
    json += "{\"open\": " + std::to_string(report.journal_open) + ", \"last\": [";
    for (size_t i = 0; i < report.journal.size(); ++i) {
      json += (i == 0 ? "" : ", ") + stores::JournalEntryJson(report.journal[i]);
    }
    json += "]}";
  } else {
    json += "null";
  }
  json += ", \"database\": {\"backend\": " + JsonString(report.database.backend) +
          ", \"answers\": " + (report.database.answers ? "true" : "false") +
          ", \"detail\": " + JsonString(report.database.detail) + "}";
  json += ", \"failures\": " + JsonList(report.failures);
  json += ", \"attention\": " + JsonList(report.attention) + "}";
  Print(json);
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (const std::optional<int> done = platform::AnswerHelpOrVersion(arg, "ordella-status", kUsage)) {
      return *done;
    }
    if (arg != "--json") {
      std::fputs(kUsage, stderr);
      return kExitUsage;
    }
    json = true;
  }
  const Report report = Gather();
  if (json) {
    PrintJson(report);
  } else {
    PrintText(report);
  }
  return report.attention.empty() ? kExitHealthy : kExitAttention;
}
