#include "retalo/prescription_payment.h"

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

using testing::Params;

// The demo's two prescriptions of today: P1 (customer 0000000001, day serial 1, 3,500) and P2
// (0000000002, day serial 2, 4,200).
class PrescriptionPaymentTest : public testing::RetaloTest {
 protected:
  void SetUp() override {
    RetaloTest::SetUp();
    today_ = TodayText();
    p1_ = today_ + "000001";
    p2_ = today_ + "000002";
  }

  std::string Payment(std::string_view kind, std::string_view identity,
                      const std::vector<std::string>& serials) const {
    std::string text = Params({"0", "0", "7700", kind, "A77", "T1", identity, "00",
                               today_ + "101500", std::to_string(serials.size())});
    for (const std::string& serial : serials) {
      text +=
          testing::kSep + serial + testing::kSep + testing::kSep + testing::kSep + testing::kSep;
    }
    return text;
  }

  static std::string PaymentRows() {
    return Query(
        "SELECT CUSCODE, INDATE, PRESERIAL, DAY_SERIAL, ETC_CARD, ETC_CASH, OTC_CARD, DAERISUNAB, "
        "TEMP_4, TEMP_5, APPR_GUBUN, APPR_POSITION, APPR_DATE, PAPPROVAL_NUM, NAPPROVAL_NUM "
        "FROM PM_PRES.CD_SUNAB ORDER BY PRESERIAL");
  }

  std::string today_, p1_, p2_;
};

TEST_P(PrescriptionPaymentTest, OneRowPerPrescriptionTheFirstWithThePayment) {
  ASSERT_EQ(SavePresData(Payment("C", "9410123456789012", {p1_, p2_}).c_str()), kExportOk)
      << LogText();
  const std::string t = today_ + "101500";
  EXPECT_EQ(PaymentRows(), "0000000001|" + today_ + "|" + p1_ + "|1|7700|0|0|1|3500|0|1|1|" + t +
                               "|A77|\n"
                               "0000000002|" +
                               today_ + "|" + p2_ + "|1|0|0|0|2|4200|0|1|1|" + t + "|A77|");
  EXPECT_EQ(LogText(), "");
}

TEST_P(PrescriptionPaymentTest, WhatThePaymentCoversDecidesItsRows) {
  struct Case {
    std::string name;
    std::string payment;
    std::string rows;  // CUSCODE, INDATE, PRESERIAL, DAY_SERIAL, ETC_CASH, TEMP_4, TEMP_5 of
                       // the paid rows, and the first customer's CASH_NUM
  };
  const std::vector<Case> cases = {
      {"no prescription: a row under a fresh order number", Payment("H", "", {}),
       "0000000000|" + today_ + "|" + today_ + "000004|1|7700|0|0\n|"},
      {"one prescription: no shares", Payment("H", "01055556666", {p1_}),
       "0000000001|" + today_ + "|" + p1_ + "|1|7700|0|0\n|01055556666"},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(SavePresData(c.payment.c_str()), kExportOk) << c.name << "\n" << LogText();
    EXPECT_EQ(Query("SELECT CUSCODE, INDATE, PRESERIAL, DAY_SERIAL, ETC_CASH, TEMP_4, TEMP_5 "
                    "FROM PM_PRES.CD_SUNAB WHERE APPR_GUBUN = '2' ORDER BY PRESERIAL") +
                  "\n|" +
                  Query("SELECT CASH_NUM FROM PM_BASE.CD_PERSON WHERE CUSCODE = '0000000001'"),
              c.rows)
        << c.name;
  }
}

