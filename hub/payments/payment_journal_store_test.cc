#include "hub/payments/payment_journal_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/module_state.h"
#include "hub/core/test_support.h"
#include "platform/clock.h"
#include "platform/testing/child_process.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/host_notification.h"
#include "stores/cpp_sqlite3.h"
#include "stores/payment_journal_file.h"

namespace hub::payments {
namespace {

// The answer frame of a collection, or nullopt.
std::optional<std::string> KeptFrame(std::optional<KeptAnswer> kept) {
  if (!kept) return std::nullopt;
  return std::move(kept->answer_frame);
}

namespace fs = std::filesystem;
using hub::testing::Notification;
using stores::JournalState;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kTerminal[] = "1047312";
constexpr char kCard[] = "941012******1234";
constexpr char kApproval[] = "30012345";
// An approved card answer as the POS client gets it (fields 0-7, the rest left out).
constexpr char kAnswer[] =
    "\x02XX0068TRM052\x1C"
    "1047312\x1C"
    "0000\x1C\x1C"
    "000123456789\x1C"
    "941012******1234\x1C"
    "30012345\x1C"
    "11000\x03";

JournalRequest Sale(std::string amount1 = "10000", std::string amount2 = "0",
                    std::string amount3 = "1000") {
  JournalRequest request;
  request.terminal_id = kTerminal;
  request.request_code = 51;
  request.total = std::stoll(amount1) + std::stoll(amount2) + std::stoll(amount3);
  request.amount1 = std::move(amount1);
  request.amount2 = std::move(amount2);
  request.amount3 = std::move(amount3);
  request.masked_card = kCard;
  return request;
}

fs::path JournalPath() { return stores::JournalFile::PrefixFile().value(); }

// The entry as the file holds it, read as the staff's command reads it.
stores::JournalEntry EntryOf(JournalId id, const fs::path& file = JournalPath()) {
  std::optional<stores::JournalEntry> entry;
  const platform::Status status =
      stores::JournalFile(file, stores::JournalFile::Access::kReadOnly, 1000).Get(id, &entry);
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(entry.has_value()) << "no entry " << id;
  return entry.value_or(stores::JournalEntry{});
}

// The module's settings for the log and the host window that collects the notifications.
class PaymentJournalStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.ok());
    connmap::WriteText(record_.data(), connmap::kInstallDir, (prefix_.path() / "install").string());
    connmap::WriteInt(record_.data(), connmap::kLogFlag, 1);
    Module().property_map = reinterpret_cast<unsigned char*>(record_.data());
    Module().host_window = host_.handle();
  }
  void TearDown() override {
    Module().property_map = nullptr;
    Module().host_window = {};
  }

  std::string Log() { return hub::testing::ReadFilesBelow(prefix_.path() / "install"); }

  // An entry approved at the clock's time.
  JournalId Approved(PaymentJournalStore& journal, const JournalRequest& request) {
    const JournalId id = journal.Begin(request);
    journal.MarkSent(id);
    journal.MarkApproved(id, kApproval, kAnswer);
    return id;
  }

  // One entry in each state the module can leave a transaction in, each with an amount 1 of its
  // own (shown beside it).
  struct EachState {
    JournalId requested;  // 1000
    JournalId sent;       // 2000
    JournalId approved;   // 3000
    JournalId printed;    // 4000
    JournalId declined;   // 5000
    JournalId answered;   // 6000
  };
  EachState OneInEachState() {
    EachState ids{};
    ids.requested = journal_.Begin(Sale("1000"));
    ids.sent = journal_.Begin(Sale("2000"));
    journal_.MarkSent(ids.sent);
    ids.approved = Approved(journal_, Sale("3000"));
    ids.printed = Approved(journal_, Sale("4000"));
    journal_.MarkPrinted(ids.printed);
    ids.declined = journal_.Begin(Sale("5000"));
    journal_.MarkSent(ids.declined);
    journal_.MarkDeclined(ids.declined, "8005", "declined answer");
    ids.answered = Approved(journal_, Sale("6000"));
    journal_.MarkAnswered(ids.answered);
    return ids;
  }

  platform::testing::TempPrefix prefix_;
  hub::testing::TestHostWindow host_;
  std::array<char, connmap::kPropertyMapSize> record_{};
  platform::ManualClock clock_;
  PaymentJournalStore journal_{{.file = {}, .clock = &clock_}};
};

