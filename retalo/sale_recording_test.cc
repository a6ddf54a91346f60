#include "retalo/sale_recording.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/prefix.h"
#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/ordella_retalo.h"
#include "retalo/testing/retalo_fixture.h"

namespace retalo {
namespace {

using testing::Cp;
using testing::Params;

// A sale on the demo pharmacy: two packs of the 10-tablet pain killer at 3,000 and three
// bottles at 1,000 (scanned as its article number; the catalogue stores it with a leading 0),
// 9,000 received as 8,182 and 818 tax after a discount of 1,000, paid by card, sold to the
// customer 0000000001.
class SaleRecordingTest : public testing::RetaloTest {
 protected:
  void SetUp() override {
    RetaloTest::SetUp();
    today_ = TodayText();
    order_ = today_ + "000004";  // the demo's counter of today stands at 3
  }

  std::string Sale(std::string_view customer = "0000000001") const {
    return Params({"1", customer, "8182", "818", "1000", "2", "8806430100011", "3000", "2000", "2",
                   "DD", "8801234567890", "1000", "600", "3", "DD"});
  }
  std::string CardPayment(std::string_view count = "0") const {
    return Params({"8182", "818", "0", "C", "A12345", "T001", "9410123456789012=2512", "00",
                   today_ + "153000", count});
  }

  // The rows of a table: `columns` of every row, ordered by them.
  static std::string Rows(const std::string& table, const std::string& columns) {
    return Query("SELECT " + columns + " FROM " + table + " ORDER BY " + columns);
  }
  // Every row the sale writes, table by table.
  std::string Written() const {
    std::string all;
    for (const auto& [table, columns] : kWrittenTables) {
      all += table + ":\n" + Rows(table, columns) + "\n";
    }
    return all;
  }

  static inline const std::vector<std::pair<std::string, std::string>> kWrittenTables = {
      {"PM_PRES.SALE_MAIN",
       "SL_NO_ORDER, SL_DT_APPL, SL_CD_CUSTOM, SEQ, SL_CD_INS_CODE, SL_NM_COUNT, SL_NM_CUSTOM, "
       "SL_NO_SLIP_CRE, SL_NO_SLIP_REC, SL_MY_TOTAL, SL_MY_DISCOUNT, SL_MY_SALE, SL_MY_CREDIT, "
       "SL_MY_CRE_VAT, SL_MY_RECIVE, SL_MY_REC_VAT, SL_MY_DIS_RATIO, SL_MY_SALE_COST, "
       "SL_DAY_SERIAL, PANUM, POS_GUBUN"},
      {"PM_PRES.SALE_SUB",
       "SL_NO_ORDER, DRUGCODE, SL_CD_CUSTOM, SL_CD_INS_CODE, SL_UN_ITEM, SL_NM_UNIT, SL_NM_ITEM, "
       "SL_NM_COST_A, SL_MY_AMOUNT_R, SL_MY_VAT, SL_MY_IN_COST, DRUG_SERIAL, BARCODE, INPRICE"},
      {"PM_DRUG.IM_POSITION",
       "IM_SL_SELECT, IM_NO_SERIAL, DRUGCODE, IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT"},
      {"PM_DRUG.IM_DATE_TOTAL", "DRUGCODE, IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT"},
      {"PM_DRUG.IM_TOTAL", "DRUGCODE, IM_QT_SALE_DEBIT"},
      {"PM_BASE.SP_MAIN", "SP_NO_SLIP, SP_CL_SLIP, SP_NT_REMARK, SP_MY_AMOUNT"},
      {"PM_BASE.SPP_SUB",
       "SPP_NO_SLIP, SPP_CL_SLIP, SPP_SR_SLIP_COL, SPP_CD_ACCOUNT, SPP_IS_BUY_CUSTOM, "
       "SPP_CD_BUY_CUSTOM, SPP_NT_REMARK, SPP_MY_DEBIT, SPP_MY_CREDIT, SPP_IS_VAT, SPP_IS_AUTO, "
       "SPP_NO_SERIAL, SPP_CD_FAMILY"},
      {"PM_BASE.MC_CUSTOM_DATE",
       "MC_SL_SELECT, MC_CD_CUSTOM, MC_CD_ACC, MC_CD_HOUSE, MC_MY_DEBIT, MC_MY_CREDIT"},
      {"PM_BASE.MT_CUSTOM_TOTAL",
       "MT_SL_SELECT, MT_CD_CUSTOM, MT_CD_ACC, MT_CD_HOUSE, MT_MY_DEBIT, MT_MY_CREDIT"},
      {"PM_BASE.MA_ACCOUNT_DATE", "MA_CD_ACC, MA_MY_DEBIT, MA_MY_CREDIT"},
      {"PM_BASE.MT_TRIAL_BALANCE", "MT_CD_ACCOUNT, MT_MY_DEBIT, MT_MY_CREDIT"},
      // The demo's unpaid prescriptions have kind "0".
      {"PM_PRES.CD_SUNAB WHERE APPR_GUBUN <> '0'",
       "CUSCODE, PRESERIAL, DAY_SERIAL, ETC_CARD, OTC_CARD, OTC_CASH, DAERISUNAB, TEMP_4, "
       "TEMP_5, APPR_GUBUN, APPR_POSITION, PTRDTYPE, PTERMID, PTRACKDATA, PMONTH, PTRADEAMT, "
       "PTAXAMT, PAPPROVAL_NUM, NTRDNO, PCHK_GUBUN, PCARDINMODE"},
      {"PM_BASE.CD_BASE", "CD_SE_SERIAL"},
  };

