// The cash receipt handler through the POS request handling, with the card-network library's two
// calls and the payment journal played by the test: what EDICONN is given, the answer frame, the
// server out of reach, when the answer goes at once and when it waits for the printout.
#include "hub/payments/cash_receipt.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hub/core/pos_services.h"
#include "hub/payments/print_entries.h"
#include "hub/payments/test_support.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/testing/support.h"
#include "protocol/frame.h"
#include "protocol/host_notification.h"

namespace hub::payments {
namespace {

using testing::Cp;

constexpr char kFs = protocol::kFs;
constexpr int kIndexAnsweringAtOnce = 1;
constexpr int kIndexPrinting = 3;

class PlayedNetwork final : public CashReceiptNetwork {
 public:
  int Transact(const CashCallTexts& texts) override {
    calls.push_back(texts);
    return result;
  }
  CashServerAnswer LastAnswer() override { return answer; }

  int result = 1;
  CashServerAnswer answer{"0000", Cp("정상승인"), "123456789"};
  std::vector<CashCallTexts> calls;
};

class RecordedJournal final : public PaymentJournal {
 public:
  JournalId Begin(const JournalRequest& request) override {
    begun.push_back(request);
    steps.push_back("begin");
    return 7;
  }
  void MarkSent(JournalId id) override { steps.push_back("sent " + std::to_string(id)); }
  void MarkApproved(JournalId id, std::string_view approval,
                    std::string_view answer_frame) override {
    steps.push_back("approved " + std::to_string(id) + " " + std::string(approval));
    kept_frame = answer_frame;
  }
  void MarkDeclined(JournalId id, std::string_view code, std::string_view answer_frame) override {
    steps.push_back("declined " + std::to_string(id) + " " + std::string(code));
    kept_frame = answer_frame;
  }
  void MarkPrinted(JournalId id) override { steps.push_back("printed " + std::to_string(id)); }
  void MarkAnswered(JournalId id) override { steps.push_back("answered " + std::to_string(id)); }
  std::optional<KeptAnswer> CollectKeptAnswer(const JournalRequest&) override {
    steps.push_back("collect");
    return kept;
  }
  void MarkCollectionUnanswered(JournalId id) override {
    steps.push_back("collection unanswered " + std::to_string(id));
  }

  std::optional<KeptAnswer> kept;
  std::vector<JournalRequest> begun;
  std::vector<std::string> steps;
  std::string kept_frame;
};

// The services the POS request handling's hook runs the handler with in these tests.
CashReceiptServices* g_services = nullptr;
PosRequestResult CashHook(RelaySlot& slot, const PosRequest& request,
                          const PharmacySettings& settings) {
  return HandleCashReceipt(slot, request, settings, *g_services);
}

// A frame made readable: FS as |, STX as ^, ETX as $.
std::string Readable(std::string_view frame) {
  std::string text = testing::Readable(frame);
  for (char& c : text) {
    if (c == protocol::kStx) c = '^';
    if (c == protocol::kEtx) c = '$';
  }
  return text;
}

class CashReceiptHandlerTest : public ::testing::Test {
 protected:
  CashReceiptHandlerTest() {
    settings_.terminal_id = "T0001";
    settings_.business_number = "1234567890";
    settings_.program_index = kIndexAnsweringAtOnce;
    services_.network = &network_;
    services_.journal = &journal_;
    services_.server = CashServer{"10.1.2.3", "19000"};
    services_.clock = &clock_;
    services_.notify = [this](uint32_t event, int64_t) { notified_.push_back(event); };
    g_services = &services_;
    pos_services_.cash_receipt = &CashHook;
  }
  ~CashReceiptHandlerTest() override { g_services = nullptr; }

  // The request `code` with fields 1 on, handled as the POS listener does; the POS client's end
  // of the connection stays with the test.
  PosRequestResult Handle(int code, std::vector<std::string_view> fields) {
    auto [client, hub_end] = platform::testing::SocketPair();
    client_ = std::move(client);
    const std::string frame = protocol::BuildMessage(code, fields).value();
    const PosRequestResult result =
        HandlePosRequest(*slot_, frame, hub_end.get(), settings_, pos_services_);
    // A connection the slot took is the slot's to close; any other the listener closes.
    if (result.queued) (void)hub_end.release();
    return result;
  }

  // What the POS client received before the hub ended the connection; nullopt when it is still
  // open.
  std::optional<std::string> ClientReceived() {
    std::string received;
    for (;;) {
      std::array<char, 512> chunk;
      size_t got = 0;
      const platform::Status status = platform::ReceiveSome(
          client_.get(), chunk.data(), chunk.size(), platform::Deadline::After(0), &got);
      if (status.code() == platform::StatusCode::kClosed) return received;
      if (!status.ok()) return std::nullopt;
      received.append(chunk.data(), got);
    }
  }

