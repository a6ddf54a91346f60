// The staff's command run as a program against a real journal file of the test's prefix.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"
#include "stores/payment_journal_file.h"

namespace {

namespace fs = std::filesystem;
using stores::JournalFile;
using stores::JournalState;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int64_t kAt = 1893456000000;  // 2030-01-01 00:00 UTC

using platform::testing::CommandRun;

CommandRun Journal(const std::vector<std::string>& args) {
  return platform::testing::RunCommand("ordella_journal", args);
}

class OrdellaJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 1 answered, 2 approved and never answered, 3 sent with no outcome, 4 declined.
    ASSERT_EQ(Begin("10000"), 1);
    ASSERT_TRUE(
        journal_.MarkDecided(1, true, "30011111", "0000", "\x02XX0010TRM052\x1C\x03", kAt).moved());
    ASSERT_TRUE(journal_.MarkAnswered(1, kAt).moved());
    ASSERT_EQ(Begin("20000"), 2);
    ASSERT_TRUE(journal_.MarkSent(2, kAt + 1000).moved());
    ASSERT_TRUE(journal_
                    .MarkDecided(2, true, "30022222", "0000",
                                 "\x02XX0020TRM052\x1C"
                                 "1047312\x1C"
                                 "0000\x03",
                                 kAt + 2000)
                    .moved());
    ASSERT_EQ(Begin("30000"), 3);
    ASSERT_TRUE(journal_.MarkSent(3, kAt + 3000).moved());
    ASSERT_EQ(Begin("40000"), 4);
    ASSERT_TRUE(journal_.MarkDecided(4, false, "", "8005", "declined", kAt + 4000).moved());
  }

  int64_t Begin(const std::string& amount1) {
    stores::JournalIdentity request;
    request.terminal_id = "1047312";
    request.request_code = 51;
    request.amount1 = amount1;
    request.amount2 = "0";
    request.amount3 = "0";
    request.total = std::stoll(amount1);
    request.card = "941012******1234";
    int64_t id = 0;
    EXPECT_TRUE(journal_.Begin(request, kAt, &id).ok());
    return id;
  }

  JournalState StateOf(int64_t id) {
    std::optional<stores::JournalEntry> entry;
    EXPECT_TRUE(journal_.Get(id, &entry).ok());
    return entry.value_or(stores::JournalEntry{}).state;
  }

  platform::testing::TempPrefix prefix_;
  JournalFile journal_{JournalFile::PrefixFile().value(), JournalFile::Access::kReadWrite, 5000};
};

TEST_F(OrdellaJournalTest, ListShowsTheOpenEntriesNewestFirstAndAllOnRequest) {
  const CommandRun open = Journal({"list"});
  EXPECT_EQ(open.exit_code, 0) << open.output;
  EXPECT_THAT(open.output, ::testing::MatchesRegex("3 sent [^\n]* amounts 30000/0/0 total 30000 "
                                                   "card 941012\\*\\*\\*\\*\\*\\*1234\n"
                                                   "2 approved [^\n]* approval 30022222 response "
                                                   "0000\n"));

  const CommandRun all = Journal({"list", "--all"});
  EXPECT_EQ(all.exit_code, 0) << all.output;
  EXPECT_THAT(all.output, ::testing::MatchesRegex("4 declined [^\n]*\n3 sent [^\n]*\n2 approved "
                                                  "[^\n]*\n1 answered [^\n]*\n"));

  const CommandRun json = Journal({"list", "--json"});
  EXPECT_EQ(json.exit_code, 0) << json.output;
  EXPECT_THAT(json.output, HasSubstr("[{\"id\": 3, \"state\": \"sent\", \"open\": true, "
                                     "\"terminal_id\": \"1047312\", \"request_code\": 51, "
                                     "\"amount1\": \"30000\""));
  EXPECT_THAT(json.output, HasSubstr("{\"id\": 2, \"state\": \"approved\", \"open\": true"));
  EXPECT_THAT(json.output, HasSubstr("\"answer\": \"\\u0002XX0020TRM052\\u001c1047312"));
  EXPECT_THAT(json.output, HasSubstr("\"printed_at\": null"));
  EXPECT_THAT(json.output, Not(HasSubstr("\"id\": 1,")));
}