  std::string today_;
  std::string order_;
};

TEST_P(SaleRecordingTest, ASaleWritesItsHeaderLinesStockStatementTotalsAndPayment) {
  ASSERT_EQ(SaveSaleData(Sale().c_str(), CardPayment().c_str(), 1), kExportOk) << LogText();
  const std::string o = order_;
  EXPECT_EQ(
      Written(),
      "PM_PRES.SALE_MAIN:\n" + o + "|" + today_ +
          "|0000000001|1|1234567890|1|홍길동||000005|10000|1000|9000|0|0|8182|818|10|5800|1|"
          "8001011234567|C\n"
          "PM_PRES.SALE_SUB:\n" +
          o + "|6430100010|0000000001|1234567890|004|10|2|3000|6000|0|2000|1|8806430100011|2000\n" +
          o +
          "|ZP00000041|0000000001|1234567890|003|1|3|1000|3000|0|600|2|08801234567890|600\n"
          "PM_DRUG.IM_POSITION:\nD|" +
          o + "|6430100010|0|20\nD|" + o +
          "|ZP00000041|0|3\n"
          "PM_DRUG.IM_DATE_TOTAL:\n6430100010|40|0\nZP00000041|3|0\n"
          "PM_DRUG.IM_TOTAL:\n6430100010|100\n6470200020|40\nZP00000041|12\n"
          "PM_BASE.SP_MAIN:\n000005|1||9000\n"
          "PM_BASE.SPP_SUB:\n"
          "000005|1|0001|4101|2|0000000001|일반매출|0|8182|0|D|" +
          o +
          "|1234567890\n"
          "000005|1|0002|2161|2|0000000001|일반매출|0|818|1|D|" +
          o +
          "|1234567890\n"
          "PM_BASE.MC_CUSTOM_DATE:\n2|0000000001|2161|1234567890|0|818\n"
          "2|0000000001|4101|1234567890|0|8182\n"
          "PM_BASE.MT_CUSTOM_TOTAL:\n2|0000000001|2161|1234567890|0|818\n"
          "2|0000000001|4101|1234567890|0|8182\n"
          "PM_BASE.MA_ACCOUNT_DATE:\n1100|9000|0\n2161|0|818\n4101|0|8182\n"
          "PM_BASE.MT_TRIAL_BALANCE:\n1100|59000|0\n2161|0|5363\n4101|0|53637\n"
          "PM_PRES.CD_SUNAB WHERE APPR_GUBUN <> '0':\n"
          "0000000001|" +
          o +
          "|1|0|9000|0|1|0|9000|1|3|D1|T001|9410123456789012=2512|00|8182|"
          "818|A12345|0004|KIC|1\n"
          "PM_BASE.CD_BASE:\n5\n");
  EXPECT_EQ(LogText(), "");
}

TEST_P(SaleRecordingTest, AFailureInTheSecondPhaseLeavesNothingOfIt) {
  struct Case {
    std::string drop_at;  // the connection drops at this statement ...
    int occurrence;       // ... at its n-th time
    std::string record;   // the export's failure line
  };
  const std::vector<Case> cases = {
      {"INSERT INTO PM_BASE..SP_MAIN", 1, "설명 [위치10 : 색인0]"},
      {"INSERT INTO PM_BASE..SPP_SUB", 2, "설명 [위치10 : 색인0]"},
      {"INSERT INTO PM_PRES..SALE_MAIN", 1, "설명 [위치11 : 색인0]"},
      {"INSERT INTO PM_PRES..SALE_SUB", 2, "설명 [위치12 : 색인1]"},
      {"UPDATE PM_DRUG..IM_TOTAL", 2, "설명 [위치13 : 색인1]"},
      {"PM_PRES..CD_SUNAB", 1, "설명 [위치14 : 색인0]"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    // What the first phase leaves: the order number taken.
    Query("UPDATE PM_BASE.CD_BASE SET CD_SE_SERIAL = 4");
    const std::string before = Written();
    Query("UPDATE PM_BASE.CD_BASE SET CD_SE_SERIAL = 3");
    EXPECT_EQ(SaveSale(Sale(), CardPayment(), 1, DropAt(c.drop_at, c.occurrence)), kDbStepFailed)
        << c.drop_at;
    EXPECT_TRUE(Dropped()) << c.drop_at;
    EXPECT_EQ(Written(), before) << c.drop_at;
    EXPECT_NE(LogText().find("에러 [-1002]\n" + c.record + "\n"), std::string::npos)
        << c.drop_at << "\n"
        << LogText();
  }
}

TEST_P(SaleRecordingTest, AFailureInTheFirstPhaseWritesNoSaleAndKeepsTheOrderNumberTaken) {
  struct Case {
    std::string name;
    std::string sale;
    std::string drop_at;  // the connection drops at this statement ...
    int occurrence;       // ... at its n-th time
    int refused;          // or this connection is refused
    int rc;
    std::string record;   // the export's record
    std::string counter;  // the day's counter afterwards (3 before the sale)
  };
  const std::string unknown_second =
      Params({"1", "0000000001", "8182", "818", "1000", "2", "8806430100011", "3000", "2000", "2",
              "DD", "8809999999999", "1000", "600", "3", "DD"});
  const std::vector<Case> cases = {
      {"the database cannot be reached", Sale(), "", 1, 1, kDbConnectFailed,
       "에러 [-1001]\n설명 [위치3 : DB연결실패]\n", "3"},
      {"no order number", Sale(), "PM_BASE..CD_BASE", 1, 0, kDbStepFailed,
       "CSalesChart::SetSalesChartMain\n설명 [위치1]\nAfter paymentData.GetSerialNum()\n" + Rule() +
           "SaveSaleData",
       "3"},
      {"the customer cannot be read", Sale(), "PM_BASE..CD_PERSON", 1, 0, kDbStepFailed,
       "에러 [-1002]\n설명 [위치5 : 색인0]\n", "4"},
      {"the second item's look-up", Sale(), "SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER", 2,
       0, kDbStepFailed, "에러 [-1002]\n설명 [위치6 : 색인1]\n", "4"},
      {"the second item's registration", unknown_second, "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER",
       1, 0, kDbStepFailed, "에러 [-1002]\n설명 [위치7 : 색인1]\n", "4"},
      {"the second line's package row", Sale(), "SELECT TOP 1 DRUGCODE, CD_CD_UNIT", 2, 0,
       kDbStepFailed,
       "CSalesChart::SetSalesChartSub\n []\niSaleSubIdx [1]\n설명 [위치1]\nSELECT TOP 1 "
       "DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT FROM "
       "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE = '08801234567890' ORDER BY SN DESC\n" +
           Rule() + "SaveSaleData",
       "4"},
      {"the second phase cannot connect", Sale(), "", 1, 2, kDbConnectFailed,
       "에러 [-1001]\n설명 [위치9 : DB연결실패]\n", "4"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    const CAdoConnection::Options options =
        c.refused > 0 ? RefuseConnection(c.refused) : DropAt(c.drop_at, c.occurrence);
    EXPECT_EQ(SaveSale(c.sale, CardPayment(), 1, options), c.rc) << c.name;
    EXPECT_TRUE(Dropped()) << c.name;
    EXPECT_EQ(Rows("PM_PRES.SALE_MAIN", "SL_NO_ORDER") + Rows("PM_PRES.SALE_SUB", "SL_NO_ORDER") +
                  Rows("PM_DRUG.IM_POSITION", "IM_NO_SERIAL") +
                  Rows("PM_BASE.SP_MAIN", "SP_NO_SLIP") +
                  Rows("PM_PRES.CD_SUNAB WHERE APPR_GUBUN <> '0'", "PRESERIAL"),
              "")
        << c.name;
    EXPECT_EQ(Rows("PM_BASE.CD_BASE", "CD_SE_SERIAL"), c.counter) << c.name;
    EXPECT_NE(LogText().find(c.record), std::string::npos) << c.name << "\n" << LogText();
  }
}

TEST_P(SaleRecordingTest, AFailedCommitStoresNothing) {
  Query("UPDATE PM_BASE.CD_BASE SET CD_SE_SERIAL = 4");
  const std::string before = Written();
  Query("UPDATE PM_BASE.CD_BASE SET CD_SE_SERIAL = 3");
  // The connection drops after the payment row's statement has run: only the commit fails.
  EXPECT_EQ(SaveSale(Sale(), CardPayment(), 1, DropAtCommit()), kDbStepFailed);
  EXPECT_TRUE(Dropped());
  EXPECT_EQ(Written(), before);
}

TEST_P(SaleRecordingTest, BadInputIsRefusedAndWritesNothing) {
  struct Case {
    std::string name;
    std::string sale;
    std::string payment;
    int rc;
    std::string record;
  };
  const std::string t = TodayText() + "153000";
  const std::vector<Case> cases = {
      {"empty sale", "", CardPayment(), kDataError, "설명 [위치1 : 판매정보 데이터구성오류]"},
      {"sale without its goods count", Params({"1", "0000000001", "8182", "818", "0"}),
       CardPayment(), kDataError, "설명 [위치1 : 판매정보 데이터구성오류]"},
      {"more items counted than given",
       Params({"1", "", "1000", "0", "0", "2", "8806430100011", "1000", "600", "1", "DD"}),
       CardPayment(), kDataError, "설명 [위치1 : 판매정보 데이터구성오류]"},
      {"an amount with a thousands separator", Params({"1", "", "8,182", "818", "0", "0"}),
       CardPayment(), kDataError, "설명 [위치1 : 판매정보 데이터구성오류]"},
      {"a quantity that is no number",
       Params({"1", "", "1000", "0", "0", "1", "8806430100011", "1000", "600", "two", "DD"}),
       CardPayment(), kDataError, "설명 [위치1 : 판매정보 데이터구성오류]"},
      {"a separator inside the customer code shifts every field after it", Sale("00‡01"),
       CardPayment(), kDataError, "설명 [위치1 : 판매정보 데이터구성오류]"},
      {"empty payment", Sale(), "", kDataError, "설명 [위치2 : 결제정보 데이터구성오류]"},
      {"payment without its count", Sale(),
       Params({"8182", "818", "0", "C", "A1", "T1", "", "00", t}), kDataError,
       "설명 [위치2 : 결제정보 데이터구성오류]"},
      {"more prescriptions counted than given", Sale(),
       Params({"8182", "818", "0", "C", "A1", "T1", "", "00", t, "1", "x", "", "", ""}), kDataError,
       "설명 [위치2 : 결제정보 데이터구성오류]"},
      {"an approval time without a date", Sale(),
       Params({"8182", "818", "0", "C", "A1", "T1", "", "00", "2024-1-5", "0"}), kDataError,
       "설명 [위치2 : 결제정보 데이터구성오류]"},
      {"a prescription that does not exist", Sale(),
       Params({"8182", "818", "0", "C", "A1", "T1", "", "00", t, "1", "20010101999999", "", "", "",
               ""}),
       kDbStepFailed, "설명 [위치4 : 색인0]"},
  };
  const std::string before = Written();
  for (const Case& c : cases) {
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    EXPECT_EQ(SaveSaleData(c.sale.c_str(), c.payment.c_str(), 1), c.rc) << c.name;
    EXPECT_EQ(Written(), before) << c.name;
    EXPECT_NE(LogText().find(c.record), std::string::npos) << c.name << "\n" << LogText();
  }
}

TEST_P(SaleRecordingTest, OutsideTextStaysInsideItsLiterals) {
  // A customer code with a quote and a separator-free name: no such customer, so the walk-in
  // customer; a barcode with a quote that nobody knows: registered as an unnamed product.
  const std::string sale = Params(
      {"1", "0000000001' OR '1'='1", "1000", "0", "0", "1", "880'1", "1000", "600", "1", "DD"});
  ASSERT_EQ(SaveSaleData(sale.c_str(), CardPayment().c_str(), 1), kExportOk) << LogText();
  EXPECT_EQ(Rows("PM_PRES.SALE_MAIN", "SL_CD_CUSTOM, SL_CD_INS_CODE, SL_NM_CUSTOM"),
            "0000000000|0000000000|");
  EXPECT_EQ(Rows("PM_PRES.SALE_SUB", "DRUGCODE, BARCODE, SL_NM_ITEM"), "ZP00000042|880'1|1");
  EXPECT_EQ(Query("SELECT IM_QT_SALE_DEBIT FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = 'ZP00000042'"),
            "-1");
}

TEST_P(SaleRecordingTest, TheSaleFollowsItsTextAndPayment) {
  struct Case {
    std::string name;
    std::string sale;
    std::string payment;
    std::string table;
    std::string columns;
    std::string rows;
  };
  const std::string t = today_ + "153000";
  const std::string cash_for_prescription =
      Params({"1000", "0", "3500", "H", "N77", "", "0100001234", "", t, "1", today_ + "000001", "",
              "", "", ""});
  const std::vector<Case> cases = {
      {"no goods: a header, its statement and its payment",
       Params({"1", "0000000001", "1000", "100", "0", "0"}), CardPayment(), "PM_PRES.SALE_MAIN",
       "SL_MY_SALE, SL_MY_SALE_COST, SL_NO_SLIP_REC", "1100|0|000005"},
      {"nothing received: no statement", Params({"1", "", "0", "0", "0", "0"}), CardPayment(),
       "PM_BASE.SP_MAIN", "SP_NO_SLIP", ""},
      {"a return of two packs of ten raises the stock by twenty",
       Params({"1", "", "0", "0", "0", "1", "8806430100011", "3000", "2000", "-2", "DD"}),
       CardPayment(), "PM_DRUG.IM_DATE_TOTAL JOIN PM_DRUG.IM_TOTAL USING (DRUGCODE)",
       "DRUGCODE, IM_DATE_TOTAL.IM_QT_SALE_CREDIT, IM_DATE_TOTAL.IM_QT_SALE_DEBIT, "
       "IM_TOTAL.IM_QT_SALE_DEBIT",
       "6430100010|20|20|140"},
      {"an unknown customer is the walk-in customer", Sale("0000000099"), CardPayment(),
       "PM_PRES.SALE_MAIN", "SL_CD_CUSTOM, SL_CD_INS_CODE, SL_NM_CUSTOM, SEQ, PANUM",
       "0000000000|0000000000||0|"},
      {"an inactive customer is the walk-in customer", Sale("0000000003"), CardPayment(),
       "PM_PRES.SALE_MAIN", "SL_CD_CUSTOM", "0000000000"},
      {"no customer given: the prescription's customer, and a row per prescription",
       Params({"1", "", "1000", "0", "0", "0"}), cash_for_prescription,
       "PM_PRES.CD_SUNAB WHERE APPR_GUBUN <> '0'",
       "CUSCODE, PRESERIAL, OTC_CASH, ETC_CASH, DAERISUNAB, TEMP_4, TEMP_5, NCHK_GUBUN, "
       "AUTOGUBUN, NAPPROVAL_NUM",
       "0000000001|" + today_ + "000001|0|0|2|3500|0|KCJ|1|N77\n0000000001|" + order_ +
           "|1000|3500|1|0|1000|KCJ|1|N77"},
      {"a cash receipt stores the identity with the prescription's customer",
       Params({"1", "", "1000", "0", "0", "0"}), cash_for_prescription, "PM_BASE.CD_PERSON",
       "CUSCODE, CASH_NUM",
       "0000000001|0100001234\n0000000002|01012345678\n"
       "0000000003|NULL"},
      {"a price change flagged and allowed is the line's price",
       Params({"1", "", "5000", "0", "0", "1", "8806470200028", "5000", "2700", "1", "UU"}),
       CardPayment(), "PM_PRES.SALE_SUB", "SL_NM_COST_A, SL_MY_IN_COST", "5000|2700"},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(SaveSaleData(c.sale.c_str(), c.payment.c_str(), 1), kExportOk) << c.name << "\n"
                                                                             << LogText();
    EXPECT_EQ(Rows(c.table, c.columns), c.rows) << c.name;
  }
}

TEST_P(SaleRecordingTest, DiscountRatioIsAPercentageOfTheTotal) {
  struct Case {
    std::string received, tax, discount;
    std::string ratio;
  };
  const std::vector<Case> cases = {
      {"9000", "0", "1000", "10"},  // 1,000 of 10,000
      {"2000", "0", "1000", "33.33"},
      {"1000", "0", "2000", "66.67"},
      {"0", "0", "0", "0"},  // no total: no ratio
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string sale = Params({"1", "", c.received, c.tax, c.discount, "0"});
    ASSERT_EQ(SaveSaleData(sale.c_str(), CardPayment().c_str(), 0), kExportOk) << LogText();
    EXPECT_EQ(Rows("PM_PRES.SALE_MAIN", "SL_MY_DIS_RATIO"), c.ratio) << c.received;
  }
}

TEST_P(SaleRecordingTest, BookingAnOrderAgainReversesItsEarlierStatementFirst) {
  ASSERT_EQ(SaveSaleData(Sale().c_str(), CardPayment().c_str(), 1), kExportOk) << LogText();
  const std::string totals =
      Rows("PM_BASE.MC_CUSTOM_DATE", "MC_CD_ACC, MC_MY_DEBIT, MC_MY_CREDIT") +
      Rows("PM_BASE.MT_CUSTOM_TOTAL", "MT_CD_ACC, MT_MY_DEBIT, MT_MY_CREDIT") +
      Rows("PM_BASE.MA_ACCOUNT_DATE", "MA_CD_ACC, MA_MY_DEBIT, MA_MY_CREDIT") +
      Rows("PM_BASE.MT_TRIAL_BALANCE", "MT_CD_ACCOUNT, MT_MY_DEBIT, MT_MY_CREDIT");

  // The same order's statement written again, as a repeated booking does.
  CAdoConnection db;
  ASSERT_TRUE(db.OpenWithTransaction());
  CSalesChart chart;
  chart.order_number = order_;
  chart.sale_date = today_;
  chart.customer_code = "0000000001";
  chart.insurance_code = "1234567890";
  chart.received = 8182;
  chart.received_tax = 818;
  ASSERT_TRUE(chart.ManageStatement(db)) << LogText();
  ASSERT_TRUE(db.Commit());
  db.End();

  EXPECT_EQ(chart.received_slip, "000006");
  EXPECT_EQ(Rows("PM_BASE.SP_MAIN", "SP_NO_SLIP, SP_MY_AMOUNT"), "000006|9000");
  EXPECT_EQ(Rows("PM_BASE.SPP_SUB", "SPP_NO_SLIP, SPP_SR_SLIP_COL, SPP_CD_ACCOUNT, SPP_MY_CREDIT"),
            "000006|0001|4101|8182\n000006|0002|2161|818");
  EXPECT_EQ(Rows("PM_BASE.MC_CUSTOM_DATE", "MC_CD_ACC, MC_MY_DEBIT, MC_MY_CREDIT") +
                Rows("PM_BASE.MT_CUSTOM_TOTAL", "MT_CD_ACC, MT_MY_DEBIT, MT_MY_CREDIT") +
                Rows("PM_BASE.MA_ACCOUNT_DATE", "MA_CD_ACC, MA_MY_DEBIT, MA_MY_CREDIT") +
                Rows("PM_BASE.MT_TRIAL_BALANCE", "MT_CD_ACCOUNT, MT_MY_DEBIT, MT_MY_CREDIT"),
            totals);
}

TEST_P(SaleRecordingTest, SalesStatementsAndStockRevisionsShareTheDaysCounter) {
  ASSERT_EQ(SaveSaleData(Sale().c_str(), CardPayment().c_str(), 1), kExportOk) << LogText();
  ASSERT_EQ(StockRevision("8806470200028", 35), kExportOk) << LogText();
  ASSERT_EQ(SaveSaleData(Sale().c_str(), CardPayment().c_str(), 1), kExportOk) << LogText();
  const std::string d = today_;
  EXPECT_EQ(Rows("PM_PRES.SALE_MAIN", "SL_NO_ORDER, SL_NO_SLIP_REC, SL_DAY_SERIAL"),
            d + "000004|000005|1\n" + d + "000007|000008|2");
  EXPECT_EQ(Rows("PM_DRUG.IMS_STOCK_REVISION", "IMS_NO_SERIAL"), d + "000006");
  EXPECT_EQ(Rows("PM_BASE.SP_MAIN", "SP_NO_SLIP"), "000005\n000008");
}

TEST_P(SaleRecordingTest, ALedgerFailureIsLoggedAtEveryLevel) {
  EXPECT_EQ(SaveSale(Sale(), CardPayment(), 1, DropAt("UPDATE PM_BASE..MT_TRIAL_BALANCE")),
            kDbStepFailed);
  const std::string log = LogText();
  const std::string chain[] = {
      "CDatabaseUtil::WorkForBalance\nstrAccount [4101]\niWorkCode [0]\ndDebit [0.000000]\n"
      "dCredit [53637.000000]\n설명 [위치1]\nUPDATE PM_BASE..MT_TRIAL_BALANCE SET MT_MY_DEBIT = 0, "
      "MT_MY_CREDIT = 53637 WHERE MT_CD_ACCOUNT = '4101'\n",
      "CDatabaseUtil::UpdateBalance\n []\niWorkCode [0]\n설명 [위치2 : After WorkForBalance()]\n",
      "CDatabaseUtil::InsertStatement\n설명 [위치6 : After UpdateBalance()]\n",
      "CSalesChart::ManageStatement\n설명 [위치7 : dbUtil.InsertStatement()]\n",
      "에러 [-1002]\n설명 [위치10 : 색인0]\n",
  };
  size_t at = 0;
  for (const std::string& record : chain) {
    at = log.find(record, at);
    ASSERT_NE(at, std::string::npos) << record << "\nin\n" << log;
  }
}

RETALO_ON_EVERY_BACKEND(SaleRecordingTest);

}  // namespace
}  // namespace retalo
