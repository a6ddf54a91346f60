#include "hub/payments/card_payment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/testing/support.h"
#include "protocol/frame.h"
#include "protocol/host_notification.h"

namespace hub::payments {
namespace {

using namespace protocol;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kPatienceMs = 10000;
constexpr std::string_view kCard37 = "9410123456785678=25121011234567890123";

std::string Frame(int code, const std::vector<std::string_view>& fields) {
  return BuildMessage(code, fields).value();
}

// What the terminal receives for a body.
std::string ToTerminal(std::string_view body) {
  return BuildFrame(body, LengthRule::kNormal, kTerminalShape).value();
}

PosRequest Request(int code, const std::vector<std::string_view>& fields) {
  PosRequest request;
  request.code = code;
  request.frame = Frame(code, fields);
  request.fields = FrameFields<kPosRequestFields>(request.frame);
  return request;
}

// Fields 1-10 of a card request.
std::vector<std::string_view> CardFields(std::string_view a1, std::string_view a2,
                                         std::string_view a3, std::string_view months,
                                         std::string_view card,
                                         std::string_view original_date = "",
                                         std::string_view original_approval = "") {
  return {a1, a2, a3, months, original_date, original_approval, "", "", "", card};
}

PharmacySettings Settings() {
  PharmacySettings settings;
  settings.terminal_id = "T0001";
  settings.program_index = 2;
  settings.trade_name = "Ordella";
  settings.install_dir = "c:\\tavenor";
  return settings;
}

// A journal that records the calls made to it.
class RecordingJournal final : public PaymentJournal {
 public:
  std::vector<std::string> calls;
  std::optional<KeptAnswer> kept;
  JournalRequest begun;

  JournalId Begin(const JournalRequest& request) override {
    begun = request;
    calls.push_back("begin");
    return 7;
  }
  void MarkSent(JournalId id) override { Call("sent", id); }
  void MarkApproved(JournalId id, std::string_view approval, std::string_view) override {
    Call("approved", id, approval);
  }
  void MarkDeclined(JournalId id, std::string_view code, std::string_view) override {
    Call("declined", id, code);
  }
  void MarkPrinted(JournalId id) override { Call("printed", id); }
  void MarkAnswered(JournalId id) override { Call("answered", id); }
  std::optional<KeptAnswer> CollectKeptAnswer(const JournalRequest&) override {
    calls.push_back("collect");
    return kept;
  }
  void MarkCollectionUnanswered(JournalId id) override { Call("unanswered", id); }

 private:
  void Call(std::string what, JournalId id, std::string_view detail = {}) {
    what += " #" + std::to_string(id);
    if (!detail.empty()) what += " " + std::string(detail);
    calls.push_back(what);
  }
};

ApprovalRecord Record(std::string_view code, std::string_view approval) {
  ApprovalRecord record{};
  record.fill(' ');
  SetRecordText(record, kResponseCode, code);
  SetRecordText(record, kApprovalNumber, approval);
  SetRecordText(record, kResponseMessage, "  OK  ");
  SetRecordText(record, kTransactionNumber, "TX000000001 ");
  SetRecordText(record, kCardNumber, "941012******5678");
  SetRecordText(record, kMerchantNumber, "M123456789     ");
  SetRecordText(record, kIssuerName, "ISSUER");
  SetRecordText(record, kAcquirerName, "ACQUIRER");
  return record;
}

// An approver with a fixed outcome that records the request codes it is asked for.
struct FakeApprover {
  ModuleApprovalResult outcome;
  std::vector<int> asked;
  int confirmed = 0;

  CardApprover Approver() {
    CardApprover approver;
    approver.approve = [this](std::string_view, int code, const PaymentFields&) {
      asked.push_back(code);
      ModuleApprovalResult result = outcome;
      if (code == 0) result = {kNoCardRequest, ApprovalRecord{}};
      return result;
    };
    approver.confirm = [this] { ++confirmed; };
    return approver;
  }
};

// A relay slot with a POS client waiting (the test keeps the client's end), a manual clock and a
// recording journal.
class CardPaymentTest : public ::testing::Test {
 protected:
  void SetUp() override { ConnectClient(); }