TEST_F(PaymentJournalStoreTest, EachStepIsWrittenWithItsTime) {
  const int64_t start = clock_.WallTimeMs();
  const JournalId id = journal_.Begin(Sale());
  ASSERT_NE(id, 0);
  stores::JournalEntry entry = EntryOf(id);
  EXPECT_EQ(entry.state, JournalState::kRequested);
  EXPECT_EQ(entry.request.terminal_id, kTerminal);
  EXPECT_EQ(entry.request.request_code, 51);
  EXPECT_EQ(entry.request.amount3, "1000");
  EXPECT_EQ(entry.request.total, 11000);
  EXPECT_EQ(entry.request.card, kCard);
  EXPECT_EQ(entry.requested_ms, start);

  clock_.Advance(1000);
  journal_.MarkSent(id);
  clock_.Advance(20000);
  journal_.MarkApproved(id, kApproval, kAnswer);
  entry = EntryOf(id);
  EXPECT_EQ(entry.state, JournalState::kApproved);
  EXPECT_EQ(entry.approval_number, kApproval);
  EXPECT_EQ(entry.response_code, "0000");
  EXPECT_EQ(entry.answer, kAnswer);
  clock_.Advance(3000);
  journal_.MarkPrinted(id);
  clock_.Advance(500);
  journal_.MarkAnswered(id);

  entry = EntryOf(id);
  EXPECT_EQ(entry.state, JournalState::kAnswered);
  EXPECT_EQ(entry.sent_ms, start + 1000);
  EXPECT_EQ(entry.decided_ms, start + 21000);
  EXPECT_EQ(entry.printed_ms, start + 24000);
  EXPECT_EQ(entry.answered_ms, start + 24500);
  EXPECT_EQ(entry.collected_ms, 0);
  EXPECT_EQ(entry.settled_ms, 0);
  EXPECT_EQ(host_.Notifications(), std::vector<Notification>{});
}

// Steps in a row and where they leave the entry: a step its state does not allow is logged and
// changes nothing.
TEST_F(PaymentJournalStoreTest, StepsOutOfOrderLeaveTheEntryAsItIs) {
  enum Step { kSent, kApproved, kDeclined, kPrinted, kAnswered };
  struct Case {
    std::vector<Step> steps;
    JournalState state;
    bool refused;  // the last step was not allowed
  };
  const Case cases[] = {
      {{}, JournalState::kRequested, false},
      {{kSent}, JournalState::kSent, false},
      {{kSent, kApproved}, JournalState::kApproved, false},
      {{kApproved}, JournalState::kApproved, false},  // a path that writes no "sent"
      {{kSent, kApproved, kPrinted}, JournalState::kPrinted, false},
      {{kSent, kApproved, kAnswered}, JournalState::kAnswered, false},
      {{kSent, kDeclined}, JournalState::kDeclined, false},
      {{kSent, kDeclined, kAnswered}, JournalState::kAnswered, false},
      {{kPrinted}, JournalState::kRequested, true},
      {{kAnswered}, JournalState::kRequested, true},
      {{kSent, kSent}, JournalState::kSent, true},
      {{kSent, kDeclined, kPrinted}, JournalState::kDeclined, true},
      {{kSent, kApproved, kDeclined}, JournalState::kApproved, true},
      {{kSent, kApproved, kAnswered, kPrinted}, JournalState::kAnswered, true},
      {{kSent, kApproved, kAnswered, kApproved}, JournalState::kAnswered, true},
  };
  for (const Case& c : cases) {
    const JournalId id = journal_.Begin(Sale());
    ASSERT_NE(id, 0);
    const std::string log_before = Log();
    for (Step step : c.steps) {
      switch (step) {
        case kSent:
          journal_.MarkSent(id);
          break;
        case kApproved:
          journal_.MarkApproved(id, kApproval, kAnswer);
          break;
        case kDeclined:
          journal_.MarkDeclined(id, "8005", "declined answer");
          break;
        case kPrinted:
          journal_.MarkPrinted(id);
          break;
        case kAnswered:
          journal_.MarkAnswered(id);
          break;
      }
    }
    const stores::JournalEntry entry = EntryOf(id);
    EXPECT_EQ(entry.state, c.state) << "entry " << id;
    const std::string logged = Log().substr(log_before.size());
    if (c.refused) {
      EXPECT_THAT(logged, HasSubstr("entry " + std::to_string(id) + " not marked")) << id;
    } else {
      EXPECT_EQ(logged, "") << id;
    }
  }
  EXPECT_EQ(host_.Notifications(), std::vector<Notification>{}) << "no step failed to be written";
}

