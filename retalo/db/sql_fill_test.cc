#include "retalo/db/sql_fill.h"

#include <gtest/gtest.h>

#include <cmath>

#include "retalo/db/log_writer.h"
#include "retalo/db/sql_texts.h"

namespace retalo {
namespace {

TEST(FillSqlTest, FillsEveryKindOfPlaceholder) {
  EXPECT_EQ(
      FillSql(sql::kInsertStockRevision, {"20240105", "6430100010", "20240105000004", 12.0, -3.5}),
      "INSERT INTO PM_DRUG..IMS_STOCK_REVISION (IMS_DT_APPL, DRUGCODE, IMS_NO_SERIAL, "
      "IMS_NM_CHARGE, IMS_QT_SALE_IN, IMS_QT_SALE_MP) VALUES ('20240105', '6430100010', "
      "'20240105000004', 'Retalo', 12, -3.5)");
  // %c outside quotes makes a column name, '%s%%' a LIKE prefix.
  EXPECT_EQ(FillSql(sql::kCountApprovalRows, {'N', "12345678", "20131220"}),
            "SELECT COUNT(*) AS COUNT FROM PM_PRES..CD_SUNAB WHERE NAPPROVAL_NUM = '12345678' AND "
            "APPR_DATE LIKE '20131220%'");
  // Operator, prefix and barcode of a barcode match; the prefix is kept as given.
  EXPECT_EQ(FillSql(sql::kSelectNewestUnitMemberRow, {"LIKE", "%%", "8801234567890"}),
            "SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE LIKE "
            "'%%8801234567890' ORDER BY SN DESC");
  // An integer where a real goes is written as a real would be.
  EXPECT_EQ(FillSql(sql::kUpdateStockOnHand, {12, "6430100010"}),
            "UPDATE PM_DRUG..IM_TOTAL SET IM_QT_SALE_DEBIT = 12 WHERE DRUGCODE = '6430100010'");
}

TEST(FillSqlTest, AmountsKeepEveryDigitWithoutExponent) {
  // printf's %g would write 1234567 as 1.23457e+06 and lose the last digits of a stock total.
  const struct {
    double amount;
    const char* text;
  } cases[] = {{1234567.0, "1234567"},           {1500.5, "1500.5"}, {-0.25, "-0.25"},
               {123456789012.0, "123456789012"}, {0.0, "0"},         {-0.0, "0"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FillSql(sql::kUpdateStockOnHand, {c.amount, "6430100010"}),
              std::string("UPDATE PM_DRUG..IM_TOTAL SET IM_QT_SALE_DEBIT = ") + c.text +
                  " WHERE DRUGCODE = '6430100010'")
        << c.amount;
  }
}

TEST(FillSqlTest, QuotesInsideLiteralsAreDoubled) {
  // A name with a quote cannot end the literal and add a statement of its own.
  EXPECT_EQ(FillSql(sql::kSelectMakerByName, {"O'Neil'; DELETE FROM PM_DRUG..CD_GOODS; --"}),
            "SELECT * FROM PM_DRUG..CD_MAKER WHERE SPLNAME = 'O''Neil''; DELETE FROM "
            "PM_DRUG..CD_GOODS; --'");
  EXPECT_EQ(
      FillSql(sql::kInsertMaker, {"50003", Cp949("김's 제약")}),
      Cp949("INSERT INTO PM_DRUG..CD_MAKER (SPLCODE, SPLNAME) VALUES ('50003', '김''s 제약')"));
}

TEST(FillSqlTest, TemplatesWithKoreanComeOutAsCp949) {
  const std::string filled =
      FillSql(sql::kInsertUnnamedPricedGoods, {"ZP00000042", 1500.0, 1500.0});
  EXPECT_EQ(filled, Cp949("INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, "
                          "GOODSSELCODE, SPLCODE, ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, "
                          "POS_TAX, POS_GONG) VALUES ('제품명_미등록', '', 'ZP00000042', 'B', '', "
                          "'0', '1500', '1500', '', '', 'Y', 'Y')"));
}

TEST(FillSqlTest, BareValuesTakeTheShapesTheTextsPutOutsideQuotes) {
  // CD_CD_QUAN of a new package row: the pack size as the database gave it back.
  for (const char* units : {"10", "0", "-1.5", "1e+15", "2.5E-3", "NULL"}) {
    EXPECT_EQ(
        FillSql(sql::kInsertUnitMember, {"ZP00000042", "003", "8801111111117", "20240105", units}),
        std::string("INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, "
                    "CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, "
                    "CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) VALUES ('ZP00000042', '003', 1, 0, "
                    "0, '8801111111117', '', '20240105', ") +
            units + ", '01')")
        << units;
  }
  EXPECT_EQ(FillSql(sql::kSelectNewestUnitMemberRow, {"=", "", "12345678"}),
            "SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE = '12345678' "
            "ORDER BY SN DESC");
}

TEST(FillSqlTest, RefusesValuesThatDoNotFit) {
  struct Case {
    const char* what;
    std::string filled;
  };
  const Case cases[] = {
      {"too few values", FillSql(sql::kInsertMaker, {"50003"})},
      {"too many values", FillSql(sql::kInsertMaker, {"50003", "a", "b"})},
      {"a text for %d", FillSql(sql::kUpdateDayCounter, {"1", "20240105"})},
      {"a real for %d", FillSql(sql::kUpdateDayCounter, {1.5, "20240105"})},
      {"a text for %g", FillSql(sql::kUpdateStockOnHand, {"12", "6430100010"})},
      {"not a number", FillSql(sql::kUpdateStockOnHand, {std::nan(""), "6430100010"})},
      {"an infinite amount", FillSql(sql::kUpdateStockOnHand, {HUGE_VAL, "6430100010"})},
      {"an operator that is SQL",
       FillSql(sql::kSelectNewestUnitMemberRow, {"= '' OR 1=1 --", "", "8801234567890"})},
      {"an unquoted column with a quote",
       FillSql(sql::kCancelApprovalRows,
               {'P', 'P', "PCARD", '5', "D2", "TEMP_4'", "TEMP_5", 'P', "1", "20131220"})},
      {"an empty unquoted value", FillSql(sql::kSelectNewestUnitMemberRow, {"", "", "1"})},
      {"a quote as a column letter", FillSql(sql::kCountApprovalRows, {'\'', "1", "2"})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.filled, "") << c.what;
  }
}

TEST(FillSqlTest, RefusesBareValuesOfAnyOtherShape) {
  // As the operator of a barcode match: only "=" and a word pass.
  for (const char* op : {"=1--", ".=", "==", "<>", "<", "= 1", "LIKE--", "=--"}) {
    EXPECT_EQ(FillSql(sql::kSelectNewestUnitMemberRow, {op, "", "8801234567890"}), "") << op;
  }
  // As a pack size: only a number.
  for (const char* units : {"--1", "1-1", "-", ".", "1.", ".5", "+1", "1e", "1e+", "1..2", "0x1F",
                            "1;", "1/*", "-1e5-"}) {
    EXPECT_EQ(FillSql(sql::kInsertUnitMember, {"ZP00000042", "003", "1", "20240105", units}), "")
        << units;
  }
  // A negative number after a minus of the text would start a comment.
  EXPECT_EQ(FillSql("SELECT 1 -%s", {"-1"}), "");
  EXPECT_EQ(FillSql("SELECT 1 - %s", {"-1"}), "SELECT 1 - -1");
}

TEST(FillSqlTest, LikeWildcardsAreTheThreeOfTsql) {
  for (const char* text : {"880%", "_", "a[b", "%%"}) EXPECT_TRUE(HasLikeWildcard(text)) << text;
  for (const char* text : {"8801234567890", "", "a]b", "^-*?"}) {
    EXPECT_FALSE(HasLikeWildcard(text)) << text;
  }
}

}  // namespace
}  // namespace retalo