  std::unique_ptr<RelaySlot> slot_ = std::make_unique<RelaySlot>();
  PharmacySettings settings_;
  PlayedNetwork network_;
  RecordedJournal journal_;
  platform::ManualClock clock_;
  CashReceiptServices services_;
  PosServices pos_services_;
  std::vector<uint32_t> notified_;
  platform::UniqueFd client_;
};

const std::vector<std::string_view> kSplitFields = {"9000", "1000", "1000", "01", "", "",
                                                    "01012345678"};

TEST_F(CashReceiptHandlerTest, EdiconnIsGivenTheFifteenTextsOfTheRequest) {
  std::vector<std::string_view> long_request = kSplitFields;
  long_request.resize(22, "");
  long_request[10] = "211";  // field 11: not the program code of a request of 23 fields
  long_request[21] = "222";  // field 22
  std::vector<std::string_view> fourteen = kSplitFields;
  fourteen.resize(13, "");
  fourteen[10] = "211";
  struct Case {
    const char* name;
    int code;
    std::vector<std::string_view> fields;
    CashCallTexts texts;
  };
  const Case cases[] = {
      {"split approval, income deduction",
       181,
       kSplitFields,
       {"10.1.2.3", "19000", "0200", "1234567890", "", "01012345678", "11000", "1000", "", "9000",
        "1000", "00", "", "", ""}},
      {"one total: amounts 1 and 2 not sent apart",
       161,
       kSplitFields,
       {"10.1.2.3", "19000", "0200", "1234567890", "", "01012345678", "11000", "1000", "", "", "",
        "00", "", "", ""}},
      {"cancellation: original approval and date, proof of expense",
       171,
       {"5000", "0", "500", "02", "20261209", "87654321", "1234567890"},
       {"10.1.2.3", "19000", "0210", "1234567890", "", "1234567890", "5500", "500", "", "", "",
        "01", "87654321", "20261209", ""}},
      {"split cancellation, identification in field 10",
       183,
       {"9000", "1000", "1000", "01", "20261209", "87654321", "", "", "", "9410123456785678"},
       {"10.1.2.3", "19000", "0210", "1234567890", "", "9410123456785678", "11000", "1000", "",
        "9000", "1000", "00", "87654321", "20261209", ""}},
      {"23 fields: the program code is field 22",
       181,
       long_request,
       {"10.1.2.3", "19000", "0200", "1234567890", "", "01012345678", "11000", "1000", "", "9000",
        "1000", "00", "", "", "222"}},
      {"14 fields: the program code is field 11",
       181,
       fourteen,
       {"10.1.2.3", "19000", "0200", "1234567890", "", "01012345678", "11000", "1000", "", "9000",
        "1000", "00", "", "", "211"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    network_.calls.clear();
    ASSERT_TRUE(Handle(c.code, c.fields).queued);
    ASSERT_EQ(network_.calls.size(), 1u);
    EXPECT_EQ(network_.calls[0], c.texts);
  }
}

TEST_F(CashReceiptHandlerTest, AnApprovalIsAnsweredAtOnceUnderAProgramThatPrintsItself) {
  ASSERT_TRUE(Handle(181, kSplitFields).queued);

  const std::string body = std::string("182|T0001|0000|정상승인||01012345678|123456789|11000") +
                           std::string(19, '|');
  const std::optional<std::string> answer = ClientReceived();
  ASSERT_TRUE(answer.has_value()) << "the client is still waiting";
  // The length field counts the body (71 bytes) and 7; the answer code stands where "TRM" would.
  ASSERT_EQ(Cp(body).size(), 71u);
  EXPECT_EQ(Readable(*answer), "^XX0078" + body + "$");
  EXPECT_EQ(*answer, slot_->answer);
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
  EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
  EXPECT_EQ(notified_, std::vector<uint32_t>{protocol::kEventFrameOrRelayClosed});

  EXPECT_EQ(journal_.steps, (std::vector<std::string>{"collect", "begin", "sent 7",
                                                       "approved 7 123456789", "answered 7"}));
  ASSERT_EQ(journal_.begun.size(), 1u);
  EXPECT_EQ(journal_.begun[0].request_code, 181);
  EXPECT_EQ(journal_.begun[0].total, 11000);
  EXPECT_EQ(journal_.kept_frame, *answer);
  EXPECT_EQ(slot_->journal_id.load(), 0);  // nothing left for a later print to complete
}

TEST_F(CashReceiptHandlerTest, AnApprovalUnderAnotherProgramIsPrintedAndItsAnswerWaits) {
  settings_.program_index = kIndexPrinting;
  ASSERT_TRUE(Handle(161, kSplitFields).queued);

  EXPECT_EQ(ClientReceived(), std::nullopt);  // the answer waits for the printout
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);
  EXPECT_EQ(slot_->pending_request_code.load(), 161);
  EXPECT_EQ(slot_->journal_id.load(), 7);
  EXPECT_EQ(protocol::MessageCode(slot_->answer), std::nullopt);  // the code is at bytes 7-9
  EXPECT_EQ(slot_->answer.substr(7, 3), "162");

  const std::string queued(reinterpret_cast<const char*>(slot_->send_buffer.data()),
                           static_cast<size_t>(slot_->byte_count.load()));
  EXPECT_TRUE(protocol::HasRoutingPrefix(queued));
  EXPECT_EQ(protocol::MessageCode(queued), 151);
  const std::string paper = testing::Readable(queued);
  EXPECT_NE(paper.find("|||PRINT<현금(소득공제)>\n"), std::string::npos) << paper;
  EXPECT_NE(paper.find("거 래  금 액 : <       10,000원>\n"), std::string::npos) << paper;
  EXPECT_NE(paper.find("승 인  번 호 : <123456789>\n"), std::string::npos) << paper;
  EXPECT_EQ(journal_.steps, (std::vector<std::string>{"collect", "begin", "sent 7",
                                                       "approved 7 123456789"}));
}

TEST_F(CashReceiptHandlerTest, AServerOutOfReachOrADeclineIsAnsweredAtOnceAndNothingPrinted) {
  settings_.program_index = kIndexPrinting;
  struct Case {
    const char* name;
    int result;
    CashServerAnswer answer;
    std::string fields_2_to_7;
    const char* declined;
  };
  const Case cases[] = {
      {"unreachable", -1, {}, "9999|현금영수증 서버 접속 실패||01012345678||11000",
       "declined 7 9999"},
      {"no exchange", 0, {}, "9999|현금영수증 서버 접속 실패||01012345678||11000",
       "declined 7 9999"},
      {"declined", 1, {"7001", Cp("한도초과"), ""}, "7001|한도초과||01012345678||11000",
       "declined 7 7001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    slot_ = std::make_unique<RelaySlot>();
    journal_.steps.clear();
    network_.result = c.result;
    network_.answer = c.answer;
    ASSERT_TRUE(Handle(181, kSplitFields).queued);
    const std::optional<std::string> answer = ClientReceived();
    ASSERT_TRUE(answer.has_value());
    const std::string body = "182|T0001|" + c.fields_2_to_7 + std::string(19, '|');
    EXPECT_EQ(Readable(*answer),
              "^XX" + platform::ZeroPadded(static_cast<long long>(Cp(body).size() + 7), 4).value() +
                  body + "$");
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(PlacedCashReceipt(*slot_), "");
    EXPECT_EQ(journal_.steps,
              (std::vector<std::string>{"collect", "begin", "sent 7", c.declined, "answered 7"}));
  }
}

TEST_F(CashReceiptHandlerTest, ARepeatOfAnUnansweredApprovalIsAnsweredFromTheJournal) {
  journal_.kept = KeptAnswer{3, "kept answer frame"};
  ASSERT_TRUE(Handle(181, kSplitFields).queued);
  EXPECT_EQ(ClientReceived(), "kept answer frame");
  EXPECT_TRUE(network_.calls.empty());
  EXPECT_EQ(journal_.steps, std::vector<std::string>{"collect"});

  // The client left before its kept answer: the entry stays unanswered.
  journal_.steps.clear();
  auto [client, hub_end] = platform::testing::SocketPair();
  platform::CloseConnection(std::move(client));
  const std::string frame = protocol::BuildMessage(181, kSplitFields).value();
  ASSERT_TRUE(HandlePosRequest(*slot_, frame, hub_end.release(), settings_, pos_services_).queued);
  EXPECT_EQ(journal_.steps, (std::vector<std::string>{"collect", "collection unanswered 3"}));
  EXPECT_TRUE(network_.calls.empty());
}

TEST_F(CashReceiptHandlerTest, WithoutTheLibraryOrTheJournal) {
  // No journal: the transaction goes on unrecorded.
  services_.journal = nullptr;
  ASSERT_TRUE(Handle(161, kSplitFields).queued);
  EXPECT_TRUE(ClientReceived().has_value());
  EXPECT_EQ(slot_->journal_id.load(), 0);

  // No library: refused before anything is sent or written.
  services_.journal = &journal_;
  services_.network = nullptr;
  const PosRequestResult refused = Handle(161, kSplitFields);
  EXPECT_FALSE(refused.queued);
  EXPECT_EQ(Readable(protocol::FrameContent(refused.answer)),
            "^XX0048TRM162|T0001|9999|CASH RECEIPT NOT READY");
  EXPECT_TRUE(journal_.steps.empty());
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
}

}  // namespace
}  // namespace hub::payments