TEST_F(PaymentJournalStoreTest, AJournalThatCannotBeWrittenLogsAndLetsThePaymentGoOn) {
  fs::create_directories(JournalPath());  // a folder where the file should be
  EXPECT_EQ(journal_.Begin(Sale()), 0);
  journal_.MarkSent(0);  // no entry: nothing to write, nothing reported
  journal_.MarkApproved(0, kApproval, kAnswer);
  journal_.MarkAnswered(0);
  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale())), std::nullopt);
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{protocol::kEventJournalFailed, 0},
                                                              {protocol::kEventJournalFailed, 0}}));
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("PaymentJournal"));
  EXPECT_THAT(log, HasSubstr("request 51 of terminal 1047312 total 11000 not journaled"));
  EXPECT_THAT(log, HasSubstr("it goes on as a new transaction"));
}

// A kept approval and a repeat some time later: which repeats are answered from it.
TEST_F(PaymentJournalStoreTest, ARepeatCollectsOnlyTheSameRequestWithinTheWindow) {
  struct Case {
    const char* name;
    std::function<void(JournalRequest&)> change;  // what makes the repeat differ
    int64_t later_ms;                             // the repeat comes this much after the approval
    bool collected;
  };
  const Case cases[] = {
      {"same request a minute later", [](JournalRequest&) {}, 60000, true},
      {"same request at the end of the window", [](JournalRequest&) {}, kCollectWindowMs, true},
      {"same request just after the window", [](JournalRequest&) {}, kCollectWindowMs + 1, false},
      {"the clock set back before the approval", [](JournalRequest&) {}, -60000, false},
      {"repeat without card data (the terminal reads it)",
       [](JournalRequest& r) { r.masked_card.clear(); }, 60000, true},
      {"other amount 1", [](JournalRequest& r) { r.amount1 = "10001"; }, 60000, false},
      {"other amount 2", [](JournalRequest& r) { r.amount2 = "500"; }, 60000, false},
      {"other amount 3", [](JournalRequest& r) { r.amount3 = "1001"; }, 60000, false},
      {"amount written otherwise", [](JournalRequest& r) { r.amount1 = "010000"; }, 60000, false},
      {"split amounts (61)", [](JournalRequest& r) { r.request_code = 61; }, 60000, false},
      {"cancellation (71)", [](JournalRequest& r) { r.request_code = 71; }, 60000, false},
      {"other terminal", [](JournalRequest& r) { r.terminal_id = "1047313"; }, 60000, false},
      {"other card", [](JournalRequest& r) { r.masked_card = "941012******9999"; }, 60000, false},
  };
  for (const Case& c : cases) {
    PaymentJournalStore journal(
        {.file = prefix_.path() / (std::string(c.name) + ".db"), .clock = &clock_});
    const int64_t approved_at = clock_.WallTimeMs();
    const JournalId id = Approved(journal, Sale());
    ASSERT_NE(id, 0) << c.name;
    clock_.SetWallTimeMs(approved_at + c.later_ms);
    JournalRequest repeat = Sale();
    c.change(repeat);
    const std::optional<std::string> answer = KeptFrame(journal.CollectKeptAnswer(repeat));
    const stores::JournalEntry entry = EntryOf(id, prefix_.path() / (std::string(c.name) + ".db"));
    if (c.collected) {
      EXPECT_EQ(answer, kAnswer) << c.name;
      EXPECT_EQ(entry.state, JournalState::kCollected) << c.name;
      EXPECT_EQ(entry.collected_ms, approved_at + c.later_ms) << c.name;
    } else {
      EXPECT_EQ(answer, std::nullopt) << c.name;
      EXPECT_EQ(entry.state, JournalState::kApproved) << c.name << ": the approval stays open";
    }
    clock_.SetWallTimeMs(approved_at);
  }
}