TEST_P(PrescriptionPaymentTest, AFailureAnywhereWritesNothing) {
  struct Case {
    std::string name;
    std::string payment;
    std::string drop_at;  // empty: no dropped connection
    int rc;
    std::string record;
    int refused = 0;      // this connection is refused
    std::string setup{};  // plain SQLite run first
  };
  const std::vector<Case> cases = {
      {"empty", "", "", kDataError, "에러 [-1003]\n설명 [위치1 : 결제정보 데이터구성오류]"},
      {"the database cannot be reached", Payment("C", "", {p1_}), "", kDbConnectFailed,
       "에러 [-1001]\n설명 [위치2 : DB연결실패]", 1},
      {"a prescription without its day serial", Payment("C", "", {p1_}), "", kDbStepFailed,
       "CPaymentData::SetDefaultCustomerData\nm_pstCustomerData[0].strPreSerial [" + p1_ +
           "]\nm_pstCustomerData[0].iDaySerial [0]\n설명 [위치2 : 변수값 오류]\n" + Rule() +
           "SavePresData",
       0, "UPDATE PM_PRES.PS_MAIN SET DAY_SERIAL = 0 WHERE PRESERIAL = '" + p1_ + "'"},
      {"no order number for a payment without prescriptions", Payment("H", "", {}),
       "PM_BASE..CD_BASE", kDbStepFailed,
       "CTransRecord::SetTransRecord\n설명 [위치1]\nAfter paymentData.GetSerialNum()"},
      {"a prescription that does not exist", Payment("C", "", {p1_, "20010101000001"}), "",
       kDbStepFailed, "에러 [-1002]\n설명 [위치3 : 색인0]"},
      {"the first row", Payment("C", "", {p1_, p2_}), "PM_PRES..CD_SUNAB", kDbStepFailed,
       "에러 [-1002]\n설명 [위치5 : 색인0]"},
      {"the identity", Payment("H", "010", {p1_, p2_}), "CD_PERSON SET", kDbStepFailed,
       "에러 [-1002]\n설명 [위치6 : 색인0]"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    if (!c.setup.empty()) Query(c.setup);
    const std::string before = PaymentRows();
    EXPECT_EQ(SavePrescriptionPayment(
                  c.payment, c.refused > 0 ? RefuseConnection(c.refused) : DropAt(c.drop_at)),
              c.rc)
        << c.name;
    EXPECT_EQ(PaymentRows(), before) << c.name;
    EXPECT_NE(LogText().find(c.record), std::string::npos) << c.name << "\n" << LogText();
  }
  // The second prescription's row fails after the first was written: both go.
  SetUp();
  const std::string before = PaymentRows();
  EXPECT_EQ(SavePrescriptionPayment(Payment("C", "", {p1_, p2_}), DropAt("PM_PRES..CD_SUNAB", 2)),
            kDbStepFailed);
  EXPECT_EQ(PaymentRows(), before);
  EXPECT_NE(LogText().find("에러 [-1002]\n설명 [위치7 : 색인1]"), std::string::npos) << LogText();
}

TEST_P(PrescriptionPaymentTest, APharmacistNameWrittenBeforeAFailureStays) {
  const std::string two = Params({"김약사", "2", p1_, "", "", "", "", p2_, "", "", "", ""});
  EXPECT_EQ(UpdatePharmacistName(two, DropAt("UPDATE PM_PRES..PS_MAIN", 2)), kDbStepFailed);
  EXPECT_EQ(Query("SELECT PRESERIAL || ':' || PH_NAME FROM PM_PRES.PS_MAIN WHERE PRESERIAL IN ('" +
                  p1_ + "', '" + p2_ + "') ORDER BY PRESERIAL"),
            p1_ + ":김약사\n" + p2_ + ":");
  EXPECT_NE(LogText().find("UpdatePresData\n결제정보 [" + testing::Utf8(two) +
                           "]\n에러 [-1002]\n설명 [위치3 : 색인1]\n"),
            std::string::npos)
      << LogText();
  std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
  EXPECT_EQ(UpdatePharmacistName(two, RefuseConnection(1)), kDbConnectFailed);
  EXPECT_NE(LogText().find("에러 [-1001]\n설명 [위치2 : DB연결실패]\n"), std::string::npos)
      << LogText();
}

TEST_P(PrescriptionPaymentTest, ThePharmacistIsWrittenIntoThePrescriptions) {
  auto names = [] {
    return Query("SELECT PRESERIAL || ':' || PH_NAME FROM PM_PRES.PS_MAIN ORDER BY PRESERIAL");
  };
  const std::string yesterday =
      Query("SELECT PRESERIAL FROM PM_PRES.PS_MAIN WHERE PRESERIAL NOT IN ('" + p1_ + "', '" + p2_ +
            "')");
  const std::string two = std::string(testing::kSep) + "2" + testing::kSep + p1_ + testing::kSep +
                          testing::kSep + testing::kSep + testing::kSep + testing::kSep + p2_ +
                          testing::kSep + testing::kSep + testing::kSep + testing::kSep;
  ASSERT_EQ(UpdatePresData((testing::Cp(" 김약'사 ") + two).c_str()), kExportOk) << LogText();
  EXPECT_EQ(names(), yesterday + ":\n" + p1_ + ":김약'사\n" + p2_ + ":김약'사");
  // An empty name changes nothing.
  ASSERT_EQ(UpdatePresData(two.c_str()), kExportOk);
  EXPECT_EQ(names(), yesterday + ":\n" + p1_ + ":김약'사\n" + p2_ + ":김약'사");

  for (const std::string& text :
       {std::string(), testing::Cp("김약사"), Params({"김약사", "2", p1_, "", "", "", ""}),
        Params({"김약사", "x"})}) {
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    EXPECT_EQ(UpdatePresData(text.c_str()), kDataError) << text;
    EXPECT_NE(LogText().find("에러 [-1003]\n설명 [위치1 : szPres 데이터구성오류]"),
              std::string::npos);
  }
}

RETALO_ON_EVERY_BACKEND(PrescriptionPaymentTest);

}  // namespace
}  // namespace retalo