  void ConnectClient() {
    auto [hub_end, pos_end] = platform::testing::SocketPair();
    ASSERT_TRUE(hub_end.valid());
    platform::UniqueFd earlier(slot_->relay_client.exchange(hub_end.release()));
    client_ = std::move(pos_end);
  }

  void TearDown() override {
    platform::UniqueFd left(slot_->relay_client.exchange(RelaySlot::kNoClient));
  }

  RelayAnswerer Answerer() {
    RelayAnswerer answerer;
    answerer.notify = [this](uint32_t event, int64_t lparam) {
      notifications_.emplace_back(event, lparam);
    };
    answerer.clock = &clock_;
    return answerer;
  }

  PaymentStep Step() {
    PaymentStep step;
    step.slot = slot_.get();
    step.journal = &journal_;
    step.answerer = Answerer();
    step.settings = settings_;
    return step;
  }

  // Takes a card request into the slot, as the listener does.
  PosRequestResult Take(int code, const std::vector<std::string_view>& fields) {
    slot_->ClearPayment();
    slot_->pending_request_code.store(code);
    return TakeCardRequest(*slot_, Request(code, fields), settings_,
                           CardRequestServices{.journal = &journal_, .answerer = Answerer()});
  }

  std::string SendBuffer() const {
    return std::string(reinterpret_cast<const char*>(slot_->send_buffer.data()),
                       static_cast<size_t>(slot_->byte_count.load()));
  }

  // The loop has sent the queued frame (state 2) and the terminal acknowledged it.
  void Sent() {
    ASSERT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);
    slot_->send_state.store(RelaySlot::kSent);
    slot_->acknowledged.store(true);
  }

  // What the POS client received until the hub closed the connection; nullopt while it is open.
  std::optional<std::string> ClientReceived() {
    std::string got;
    for (;;) {
      char chunk[4096];
      size_t count = 0;
      const platform::Status status = platform::ReceiveSome(
          client_.get(), chunk, sizeof chunk, platform::Deadline::After(0), &count);
      if (status.code() == platform::StatusCode::kClosed) return got;
      if (!status.ok()) return std::nullopt;
      got.append(chunk, count);
    }
  }