TEST_F(OrdellaJournalTest, ShowGivesEveryStepAndTheKeptAnswer) {
  const CommandRun shown = Journal({"show", "2"});
  EXPECT_EQ(shown.exit_code, 0) << shown.output;
  for (const std::string& line : std::vector<std::string>{
           "entry 2\n", "state      approved (open)\n", "amounts    20000 / 0 / 0\n",
           "card       941012******1234\n", "approval   30022222\n",
           "sent       " + stores::JournalTimeText(kAt + 1000) + "\n",
           "decided    " + stores::JournalTimeText(kAt + 2000) + "\n",
           "answer     <STX>XX0020TRM052<FS>1047312<FS>0000<ETX>\n"}) {
    EXPECT_THAT(shown.output, HasSubstr(line));
  }
  EXPECT_THAT(shown.output, Not(HasSubstr("printed")));

  const CommandRun missing = Journal({"show", "9"});
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_THAT(missing.output, HasSubstr("no entry 9 in "));
}

TEST_F(OrdellaJournalTest, SettleMarksAnOpenEntryOnceAndRefusesWhatWasAnswered) {
  const CommandRun settled = Journal({"settle", "2"});
  EXPECT_EQ(settled.exit_code, 0) << settled.output;
  EXPECT_THAT(settled.output, HasSubstr("entry 2 settled at "));
  EXPECT_EQ(StateOf(2), JournalState::kSettled);
  EXPECT_THAT(Journal({"list"}).output, ::testing::MatchesRegex("3 sent [^\n]*\n"));

  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* says;
  };
  const Case cases[] = {
      {{"settle", "2"}, 4, "entry 2 not settled: it is settled already"},
      {{"settle", "1"},
       4,
       "entry 1 not settled: it is answered: the POS client received its answer"},
      {{"settle", "99"}, 3, "no entry 99 in "},
      {{"settle", "x"}, 2, "usage: "},
      {{"settle"}, 2, "usage: "},
      {{"settle", "3", "--json"}, 2, "usage: "},
      {{"forget", "3"}, 2, "usage: "},
  };
  for (const Case& c : cases) {
    const CommandRun run = Journal(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.args[0] << " " << run.output;
    EXPECT_THAT(run.output, HasSubstr(c.says));
  }
  EXPECT_EQ(StateOf(1), JournalState::kAnswered);
  EXPECT_EQ(StateOf(3), JournalState::kSent);
}

TEST(OrdellaJournalWithoutJournalTest, ReadsAMissingJournalAsEmptyAndCreatesNothing) {
  platform::testing::TempPrefix prefix;
  const fs::path file = JournalFile::PrefixFile().value();
  const CommandRun list = Journal({"list", "--all"});
  EXPECT_EQ(list.exit_code, 0) << list.output;
  EXPECT_EQ(list.output, "(no entries)\n");
  EXPECT_EQ(Journal({"list", "--json"}).output, "[]\n");
  EXPECT_EQ(Journal({"settle", "1"}).exit_code, 3);
  EXPECT_FALSE(fs::exists(file));

  const CommandRun other =
      Journal({"--file", (prefix.path() / "elsewhere.db").string(), "show", "1"});
  EXPECT_EQ(other.exit_code, 3);
  EXPECT_THAT(other.output, HasSubstr("elsewhere.db"));

  const CommandRun help = Journal({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_THAT(help.output, HasSubstr("settle ID"));
  EXPECT_THAT(Journal({"--version"}).output, ::testing::StartsWith("ordella_journal 1."));
}

}  // namespace
