// The status command run as a program against a prefix the test lays out: a live status board,
// Helvar's window, kept work, a journal, the pharmacy files and today's logs. Whatever it
// reports, it must leave the prefix exactly as it found it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_mapping.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"
#include "platform/window.h"
#include "protocol/helvar_request.h"
#include "protocol/status_board.h"
#include "stores/cpp_sqlite3.h"
#include "stores/local_stores.h"
#include "stores/payment_journal_file.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

using platform::testing::CommandRun;

CommandRun Status(const std::vector<std::string>& args) {
  return platform::testing::RunCommand("ordella-status", args);
}

// Every file and folder under the prefix with its size and time of change.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> Snapshot(const fs::path& root) {
  std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const uintmax_t size = entry.is_regular_file() ? entry.file_size() : 0;
    files[entry.path().string()] = {size, entry.last_write_time()};
  }
  return files;
}

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

fs::path Local(const std::string& windows_path) { return platform::MapPath(windows_path).value(); }

class OrdellaStatusTest : public ::testing::Test {
 protected:
  platform::testing::TempPrefix prefix_;
};

TEST_F(OrdellaStatusTest, AnEmptyCounterNeedsAttentionAndStaysEmpty) {
  const auto before = Snapshot(prefix_.path());
  const CommandRun run = Status({});
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_THAT(run.output, HasSubstr("hub        not running\n"));
  EXPECT_THAT(run.output, HasSubstr("helvar     not running\n"));
  EXPECT_THAT(run.output, HasSubstr("kept       0 request(s) for retry, 0 frame(s)"));
  EXPECT_THAT(run.output, HasSubstr("database   sqlite c:\\tavenor\\pmdb: PM_DRUG.db is missing: "
                                    "does not answer\n"));
  EXPECT_THAT(run.output, HasSubstr("journal    0 open\n"));
  EXPECT_THAT(run.output, HasSubstr("  the hub is not running\n"));
  EXPECT_EQ(Snapshot(prefix_.path()), before);
}

