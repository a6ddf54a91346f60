#include "retalo/stock_revision.h"

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

class StockRevisionTest : public testing::RetaloTest {
 protected:
  void SetUp() override {
    RetaloTest::SetUp();
    today_ = TodayText();
  }
  // Revision, movement, both totals of `drug_code`, and today's counter.
  std::string Stock(const std::string& drug_code) const {
    const std::string where = " WHERE DRUGCODE = '" + drug_code + "'";
    return Query(
               "SELECT IMS_DT_APPL, IMS_NO_SERIAL, IMS_NM_CHARGE, IMS_QT_SALE_IN, "
               "IMS_QT_SALE_MP FROM PM_DRUG.IMS_STOCK_REVISION" +
               where) +
           "\n" +
           Query(
               "SELECT IM_SL_SELECT, IM_NO_SERIAL, IM_DT_APPL, IM_QT_SALE_DEBIT, "
               "IM_QT_SALE_CREDIT FROM PM_DRUG.IM_POSITION" +
               where) +
           "\n" + Query("SELECT IM_QT_SALE_DEBIT FROM PM_DRUG.IM_TOTAL" + where) + "\n" +
           Query(
               "SELECT IM_DT_APPL, IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT FROM "
               "PM_DRUG.IM_DATE_TOTAL" +
               where) +
           "\n" + Query("SELECT CD_SE_SERIAL FROM PM_BASE.CD_BASE");
  }

  std::string today_;
};

TEST_P(StockRevisionTest, TheCountedQuantityBecomesTheStock) {
  struct Case {
    std::string name;
    std::string barcode;
    double counted;
    std::string drug_code;
    std::string rows;  // "@" for today
  };
  const std::vector<Case> cases = {
      {"12 counted, 15 recorded", " 8801234567890 ", 12, "ZP00000041",
       "@|@000004|Retalo|12|-3\nY|@000004|@|0|-3\n12\n@|0|-3\n4"},
      {"no stock row yet", "8806420300034", 5, "6420300030",
       "@|@000004|Retalo|5|5\nY|@000004|@|0|5\n5\n@|0|5\n4"},
      {"the count agrees: still a revision and a serial", "8806470200028", 40, "6470200020",
       "@|@000004|Retalo|40|0\nY|@000004|@|0|0\n40\n@|0|0\n4"},
      {"today's sales so far are kept in the day's total", "8806430100011", 100, "6430100010",
       "@|@000004|Retalo|100|-20\nY|@000004|@|0|-20\n100\n@|20|-20\n4"},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(StockRevision(c.barcode.c_str(), c.counted), kExportOk) << c.name << LogText();
    std::string expected = c.rows;
    for (size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@', at)) {
      expected.replace(at, 1, today_);
    }
    EXPECT_EQ(Stock(c.drug_code), expected) << c.name;
  }
}

TEST_P(StockRevisionTest, FailuresWriteNothingAndAreLogged) {
  struct Case {
    std::string name;
    std::string barcode;
    std::string drop_at;
    int rc;
    std::string record;
    int refused = 0;  // this connection is refused
  };
  const std::string not_found = "에러 [-1003]\n설명 [위치2 : 찾을 수 없는 바코드]\n";
  const std::vector<Case> cases = {
      {"the database cannot be reached", "8801234567890", "", kDbConnectFailed,
       "에러 [-1001]\n설명 [위치1 : DB연결실패]\n", 1},
      {"empty barcode", "", "", kDataError, not_found},
      {"a barcode the catalogue lacks", "8809876543210", "", kDataError, not_found},
      {"a quote in the barcode", "880'1", "", kDataError, not_found},
      {"the look-up fails", "8801234567890", "CD_ITEM_UNIT_MEMBER", kDataError,
       "CItemData::HasBarcodeInItemUnitMember\nstrDrugcode []\n설명 [위치1]\nSELECT TOP 1 * FROM "
       "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE LIKE '%%8801234567890' ORDER BY SN "
       "DESC\n"},
      {"the serial cannot be taken", "8801234567890", "PM_BASE..CD_BASE", kDbStepFailed,
       "에러 [-1002]\n설명 [위치3 : 색인0]\n"},
      {"the movement fails after the revision", "8801234567890", "PM_DRUG..IM_POSITION",
       kDbStepFailed,
       "CDatabaseUtil::UpdateStock\nstrDate [" + today_ +
           "]\nstrDrugcode [ZP00000041]\n"
           "strOrderNo [" +
           today_ + "000004]\ndQty [12]\n설명 [위치3]\n"},
      {"the day's total fails", "8801234567890", "PM_DRUG..IM_DATE_TOTAL", kDbStepFailed,
       "에러 [-1002]\n설명 [위치4 : 색인0]\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    const std::string before = Stock("ZP00000041");
    EXPECT_EQ(
        ReviseStock(c.barcode, 12, c.refused > 0 ? RefuseConnection(c.refused) : DropAt(c.drop_at)),
        c.rc)
        << c.name;
    EXPECT_EQ(Stock("ZP00000041"), before) << c.name;
    EXPECT_NE(LogText().find(c.record), std::string::npos) << c.name << "\n" << LogText();
  }
}

RETALO_ON_EVERY_BACKEND(StockRevisionTest);

}  // namespace
}  // namespace retalo