TEST_F(PaymentJournalStoreTest, OnlyApprovedOrPrintedEntriesNeverAnsweredAreCollectedAndOnce) {
  const EachState ids = OneInEachState();
  const JournalId no_answer = journal_.Begin(Sale("7000"));
  journal_.MarkApproved(no_answer, kApproval, std::string("\x02XX\0TRM", 8));  // not kept
  clock_.Advance(60000);

  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale("4000"))), kAnswer);
  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale("4000"))), std::nullopt)
      << "collected once only";
  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale("3000"))), kAnswer);
  for (const char* amount : {"1000", "5000", "6000", "7000"}) {
    EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale(amount))), std::nullopt) << amount;
  }
  EXPECT_EQ(EntryOf(ids.printed).state, JournalState::kCollected);
  EXPECT_EQ(EntryOf(ids.approved).state, JournalState::kCollected);
  EXPECT_EQ(EntryOf(ids.requested).state, JournalState::kRequested);
  EXPECT_EQ(EntryOf(ids.declined).state, JournalState::kDeclined);
  EXPECT_EQ(EntryOf(ids.answered).state, JournalState::kAnswered);
  EXPECT_EQ(EntryOf(no_answer).state, JournalState::kApproved) << "it stays open";
  EXPECT_THAT(Log(),
              HasSubstr("answered from the kept answer of entry " + std::to_string(ids.printed)));
}

// A kept answer that did not reach the till (its send failed) leaves the entry open as it was:
// the next repeat collects it, and only an answered collection is final.
TEST_F(PaymentJournalStoreTest, ACollectionWhoseAnswerWasNotSentIsOpenAgain) {
  const EachState ids = OneInEachState();
  for (const auto& [amount, id, before] :
       {std::tuple{"3000", ids.approved, JournalState::kApproved},
        std::tuple{"4000", ids.printed, JournalState::kPrinted}}) {
    SCOPED_TRACE(amount);
    std::optional<KeptAnswer> kept = journal_.CollectKeptAnswer(Sale(amount));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->id, id);
    journal_.MarkCollectionUnanswered(kept->id);
    EXPECT_EQ(EntryOf(id).state, before);
    EXPECT_EQ(EntryOf(id).collected_ms, 0);

    kept = journal_.CollectKeptAnswer(Sale(amount));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->id, id);
    EXPECT_EQ(EntryOf(id).state, JournalState::kCollected);
  }
  // Only a collected entry is given back.
  journal_.MarkCollectionUnanswered(ids.answered);
  EXPECT_EQ(EntryOf(ids.answered).state, JournalState::kAnswered);
  EXPECT_THAT(Log(), HasSubstr("not marked collection unanswered"));
}

TEST_F(PaymentJournalStoreTest, TheNewestOfTwoKeptApprovalsIsCollectedFirst) {
  const JournalId older = Approved(journal_, Sale());
  clock_.Advance(30000);
  const JournalId newer = Approved(journal_, Sale());
  clock_.Advance(30000);
  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale())), kAnswer);
  EXPECT_EQ(EntryOf(newer).state, JournalState::kCollected);
  EXPECT_EQ(EntryOf(older).state, JournalState::kApproved);
}

// The crash came after the request was handed to the network and before its outcome was written:
// nothing says it was approved, so the repeat goes on as a new transaction and the staff are told.
TEST_F(PaymentJournalStoreTest, ARepeatOfAnEntryLeftSentGoesOnAndTheEntryIsReported) {
  const JournalId sent = journal_.Begin(Sale());
  journal_.MarkSent(sent);
  const int64_t sent_at = clock_.WallTimeMs();
  clock_.Advance(90000);

  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale())), std::nullopt);
  const stores::JournalEntry entry = EntryOf(sent);
  EXPECT_EQ(entry.state, JournalState::kSent) << "it stays open";
  EXPECT_EQ(entry.repeated_ms, sent_at + 90000);
  EXPECT_EQ(host_.Notifications(),
            (std::vector<Notification>{{protocol::kEventOpenPayment, sent}}));
  EXPECT_THAT(Log(), HasSubstr("meets entry " + std::to_string(sent) +
                               ", whose outcome at the network was never heard"));

  // Outside the window the repeat is another sale: nothing is said.
  clock_.Advance(kCollectWindowMs);
  EXPECT_EQ(KeptFrame(journal_.CollectKeptAnswer(Sale())), std::nullopt);
  EXPECT_EQ(host_.Notifications().size(), 1u);
  EXPECT_EQ(EntryOf(sent).repeated_ms, sent_at + 90000);
}

