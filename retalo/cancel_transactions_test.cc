#include "retalo/cancel_transactions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/prefix.h"
#include "platform/registry.h"
#include "retalo/db/export_frame.h"
#include "retalo/ordella_retalo.h"
#include "retalo/testing/retalo_fixture.h"

namespace retalo {
namespace {

using testing::Cp;

// Payment rows of 2013-12-20 beside the demo pharmacy's own (which have no approval numbers):
//   S1, S2  card approval A100 that paid a sale and a prescription (each row's share in TEMP_*)
//   S3      card approval A200 that paid one item
//   S4      cash receipt C300 that paid one item
//   S5      an approval A100 of the day before
class CancelTransTest : public testing::RetaloTest {
 protected:
  void SetUp() override {
    RetaloTest::SetUp();
    struct Row {
      const char* serial;
      const char* card_approval;
      const char* cash_approval;
      const char* date;
      int etc_card, otc_card, etc_cash, otc_cash, temp_4, temp_5;
    };
    const Row rows[] = {
        {"S1", "A100", "", "20131220153000", 3000, 2000, 0, 0, 3000, 0},
        {"S2", "A100", "", "20131220", 3000, 2000, 0, 0, 0, 2000},
        {"S3", "A200", "", "20131220090000", 1500, 700, 0, 0, 11, 12},
        {"S4", "", "C300", "20131220100000", 0, 0, 4000, 900, 21, 22},
        {"S5", "A100", "", "20131219110000", 800, 600, 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
      Query(std::string("INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, INDATE, PRESERIAL, ETC_CARD, "
                        "OTC_CARD, ETC_CASH, OTC_CASH, ETC_PAPER, OTC_PAPER, TEMP_4, TEMP_5, "
                        "DAERISUNAB, APPR_GUBUN, PTRDTYPE, APPR_DATE, PAPPROVAL_NUM, PCANCEL_NUM, "
                        "PCARDINMODE, NAPPROVAL_NUM, NCANCEL_NUM, NCASHINMODE) VALUES "
                        "('0000000009', '20131220', '") +
            r.serial + "', " + std::to_string(r.etc_card) + ", " + std::to_string(r.otc_card) +
            ", " + std::to_string(r.etc_cash) + ", " + std::to_string(r.otc_cash) + ", 0, 0, " +
            std::to_string(r.temp_4) + ", " + std::to_string(r.temp_5) + ", '0', '1', 'D1', '" +
            r.date + "', '" + r.card_approval + "', '', '1', '" + r.cash_approval + "', '', '1')");
    }
  }

  // Every payment row: serial, then the columns a cancel writes.
  static std::map<std::string, std::string> Rows() {
    const std::string text = Query(
        "SELECT PRESERIAL, PCANCEL_NUM, PCARDINMODE, NCANCEL_NUM, NCASHINMODE, APPR_GUBUN, "
        "PTRDTYPE, DAERISUNAB, ETC_CARD, OTC_CARD, ETC_CASH, OTC_CASH, ETC_PAPER, OTC_PAPER "
        "FROM PM_PRES.CD_SUNAB");
    std::map<std::string, std::string> rows;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      const size_t bar = line.find('|');
      rows[line.substr(0, bar)] = line.substr(bar + 1);
      start = end + 1;
    }
    return rows;
  }
};

TEST_P(CancelTransTest, CancelMovesTheApprovalsAmountsToPaperAndTouchesNoOtherRow) {
  struct Case {
    std::string name;
    std::string approval;
    std::string date;
    int kind;
    int rc;
    // The rows that change, afterwards: cancel numbers and input modes (card, cash receipt),
    // kind, transaction type, DAERISUNAB, card, cash and paper amounts (ETC, OTC).
    std::map<std::string, std::string> changed;
  };
  const std::vector<Case> cases = {
      {"card approval of two rows: each row's own share becomes paper",
       "A100",
       "20131220",
       kCancelCard,
       kExportOk,
       {{"S1", "A100|2||1|5|D2|1|0|0|0|0|3000|0"}, {"S2", "A100|2||1|5|D2|1|0|0|0|0|0|2000"}}},
      {"card approval of one row: its card amounts become paper",
       "A200",
       "20131220",
       kCancelCard,
       kExportOk,
       {{"S3", "A200|2||1|5|D2|1|0|0|0|0|1500|700"}}},
      {"cash receipt of one row",
       "C300",
       "20131220",
       kCancelCashReceipt,
       kExportOk,
       {{"S4", "|1|C300|2|6||1|0|0|0|0|4000|900"}}},
      {"any kind but card is a cash receipt; the date is the start of APPR_DATE",
       "C300",
       "2013",
       7,
       kExportOk,
       {{"S4", "|1|C300|2|6||1|0|0|0|0|4000|900"}}},
      {"a card approval number is no cash receipt",
       "A200",
       "20131220",
       kCancelCashReceipt,
       kDataError,
       {}},
      {"unknown approval", "Z999", "20131220", kCancelCard, kDataError, {}},
      {"approval of another day", "A200", "20131221", kCancelCard, kDataError, {}},
      {"a quote in the approval number stays inside its literal",
       "A100' OR '1'='1",
       "2013",
       kCancelCard,
       kDataError,
       {}},
      {"an empty approval number matches no unapproved row",
       "",
       "",
       kCancelCashReceipt,
       kDataError,
       {}},
      {"a wildcard date reaches no other day", "A100", "%", kCancelCard, kDataError, {}},
  };
  for (const Case& c : cases) {
    SetUp();
    std::map<std::string, std::string> expected = Rows();
    for (const auto& [serial, row] : c.changed) expected[serial] = Cp(row);
    EXPECT_EQ(MakeCancelTrans(c.approval.c_str(), c.date.c_str(), c.kind), c.rc) << c.name;
    EXPECT_EQ(Rows(), expected) << c.name;
  }
}

TEST_P(CancelTransTest, RepeatedCancelKeepsThePaperAmounts) {
  ASSERT_EQ(MakeCancelTrans("A200", "20131220", kCancelCard), kExportOk);
  const std::map<std::string, std::string> once = Rows();
  EXPECT_EQ(MakeCancelTrans("A200", "20131220", kCancelCard), kExportOk);
  EXPECT_EQ(Rows(), once);
  EXPECT_EQ(LogText(), "");
}

TEST_P(CancelTransTest, FailuresAreLoggedWithTheirPosition) {
  struct Case {
    std::string name;
    std::string setup;  // plain SQLite run first, or "unreachable"
    int rc;
    std::string record;
  };
  const std::vector<Case> cases = {
      {"database unreachable", "unreachable", kDbConnectFailed,
       "에러 [-1001]\n설명 [위치1 : DB연결실패]\n"},
      {"no row", "DELETE FROM PM_PRES.CD_SUNAB WHERE PAPPROVAL_NUM = 'A200'", kDataError,
       "에러 [-1003]\n설명 [위치3 : 찾을 수 없는 승인번호]\n"},
      {"count fails", "ALTER TABLE PM_PRES.CD_SUNAB RENAME COLUMN APPR_DATE TO APPR_DAY",
       kDataError, "에러 [-1003]\n설명 [위치2 : 찾을 수 없는 승인번호]\n"},
      {"update fails", "ALTER TABLE PM_PRES.CD_SUNAB DROP COLUMN DAERISUNAB", kDbStepFailed,
       "에러 [-1002]\n설명 [위치4 : 색인0]\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    if (c.setup == "unreachable") {
      MakeDatabaseUnreachable();
    } else {
      Query(c.setup);
    }
    EXPECT_EQ(MakeCancelTrans("A200", "20131220", kCancelCard), c.rc) << c.name;
    EXPECT_EQ(LogText(), "MakeCancelTrans\n승인번호 [A200]\n승인일자 [20131220]\n결제방식 [1]\n" +
                             c.record + Rule())
        << c.name;
    MakeDatabaseReachable();
  }
}

RETALO_ON_EVERY_BACKEND(CancelTransTest);

}  // namespace
}  // namespace retalo
