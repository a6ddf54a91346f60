#include "retalo/payment_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/testing/retalo_fixture.h"

namespace retalo {
namespace {

using testing::Cp;
using testing::Params;

TEST(PaymentDataTest, ReadsTheHeaderAndThePrescriptionRecords) {
  CPaymentData payment;
  ASSERT_TRUE(payment.Parse(Params(
      {"1000", "100", "3500", "C",  "A1", "T1", "card", "03", "20131220153000", "2", "S1", "",
       "",     "",    "",     "S2", "d",  "7",  "c",    "900"})));
  EXPECT_EQ(payment.otc_amount, 1000);
  EXPECT_EQ(payment.otc_tax, 100);
  EXPECT_EQ(payment.etc_amount, 3500);
  EXPECT_EQ(payment.kind, "C");
  EXPECT_EQ(payment.BusinessDate(), "20131220");
  ASSERT_EQ(payment.m_pstCustomerData.size(), 2u);
  EXPECT_EQ(payment.m_pstCustomerData[0].strPreSerial, "S1");
  EXPECT_EQ(payment.m_pstCustomerData[1].strPreSerial, "S2");
  EXPECT_EQ(payment.m_pstCustomerData[1].iDaySerial, 7);
  EXPECT_EQ(payment.m_pstCustomerData[1].price, 900);

  const std::vector<std::string> refused = {
      "",
      Params({"1000", "100", "0", "C", "A1", "T1", "", "", "20131220153000"}),
      Params({"1000", "100", "0", "C", "A1", "T1", "", "", "20131220153000", "1"}),
      Params({"1000", "100", "0", "C", "A1", "T1", "", "", "20131220153000", "-1"}),
      Params({"1,000", "100", "0", "C", "A1", "T1", "", "", "20131220153000", "0"}),
      Params({"1000", "100", "0", "C", "A1", "T1", "", "", "2013", "0"}),
      Params({"1000", "100", "0", "C", "A1", "T1", "", "", "20131220153000", "1", "S1", "", "x", "",
              ""}),
  };
  for (const std::string& text : refused) EXPECT_FALSE(CPaymentData().Parse(text)) << text;
}

TEST(TransRecordTest, ThePaymentKindDecidesTheColumns) {
  struct Case {
    std::string kind;
    std::string identity;
    // APPR_GUBUN, OTC card/cash, ETC card/cash, trade/supply amount, tax, checker, auto mark
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"C", "9410123456789012=2512", "1|1100/0|3500/0|4500/0|100/0|KIC/|"},
      {"H", "01012345678", "2|0/1100|0/3500|0/4500|0/100|/KIC|"},
      {"B", "0100001234", "2|0/1100|0/3500|0/4500|0/100|/KCJ|1"},
      {"P", "", "A|0/1100|0/3500|0/4500|0/100|KIC/|"},
      {"X", "", "|0/0|0/0|0/0|0/0|/|"},
  };
  for (const Case& c : cases) {
    CPaymentData payment;
    ASSERT_TRUE(payment.Parse(Params(
        {"1000", "100", "3500", c.kind, "A1", "T1", c.identity, "03", "20131220153000", "0"})));
    CTransRecord row;
    row.SetTransRecord(payment, SaleKey{"", "20131220", "20131220000012", 3, 1});
    const std::string got = row.APPR_GUBUN + "|" + std::to_string(row.OTC_CARD) + "/" +
                            std::to_string(row.OTC_CASH) + "|" + std::to_string(row.ETC_CARD) +
                            "/" + std::to_string(row.ETC_CASH) + "|" +
                            std::to_string(row.PTRADEAMT) + "/" + std::to_string(row.NSUPAMT) +
                            "|" + std::to_string(row.PTAXAMT) + "/" + std::to_string(row.NVATAMT) +
                            "|" + row.PCHK_GUBUN + "/" + row.NCHK_GUBUN + "|" + row.AUTOGUBUN;
    EXPECT_EQ(got, c.expected) << c.kind;
    // The sale's own row: its key, the walk-in customer for a sale without one.
    EXPECT_EQ(row.CUSCODE, kWalkInCustomer);
    EXPECT_EQ(row.PRESERIAL, "20131220000012");
    EXPECT_EQ(row.APPR_POSITION, "3");
    EXPECT_EQ(row.TEMP_5, c.kind == "C" ? 1100 : 0);
  }
}

TEST(TransRecordTest, CardDataIsMaskedForTheLog) {
  EXPECT_EQ(MaskCardForLog("9410123456789012=25121010000"), "941012******9012");
  EXPECT_EQ(MaskCardForLog("9410123456789012D2512"), "941012******9012");
  EXPECT_EQ(MaskCardForLog("01012345678"), "010123*5678");
  EXPECT_EQ(MaskCardForLog(""), "");
  EXPECT_EQ(CPaymentData::MaskedForLog(Params(
                {"1", "2", "3", "C", "A", "T", "9410123456789012=2512", "0", "20131220", "0"})),
            Params({"1", "2", "3", "C", "A", "T", "941012******9012", "0", "20131220", "0"}));
}

class PaymentRecordTest : public testing::RetaloTest {
 protected:
  void SetUp() override {
    RetaloTest::SetUp();
    ASSERT_TRUE(db_.OpenConnection());
  }
  void TearDown() override { db_.End(); }