TEST_F(PaymentJournalStoreTest, TwoRepeatsAtOnceCollectOneEntryOnce) {
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    const JournalRequest request = Sale(std::to_string(1000 + round));
    const JournalId id = Approved(journal_, request);
    ASSERT_NE(id, 0);
    std::latch start(2);
    std::atomic<int> answered{0};
    auto repeat = [&] {
      start.arrive_and_wait();
      if (journal_.CollectKeptAnswer(request)) answered.fetch_add(1);
    };
    std::thread first(repeat);
    std::thread second(repeat);
    first.join();
    second.join();
    EXPECT_EQ(answered.load(), 1) << "round " << round;
    EXPECT_EQ(EntryOf(id).state, JournalState::kCollected);
  }
  EXPECT_EQ(host_.Notifications(), std::vector<Notification>{}) << "no lock was waited out";
}

TEST_F(PaymentJournalStoreTest, CardDataHandedOverWholeNeverReachesTheFile) {
  // Track 2 and track 1 of a card whose number is 9410123456781234.
  JournalRequest request = Sale();
  request.masked_card = ";9410123456781234=25121010000098765432?";
  const JournalId id = journal_.Begin(request);
  journal_.MarkSent(id);
  journal_.MarkApproved(id, kApproval,
                        "\x02XX0099TRM052\x1C"
                        "1047312\x1C"
                        "0000\x1C"
                        "%B9410123456781234^HONG/GILDONG^2512101000005551?\x1C"
                        "9410123456781234\x03");
  const stores::JournalEntry entry = EntryOf(id);
  EXPECT_EQ(entry.request.card.substr(0, 18), ";941012******1234=");

  std::string bytes;
  for (const fs::directory_entry& file : fs::directory_iterator(JournalPath().parent_path())) {
    bytes += platform::testing::ReadFile(file.path());
  }
  // (Compared by position, so that a failure does not print the whole file.)
  ASSERT_NE(bytes.find("941012******1234"), std::string::npos) << "the masked card is kept";
  for (const char* secret : {"9410123456781234", "345678", "98765432", "HONG", "GILDONG", "5551"}) {
    EXPECT_EQ(bytes.find(secret), std::string::npos) << secret << " is in the file";
  }
}

TEST_F(PaymentJournalStoreTest, TheStartReportNamesEveryOpenEntryOldestFirst) {
  journal_.ReportOpenEntries();
  EXPECT_FALSE(fs::exists(JournalPath())) << "no journal yet: none is made at start";

  const EachState ids = OneInEachState();
  const JournalId settled = Approved(journal_, Sale("8000"));
  ASSERT_TRUE(stores::JournalFile(JournalPath(), stores::JournalFile::Access::kReadWrite, 1000)
                  .Settle(settled, clock_.WallTimeMs())
                  .moved());

  journal_.ReportOpenEntries();
  EXPECT_EQ(host_.Notifications(),
            (std::vector<Notification>{{protocol::kEventOpenPayment, ids.sent},
                                       {protocol::kEventOpenPayment, ids.approved},
                                       {protocol::kEventOpenPayment, ids.printed}}));
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("open at start: " + std::to_string(ids.approved) + " approved " +
                             stores::JournalTimeText(clock_.WallTimeMs()) + " terminal 1047312"));
  EXPECT_THAT(log, HasSubstr("amounts 3000/0/1000 total 4000 card 941012******1234 approval "
                             "30012345 response 0000: approved at the network and the POS "
                             "client never received the answer"));
  EXPECT_THAT(log, HasSubstr("open at start: " + std::to_string(ids.printed) + " printed"));
  EXPECT_THAT(log, HasSubstr("open at start: " + std::to_string(ids.sent) + " sent"));
  EXPECT_THAT(log, HasSubstr("no outcome heard: check it with the card network"));
  for (const JournalId closed : {ids.requested, ids.declined, ids.answered, settled}) {
    EXPECT_THAT(log, Not(HasSubstr("open at start: " + std::to_string(closed) + " "))) << closed;
  }
}