TEST_F(OrdellaStatusTest, ALiveCounterIsReportedWholeWithoutTouchingIt) {
  // The hub's board, as a running module keeps it: terminal 0 on COM1 saw 841 then 843, and a
  // payment waits at the terminal for a POS client.
  const int64_t now = platform::SystemClock().WallTimeMs();
  std::unique_ptr<platform::FileMapping> board = platform::FileMapping::CreateOrOpen(
      protocol::kStatusBoardName, protocol::kStatusBoardSize);
  ASSERT_NE(board, nullptr);
  protocol::StartBoard(board->data(), getpid(), now);
  protocol::WriteBoardLink(board->data(), 0, protocol::kBoardLinkSerial, "COM1");
  protocol::NoteBoardFrame(board->data(), 0, 841, now);
  protocol::NoteBoardFrame(board->data(), 0, 843, now);
  protocol::WriteBoardHeartbeat(board->data(), now, {2, 61, 1, 42});

  std::unique_ptr<platform::WindowEndpoint> helvar = platform::WindowEndpoint::Create(
      protocol::kHelvarWindowTitle, "", [](const platform::WindowMessage&) { return 0; });
  ASSERT_NE(helvar, nullptr);

  ASSERT_EQ(stores::StoreRequest(812, "sale", ""), 1);
  ASSERT_EQ(stores::StoreUndeliveredFrame("frame one"), 1);
  ASSERT_EQ(stores::StoreUndeliveredFrame("frame two"), 1);

  const stores::JournalFile journal(stores::JournalFile::PrefixFile().value(),
                                    stores::JournalFile::Access::kReadWrite, 5000);
  stores::JournalIdentity request;
  request.terminal_id = "1047312";
  request.request_code = 61;
  request.amount1 = "9000";
  request.amount2 = "1000";
  request.amount3 = "1000";
  request.total = 11000;
  request.card = "9410123456781234";  // masked by the journal itself
  int64_t id = 0;
  ASSERT_TRUE(journal.Begin(request, now, &id).ok());
  ASSERT_TRUE(journal.MarkDecided(id, true, "30012345", "0000", "answer", now).moved());

  fs::create_directories(Local("c:\\tavenor\\pmdb"));
  for (const char* name : {"PM_DRUG.db", "PM_BASE.db", "PM_PRES.db"}) {
    CppSQLite3DB db;
    db.OpenFile((Local("c:\\tavenor\\pmdb") / name).string());
    db.ExecuteChange("create table T (A)");
  }

  ASSERT_EQ(platform::RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"),
            platform::RegStatus::kOk);
  const std::string today = platform::SystemClock().LocalDate();
  WriteFile(Local("c:\\tavenor\\Log\\" + today + ".log"),
            "[2030-01-01 09:00:00.000][10][TerminalFrame] 841 sent\n"
            "[2030-01-01 09:00:01.000][10][ServerRelay] gateway server refused the frame\n");
  WriteFile(Local("c:\\tavenor\\log\\RetaloLog " + today + ".txt"),
            "SaveSaleData(...)\r\n" + platform::Utf8ToCp949("DB연결실패").value() +
                "\r\n------------------\r\n");

  const auto before = Snapshot(prefix_.path());
  const CommandRun text = Status({});
  EXPECT_EQ(text.exit_code, 1) << text.output;  // kept work and an open payment
  for (const std::string& line : std::vector<std::string>{
           "hub        running (pid " + std::to_string(getpid()),
           "terminal 0 serial COM1, 2 frame(s), last 843 at ",
           "relay slot sent, waiting for the terminal, request 61, a POS client waits (as of ",
           "helvar     running\n",
           "kept       1 request(s) for retry, 2 frame(s) for the gateway server\n",
           "database   sqlite c:\\tavenor\\pmdb: answers\n", "journal    1 open\n",
           "approval 30012345", "card 941012******1234",
           "log: [2030-01-01 09:00:01.000][10][ServerRelay] gateway server refused the frame\n",
           "database writer: DB연결실패\n", "  1 payment(s) in the journal are open",
           "  2 frame(s) wait to be sent to the gateway server\n"}) {
    EXPECT_THAT(text.output, HasSubstr(line));
  }
  EXPECT_THAT(text.output, Not(HasSubstr("841 sent")));
  EXPECT_THAT(text.output, Not(HasSubstr("9410123456781234")));

  const CommandRun json = Status({"--json"});
  EXPECT_EQ(json.exit_code, 1) << json.output;
  EXPECT_THAT(json.output, HasSubstr("{\"hub\": {\"state\": \"running\", \"pid\": "));
  EXPECT_THAT(json.output, HasSubstr("\"relay_slot\": {\"send_state\": 2, "
                                     "\"pending_request_code\": 61, \"client_waiting\": true, "
                                     "\"last_terminal_code\": 42}"));
  EXPECT_THAT(json.output, HasSubstr("\"terminals\": [{\"index\": 0, \"link\": \"serial\", "
                                     "\"port\": \"COM1\", \"frames\": 2, \"last_code\": 843"));
  EXPECT_THAT(json.output, HasSubstr("\"kept\": {\"requests\": 1, \"frames\": 2}"));
  EXPECT_THAT(json.output, HasSubstr("\"journal\": {\"open\": 1, \"last\": [{\"id\": 1, "
                                     "\"state\": \"approved\""));
  EXPECT_THAT(json.output, HasSubstr("\"database\": {\"backend\": \"sqlite\", \"answers\": true"));
  EXPECT_EQ(Snapshot(prefix_.path()), before);

  // The module stopped: the board says so, and so does the command.
  protocol::StopBoard(board->data());
  EXPECT_THAT(Status({}).output, HasSubstr("hub        stopped (pid "));
}

TEST_F(OrdellaStatusTest, CommandLine) {
  const CommandRun help = Status({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_THAT(help.output, HasSubstr("usage: ordella-status [--json]"));
  const CommandRun version = Status({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_THAT(version.output, ::testing::StartsWith("ordella-status "));
  EXPECT_EQ(Status({"--jsn"}).exit_code, 2);
}

}  // namespace