  std::unique_ptr<RelaySlot> slot_ = std::make_unique<RelaySlot>();
  platform::UniqueFd client_;
  platform::ManualClock clock_;
  RecordingJournal journal_;
  PharmacySettings settings_ = Settings();
  std::vector<std::pair<uint32_t, int64_t>> notifications_;
};

TEST_F(CardPaymentTest, ARequestAsksTheTerminalForTheTotalOrForTheCardFirst) {
  struct Case {
    const char* name;
    int code;
    std::vector<std::string_view> fields;
    std::string to_terminal;
    std::string months;
  };
  const std::vector<Case> cases = {
      {"split payment with its card", 61, CardFields("9000", "1000", "1000", "3", kCard37),
       ToTerminal("041\x1c\x1c" "11000\x1c"), "03"},
      {"payment without card data", 51, CardFields("5000", "", "500", "", ""),
       ToTerminal("011\x1c\x1c\x1c"), "00"},
      {"seven characters are no card", 71, CardFields("5000", "", "0", "12", "1234567", "251209"),
       ToTerminal("011\x1c\x1c\x1c"), "12"},
      {"eight are", 63, CardFields("1", "2", "3", "00", "12345678", "20251209", "123456789"),
       ToTerminal("041\x1c\x1c" "6\x1c"), "00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    journal_.calls.clear();
    const PosRequestResult result = Take(c.code, c.fields);
    EXPECT_TRUE(result.queued);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);
    EXPECT_EQ(SendBuffer(), c.to_terminal);
    const PaymentFields& p = slot_->payment;
    EXPECT_EQ(p.amount1.view(), c.fields[0]);
    EXPECT_EQ(p.installment_months.view(), c.months);
    EXPECT_EQ(p.original_date.view(), c.fields[4]);
    EXPECT_EQ(p.original_approval.view(), c.fields[5]);
    EXPECT_EQ(p.card_data.view(), c.fields[9]);
    EXPECT_EQ(p.terminal_id.view(), "T0001");
    EXPECT_EQ(p.program_code.view(), "202");
    EXPECT_THAT(journal_.calls, ElementsAre("collect", "begin"));
    EXPECT_EQ(slot_->journal_id.load(), 7);
    slot_->send_state.store(RelaySlot::kIdle);
  }
  // The journal sees the card masked, never the track data.
  EXPECT_EQ(journal_.begun.masked_card.find("5678=2512"), std::string::npos);
}

TEST_F(CardPaymentTest, AFieldLongerThanItsRoomIsRefusedAndTheSlotGivenBack) {
  const std::string amount20(20, '1');
  const std::string card200(200, '4');
  const std::vector<std::vector<std::string_view>> cases = {
      CardFields(amount20, "", "", "", kCard37),
      CardFields("1000", "", amount20, "", kCard37),
      CardFields("1000", "", "", "123", kCard37),
      CardFields("1000", "", "", "", kCard37, "2025120901"),
      CardFields("1000", "", "", "", kCard37, "", "1234567890"),
      CardFields("1000", "", "", "", card200),
  };
  for (const auto& fields : cases) {
    const PosRequestResult result = Take(51, fields);
    EXPECT_FALSE(result.queued);
    const Fields<4> answer = FrameFields<4>(result.answer);
    EXPECT_EQ(MessageCode(result.answer), 52);
    EXPECT_EQ(answer[2], "9999");
    EXPECT_EQ(answer[3], kRefusedFieldTooLong);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
    EXPECT_EQ(slot_->pending_request_code.load(), 0);
    EXPECT_THAT(journal_.calls, IsEmpty());
  }
}

TEST(ProgramCode, FollowsTheProgramIndex) {
  const std::vector<std::pair<int, std::string_view>> cases = {
      {0, "200"},  {1, "200"}, {2, "202"},  {3, "206"},  {4, "210"},  {5, "203"},
      {6, "215"},  {7, "201"}, {8, "213"},  {9, "209"},  {10, ""},    {11, "217"},
      {12, ""},    {13, "204"}, {14, "220"}, {15, ""},   {16, "222"}, {17, ""},
      {-1, ""}};
  for (const auto& [index, code] : cases) EXPECT_EQ(ProgramCode(index), code) << index;
}

TEST(PaymentAnswerFrame, HoldsThirtyThreeFieldsAndTheBodyLength) {
  const std::string frame = PaymentAnswerFrame(61, "T0001", Record("0000", "30012345"), 11000);
  ASSERT_GE(frame.size(), 12u);
  EXPECT_EQ(frame.substr(0, 3), "\x02XX");
  EXPECT_EQ(frame.substr(7, 3), "TRM");
  EXPECT_EQ(frame.back(), kEtx);  // no check byte
  const std::string_view body = std::string_view(frame).substr(10, frame.size() - 11);
  EXPECT_EQ(ReadLengthField(frame), static_cast<int>(body.size()));
  const Fields<40> fields = SplitFields<40>(body, kFs);
  ASSERT_EQ(fields.count, 33u);
  const std::vector<std::string_view> first(fields.slot.begin(), fields.slot.begin() + 11);
  EXPECT_THAT(first, ElementsAre("062", "T0001", "0000", "OK", "TX000000001", "941012******5678",
                                 "30012345", "11000", "M123456789", "ISSUER", "ACQUIRER"));
  for (size_t n = 11; n < 33; ++n) EXPECT_EQ(fields[n], "") << n;

  EXPECT_EQ(PaymentAnswerFrame(161, "T0001", Record("0000", "1"), 1), "");
  EXPECT_EQ(MessageCode(PaymentAnswerFrame(63, "T", Record("8037", ""), 1)), 64);
}

TEST_F(CardPaymentTest, AnApprovedPaymentIsPrintedAndAnsweredAfterTheLastCopy) {
  for (const bool second_copy : {false, true}) {
    SCOPED_TRACE(second_copy ? "merchant copy too" : "customer copy only");
    ConnectClient();
    journal_.calls.clear();
    settings_.second_copy = second_copy;
    ASSERT_TRUE(Take(61, CardFields("9000", "1000", "1000", "03", kCard37)).queued);
    Sent();
    FakeApprover approver;
    approver.outcome = {kModuleApproved, Record("0000", "30012345")};

    ASSERT_EQ(TerminalAnswer(Step(), Frame(42, {"GP..."})), 1);
    ApprovalStep(Step(), Frame(42, {"GP..."}), approver.Approver());
    EXPECT_THAT(approver.asked, ElementsAre(61));
    EXPECT_EQ(approver.confirmed, 1);
    const std::string answer =
        PaymentAnswerFrame(61, "T0001", Record("0000", "30012345"), 11000);
    EXPECT_EQ(slot_->answer, answer);
    ASSERT_GT(slot_->customer_copy.count, 0);
    EXPECT_EQ(SendBuffer(), slot_->customer_copy.view());
    EXPECT_EQ(ClientReceived(), std::nullopt);  // no answer before the print

    Sent();
    const uint32_t before = clock_.Now();
    EXPECT_EQ(TerminalAnswer(Step(), Frame(152, {})), 0);
    if (second_copy) {
      EXPECT_EQ(clock_.Now() - before, kMerchantCopyPauseMs);
      EXPECT_EQ(SendBuffer(), slot_->merchant_copy.view());
      EXPECT_NE(slot_->merchant_copy.view(), slot_->customer_copy.view());
      EXPECT_EQ(ClientReceived(), std::nullopt);
      Sent();
      EXPECT_EQ(TerminalAnswer(Step(), Frame(152, {})), 0);
    }
    EXPECT_EQ(ClientReceived(), answer);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(slot_->pending_request_code.load(), 0);
    EXPECT_EQ(slot_->journal_id.load(), 0);
    EXPECT_THAT(journal_.calls, ElementsAre("collect", "begin", "sent #7", "approved #7 30012345",
                                            "printed #7", "answered #7"));
  }
}

TEST_F(CardPaymentTest, ADeclinedOrFailedPaymentIsAnsweredAtOnceAndNothingPrinted) {
  struct Case {
    const char* name;
    PharmacySettings settings;
    std::optional<ModuleApprovalResult> outcome;  // none: the approver of the settings' path
    std::string code;
    std::string message;
  };
  PharmacySettings path2 = Settings();
  path2.payment_path = kSignPadObjectsPath;
  PharmacySettings path5 = Settings();
  path5.payment_path = 5;
  const std::vector<Case> cases = {
      {"declined", Settings(), ModuleApprovalResult{kModuleDeclined, Record("8037", "")}, "8037",
       "OK"},
      {"sign-pad objects not installed", path2, std::nullopt, "9999", std::string(kPaymentFailed)},
      {"unknown path", path5, std::nullopt, "9999", std::string(kPaymentFailed)},
      {"module path without its library", Settings(), std::nullopt, "9999",
       std::string(kPaymentFailed)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectClient();
    journal_.calls.clear();
    settings_ = c.settings;
    ASSERT_TRUE(Take(51, CardFields("5000", "", "500", "00", kCard37)).queued);
    Sent();
    FakeApprover fake;
    fake.outcome = c.outcome.value_or(ModuleApprovalResult{});
    const CardApprover approver =
        c.outcome ? fake.Approver() : ApproverForPath(settings_, nullptr, {});
    ApprovalStep(Step(), Frame(42, {"GP..."}), approver);

    const std::optional<std::string> answer = ClientReceived();
    ASSERT_TRUE(answer.has_value());
    const Fields<33> fields = FrameFields<33>(*answer);
    EXPECT_EQ(fields[0].substr(10), "052");
    EXPECT_EQ(fields[2], c.code);
    EXPECT_EQ(fields[3], c.message);
    EXPECT_EQ(slot_->customer_copy.count, 0);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_THAT(journal_.calls, ElementsAre("collect", "begin", "sent #7", "declined #7 " + c.code,
                                            "answered #7"));
  }
}

TEST_F(CardPaymentTest, TheCardDataOfTheTerminalAnswerBringsTheTotal) {
  ASSERT_TRUE(Take(51, CardFields("5000", "", "500", "", "")).queued);
  Sent();
  EXPECT_EQ(TerminalAnswer(Step(), Frame(12, {"", "", std::string(kCard37)})), 0);
  EXPECT_EQ(slot_->payment.card_data.view(), kCard37);
  EXPECT_EQ(slot_->last_terminal_code.load(), 12);
  EXPECT_EQ(SendBuffer(), ToTerminal("041\x1c\x1c" "5500\x1c"));
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);

  // Card data too long for its room ends the request with the refusal.
  Sent();
  EXPECT_EQ(TerminalAnswer(Step(), Frame(12, {"", "", std::string(200, '4')})), 0);
  const std::optional<std::string> answer = ClientReceived();
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(FrameFields<4>(*answer)[3], kRefusedFieldTooLong);
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
  EXPECT_THAT(journal_.calls, ElementsAre("collect", "begin", "declined #7 9999", "answered #7"));
}

// A cash request waits for its print like a card payment: the answer its handler left goes
// after the 152.
TEST_F(CardPaymentTest, APrintedCashReceiptIsAnsweredWithTheAnswerArea) {
  slot_->pending_request_code.store(161);
  slot_->journal_id.store(9);
  slot_->answer = "cash answer";
  slot_->send_state.store(RelaySlot::kSent);
  EXPECT_EQ(TerminalAnswer(Step(), Frame(152, {})), 0);
  EXPECT_EQ(ClientReceived(), "cash answer");
  EXPECT_THAT(journal_.calls, ElementsAre("printed #9", "answered #9"));
}

TEST_F(CardPaymentTest, WithoutAPendingPaymentTheTerminalsAnswerEndsTheRelayedRequest) {
  struct Case {
    const char* name;
    int pending;
    int32_t state;
    std::string frame;
    int result;
    std::optional<std::string> client_gets;  // nullopt: still waiting
  };
  const std::string card = Frame(12, {"", "", "9410123456785678"});
  const std::vector<Case> cases = {
      {"012 goes back as it came", 151, RelaySlot::kSent, card, 0, card},
      {"152 ends a print", 151, RelaySlot::kSent, Frame(152, {}), 0, ""},
      {"844 likewise", 0, RelaySlot::kSent, Frame(844, {}), 0, ""},
      {"a stale card code in an idle slot", 51, RelaySlot::kIdle, Frame(152, {}), 0, ""},
      {"042 asks for the approval step", 0, RelaySlot::kSent, Frame(42, {}), 1, std::nullopt},
      {"anything else is ignored", 51, RelaySlot::kSent, Frame(892, {}), 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectClient();
    slot_->pending_request_code.store(c.pending);
    slot_->send_state.store(c.state);
    slot_->answer = "kept";
    EXPECT_EQ(TerminalAnswer(Step(), c.frame), c.result);
    EXPECT_EQ(ClientReceived(), c.client_gets);
  }
  EXPECT_THAT(journal_.calls, IsEmpty());

  // A 042 without a card request only stores its signature and goes back as it came.
  ConnectClient();
  slot_->pending_request_code.store(151);
  slot_->send_state.store(RelaySlot::kSent);
  FakeApprover approver;
  ApprovalStep(Step(), Frame(42, {"GP"}), approver.Approver());
  EXPECT_THAT(approver.asked, ElementsAre(0));
  EXPECT_EQ(ClientReceived(), Frame(42, {"GP"}));
  EXPECT_THAT(journal_.calls, IsEmpty());
}

TEST_F(CardPaymentTest, ARepeatOfAnUnansweredApprovalGetsItsKeptAnswer) {
  for (const bool client_waits : {true, false}) {
    SCOPED_TRACE(client_waits ? "client waits" : "client left");
    ConnectClient();
    if (!client_waits) client_.reset();
    journal_.calls.clear();
    journal_.kept = KeptAnswer{.id = 3, .answer_frame = "kept answer"};
    const PosRequestResult result = Take(61, CardFields("9000", "1000", "1000", "03", kCard37));
    EXPECT_TRUE(result.queued);  // done: the slot answered the connection
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
    EXPECT_EQ(slot_->pending_request_code.load(), 0);
    if (client_waits) {
      EXPECT_EQ(ClientReceived(), "kept answer");
      EXPECT_THAT(journal_.calls, ElementsAre("collect"));
    } else {
      EXPECT_THAT(journal_.calls, ElementsAre("collect", "unanswered #3"));
    }
  }
}

}  // namespace
}  // namespace hub::payments