  CAdoConnection db_;
};

TEST_P(PaymentRecordTest, OrderNumbersComeFromTheDaysCounter) {
  std::string order;
  int day_serial = 0;
  // A day without a counter: the counter starts at 1, opened at nine.
  ASSERT_TRUE(CPaymentData::GetSerialNum(db_, "20131220", &order, &day_serial));
  EXPECT_EQ(order, "20131220000001");
  EXPECT_EQ(day_serial, 1);
  EXPECT_EQ(Query("SELECT CD_SE_BASE, CD_SE_SERIAL, OPENTIME FROM PM_BASE.CD_BASE WHERE "
                  "CD_DT_APPL = '20131220'"),
            "0|1|0900");
  // The day serial follows the day's sales.
  Query(
      "INSERT INTO PM_PRES.SALE_MAIN (SL_NO_ORDER, SL_DT_APPL, SL_DAY_SERIAL) VALUES "
      "('20131220000001', '20131220', 7)");
  ASSERT_TRUE(CPaymentData::GetSerialNum(db_, "20131220", &order, &day_serial));
  EXPECT_EQ(order, "20131220000002");
  EXPECT_EQ(day_serial, 8);
}

TEST_P(PaymentRecordTest, APrescriptionRecordIsCompletedOrItsIndexLogged) {
  const std::string today = TodayText();
  CPaymentData payment;
  ASSERT_TRUE(payment.Parse(Params(
      {"0", "0", "7700", "C",    "A1", "T1", "", "", today + "120000", "2", today + "000002", "",
       "",  "",  "",     "nope", "",   "",   "", ""})));
  EXPECT_FALSE(payment.SetCustomerData(db_));
  const PrescriptionRecord& first = payment.m_pstCustomerData[0];
  EXPECT_EQ(first.customer_code, "0000000002");
  EXPECT_EQ(first.received_date, today);
  EXPECT_EQ(first.iDaySerial, 2);
  EXPECT_EQ(first.price, 4200);
  EXPECT_EQ(LogText(),
            "CPaymentData::SetCustomerData\nstrQuery [SELECT PRESERIAL, INDATE, DAY_SERIAL, "
            "CUSCODE, PRICE_N FROM PM_PRES..PS_MAIN WHERE PRESERIAL = 'nope']\n설명 [위치1 : "
            "색인1]\n" +
                Rule());
}

TEST_P(PaymentRecordTest, APaymentRowIsUpdatedInPlaceAndTheIdentityStoredOnlyWhenGiven) {
  CTransRecord row;
  row.CUSCODE = "0000000001";
  row.INDATE = "20131220";
  row.PRESERIAL = "20131220000001";
  row.OTC_CASH = 500;
  ASSERT_TRUE(row.UpdateTransRecord(db_));
  row.OTC_CASH = 700;
  row.PCARDNAME = "O'Neil";
  ASSERT_TRUE(row.UpdateTransRecord(db_));
  EXPECT_EQ(Query("SELECT OTC_CASH, PCARDNAME FROM PM_PRES.CD_SUNAB WHERE PRESERIAL = "
                  "'20131220000001'"),
            "700|O'Neil");
  ASSERT_TRUE(row.UpdateCashTrack2(db_));  // no identity: nothing written
  EXPECT_EQ(Query("SELECT CASH_NUM FROM PM_BASE.CD_PERSON WHERE CUSCODE = '0000000001'"), "");
  row.NCHKNOGBN = "01099998888";
  ASSERT_TRUE(row.UpdateCashTrack2(db_));
  EXPECT_EQ(Query("SELECT CASH_NUM FROM PM_BASE.CD_PERSON WHERE CUSCODE = '0000000001'"),
            "01099998888");
}

TEST_P(PaymentRecordTest, AFailedPaymentRowIsLoggedWithoutTheCardNumber) {
  Query("ALTER TABLE PM_PRES.CD_SUNAB DROP COLUMN SMCHNO");
  CTransRecord row;
  row.CUSCODE = "0000000001";
  row.PTRACKDATA = "9410123456789012=25121010000";
  EXPECT_FALSE(row.UpdateTransRecord(db_));
  const std::string log = LogText();
  EXPECT_EQ(log.find("9410123456789012"), std::string::npos) << log;
  EXPECT_EQ(log.find("=2512"), std::string::npos) << log;
  EXPECT_NE(log.find("PTRACKDATA = '941012******9012'"), std::string::npos) << log;
}

RETALO_ON_EVERY_BACKEND(PaymentRecordTest);

}  // namespace
}  // namespace retalo