// ---- Across a crash: a second process writes through the module's journal and is killed ----

std::unique_ptr<platform::testing::ChildProcess> StartPeer(int count) {
  return platform::testing::ChildProcess::Start(
      platform::testing::BuildDir() / "bin" / "journal_peer", {"approve", std::to_string(count)});
}

TEST_F(PaymentJournalStoreTest, AnApprovalWrittenBeforeACrashIsReportedAndAnswersTheRepeat) {
  const std::unique_ptr<platform::testing::ChildProcess> peer = StartPeer(1);
  ASSERT_NE(peer, nullptr);
  const std::optional<std::string> line = peer->ReadLineWith("approved ");
  ASSERT_TRUE(line.has_value()) << peer->output();
  ASSERT_TRUE(peer->ReadLineWith("idle").has_value()) << peer->output();
  peer->Signal(SIGKILL);  // the host dies before it answers the POS client
  EXPECT_EQ(peer->Wait(), -1);
  const JournalId id = std::stoll(line->substr(line->find(' ') + 1));

  const stores::JournalEntry entry = EntryOf(id);
  EXPECT_EQ(entry.state, JournalState::kApproved);
  EXPECT_EQ(entry.answered_ms, 0);
  EXPECT_EQ(entry.approval_number, kApproval);

  PaymentJournalStore restarted;  // the module's journal again, on the system clock
  restarted.ReportOpenEntries();
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{protocol::kEventOpenPayment, id}}));
  EXPECT_THAT(Log(), HasSubstr("open at start: " + std::to_string(id) + " approved"));

  // The till repeats the payment: it gets the kept approval once, and a further repeat is a new
  // sale.
  const std::optional<std::string> answer = KeptFrame(restarted.CollectKeptAnswer(Sale()));
  ASSERT_TRUE(answer.has_value());
  EXPECT_THAT(*answer, HasSubstr("\x1C"
                                 "0000\x03"));
  EXPECT_EQ(KeptFrame(restarted.CollectKeptAnswer(Sale())), std::nullopt);
  EXPECT_EQ(EntryOf(id).state, JournalState::kCollected);
}

TEST_F(PaymentJournalStoreTest, AKillInTheMiddleOfWritingLosesNoApprovalThatWasReported) {
  const std::unique_ptr<platform::testing::ChildProcess> peer = StartPeer(1000000);
  ASSERT_NE(peer, nullptr);
  std::vector<JournalId> reported;
  for (int i = 0; i < 25; ++i) {
    const std::optional<std::string> line = peer->ReadLineWith("approved ");
    ASSERT_TRUE(line.has_value()) << peer->output();
    reported.push_back(std::stoll(line->substr(line->find(' ') + 1)));
  }
  peer->Signal(SIGKILL);  // somewhere in a write, or between two
  peer->Wait();

  // The next writer rolls back what the kill left unfinished; every approval the peer had been
  // told was written is there.
  PaymentJournalStore restarted;
  restarted.ReportOpenEntries();
  for (const JournalId id : reported) {
    EXPECT_EQ(EntryOf(id).state, JournalState::kApproved) << "entry " << id;
  }
  CppSQLite3DB db;
  db.OpenFile(JournalPath().string());
  EXPECT_STREQ(db.LoadTable("pragma integrity_check;").CellText(0), "ok");
  for (CppSQLite3Query row = db.ExecuteQuery("select STATE from PAYMENT_JOURNAL;"); !row.Eof();
       row.NextRow()) {
    EXPECT_THAT((std::vector<std::string>{"requested", "sent", "approved"}),
                ::testing::Contains(std::string(row.FieldText(0))));
  }
}

}  // namespace
}  // namespace hub::payments
