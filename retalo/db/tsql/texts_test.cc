// The system's T-SQL texts for the pharmacy database, from the statement catalogue, filled with
// sample values: every one translates and runs, and the ones whose results the system reads back
// give the rows SQL Server would give.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "retalo/db/sql_text_list.h"
#include "retalo/db/tsql/test_database.h"
#include "retalo/db/tsql/tsql.h"
#include "tests/fixtures/fixture.h"

namespace tsql {
namespace {

using testing::TestDatabase;
using Rows = std::vector<std::vector<std::string>>;
namespace sql = retalo::sql;

// Fills the placeholders (%s %d %g %c, and %% for %) in order with `args`; those beyond the
// given ones take a sample value: "1" for %s and %d, "1500" for %g, "P" for %c.
std::string Fill(std::string_view text, const std::vector<std::string>& args) {
  std::string filled;
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || i + 1 >= text.size()) {
      filled += text[i];
      continue;
    }
    char directive = text[++i];
    if (directive == '%') {
      filled += '%';
    } else if (next < args.size()) {
      filled += args[next++];
    } else {
      ++next;
      filled += directive == 'g' ? "1500" : directive == 'c' ? "P" : "1";
    }
  }
  return filled;
}

// Values for the texts whose placeholders are not plain values.
const std::map<std::string, std::vector<std::string>>& SampleArgs() {
  static const std::map<std::string, std::vector<std::string>> args = {
      {"kSelectBarcodeAnswer",
       {"LIKE", "%%", "8801234567890", "LIKE", "%%", "8801234567890", "LIKE", "%%",
        "8801234567890"}},
      {"kSelectNewestUnitMemberRow", {"=", "", "12345678"}},
      {"kCancelApprovalRows",
       {"P", "P", "PCARD", "5", "D2", "ETC_CARD", "OTC_CARD", "P", "12345678", "20131220"}},
      {"kAdvanceDayCounter", {"20240605"}},
      {"kSelectOrderNumber", {"20240605"}},
  };
  return args;
}

std::string Sample(const sql::ListedText& text) {
  auto found = SampleArgs().find(std::string(text.name));
  return Fill(text.text, found == SampleArgs().end() ? std::vector<std::string>() : found->second);
}

Rows RowsOf(const BatchResult& result, size_t set = 0) {
  Rows rows;
  if (set >= result.result_sets.size()) return rows;
  for (const std::vector<Cell>& row : result.result_sets[set].rows) {
    std::vector<std::string> texts;
    for (const Cell& cell : row) texts.push_back(cell.is_null ? "NULL" : cell.text);
    rows.push_back(std::move(texts));
  }
  return rows;
}

// Runs every text, each on a fresh database made by `setup` (native SQLite).
void RunEveryText(const std::string& setup) {
  for (const sql::ListedText& text : sql::kListedTexts) {
    TestDatabase db;
    db.Exec(setup);
    std::string sql = Sample(text);
    std::string error;
    EXPECT_GE(CompileOnly(db.db(), sql, &error), 1) << text.name << ": " << error;
    BatchResult result;
    EXPECT_TRUE(RunBatch(db.db(), sql, &result, &error)) << text.name << ": " << error;
  }
}

TEST(TsqlSystemTextsTest, EveryTextTranslatesAndRunsOnTheEmptyFixtureSchema) {
  RunEveryText(std::string(fixture::SchemaSql()));
}

TEST(TsqlSystemTextsTest, EveryTextRunsOnTheFixtureDatabase) {
  RunEveryText(std::string(fixture::SchemaSql()) + std::string(fixture::DemoDataSql()));
}

class TsqlTextResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { db_.Exec(std::string(fixture::SchemaSql())); }

  BatchResult Run(std::string_view text, const std::vector<std::string>& args) {
    return db_.Run(Fill(text, args));
  }

  TestDatabase db_;
};

TEST_F(TsqlTextResultsTest, CustomerListsShowTodaysPrescriptionsOfActiveCustomers) {
  std::string today = platform::SystemClock().LocalDate();
  db_.Exec(
      "INSERT INTO PM_BASE.CD_PERSON (CUSCODE, PANAME, PANUM, CUSACT, CASH_NUM) VALUES "
      "('C1', '김철수', '8501011234567', '1', '0101234567'), "
      "('C2', '이영희', '9002022345678', '1', ''), "
      "('C3', '박민수', '7703031234567', '0', '');"
      "INSERT INTO PM_PRES.PS_MAIN (PreSerial, Paname, CusCode, Indate, PRICE_N, PaNum) "
      "VALUES ('20240605000001', '김철수', 'C1', '" +
      today +
      "', 15000, '8501011234567'), "
      "('20240605000002', '이영희', 'C2', '" +
      today +
      "', 3200, '9002022345678'), "
      "('20240605000003', '박민수', 'C3', '" +
      today +
      "', 800, '7703031234567'), "
      "('20000101000009', '김철수', 'C1', '20000101', 100, '8501011234567');"
      "INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, PRESERIAL, APPR_GUBUN, INDATE) VALUES "
      "('C1', '20240605000001', '0', '" +
      today + "'), ('C2', '20240605000002', '1', '" + today + "');");

  BatchResult today_list = Run(sql::kSelectTodayPrescriptions, {});
  EXPECT_EQ(today_list.result_sets[0].columns,
            (std::vector<std::string>{"PreSerial", "Paname", "PANUM", ""}));
  EXPECT_EQ(RowsOf(today_list), (Rows{{"20240605000002", "이영희", "9002022345678", "0"},
                                      {"20240605000001", "김철수", "8501011234567", "0"}}));

  EXPECT_EQ(RowsOf(Run(sql::kSelectDisplayCustomer, {"20240605000001"})),
            (Rows{{"20240605000001", "김철수", "8501011234567", "15000"}}));

  // Only prescriptions whose payment row still allows a terminal payment.
  EXPECT_EQ(RowsOf(Run(sql::kSelectUnpaidPrescriptions, {today, today})),
            (Rows{{"20240605000001", "김철수", "8501011234567", "15000", "0101234567"}}));
}

TEST_F(TsqlTextResultsTest, GuidanceRowsCarryTheDirectionsText) {
  db_.Exec(
      "INSERT INTO PM_PRES.PS_MAIN (PreSerial, Paname, PaNum) VALUES "
      "('20240605000001', '김철수', '8501011234567');"
      "INSERT INTO PM_PRES.ps_sub_pharm (SUB_SERIAL, PreSerial, DrugCode, QUAN, QUAN_TIME, Days, "
      "ps_type) VALUES (1, '20240605000001', 'D001', 0.5, 3, 3, '1'),"
      " (3, '20240605000001', 'D002', 1, 2, 7, '9');"
      "INSERT INTO PM_PRES.Temp_ps_sub_pharm (SUB_SERIAL, PreSerial, DrugCode, QUAN, QUAN_TIME, "
      "Days, ps_type) VALUES (2, '20240605000001', 'D002', 1, 2, 7, '1');"
      "INSERT INTO PM_DRUG.CD_ETCGOODS (DrugCode, effctname, effctunit) VALUES ('D001', '정', NULL), ('D002', 'mL', 'ML');");
  EXPECT_EQ(RowsOf(Run(sql::kSelectGuidanceDrugs, {"20240605000001", "20240605000001"})),
            (Rows{{"1", "", "", "", "D001", "1일,3회,0.5정/3일"},
                  {"2", "", "", "", "D002", "1일,2회,1/7일"}}));

  // 100 + the two digits of this year - those of the birth year.
  std::string age = std::to_string(100 + std::stoi(platform::SystemClock().LocalDate().substr(2, 2)) - 85);
  EXPECT_EQ(RowsOf(Run(sql::kSelectGuidanceDrugsWithPatient, {"20240605000001"})),
            (Rows{{"1", age, "김철수", "8501011******", "D001", "1일,3회,0.5정/3일"}}));
}

class TsqlCatalogueTextsTest : public TsqlTextResultsTest {
 protected:
  void SetUp() override {
    TsqlTextResultsTest::SetUp();
    db_.Exec(
        "INSERT INTO PM_DRUG.CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
        "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) "
        "VALUES ('감기약', '', 'ZP00000001', 'B', '50001', '0', "
        "1500, 1500, '제약사', '', 'Y', 'Y'), ('숨김', '', 'ZP00000002', '', '', '0', 0, 0, "
        "'', '', 'Y', 'Y');"
        "INSERT INTO PM_DRUG.CD_ITEM_UNIT VALUES ('001', '박스', ''), ('002', '', '');"
        "INSERT INTO PM_DRUG.CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
        "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, "
        "COM_GUBUN) VALUES "
        "('ZP00000001', '001', 10, 1400, 900, '08801234567890', '', '20240101', 1, '01'), "
        "('ZP00000001', '001', 10, 1500, 1000, '08801234567890', '', '20240601', 1, '01'), "
        "('ZP00000001', '002', 1, 0, 0, '8800000000001', '', '20240101', 1, '01'), "
        "('ZP00000002', '002', 1, 500, 300, '8800000000002', '', '20240101', 1, '01');"
        "INSERT INTO PM_DRUG.IM_TOTAL VALUES ('ZP00000001', 37);"
        "INSERT INTO PM_DRUG.CD_BARCODE VALUES ('8809999999999', '국가표준약', '표준제약', "
        "20, 'T1', '개');");
  }
};

TEST_F(TsqlCatalogueTextsTest, BarcodeLookupAnswersFromTheCatalogueOrTheNationalTable) {
  auto lookup = [&](const std::string& op, const std::string& prefix, const std::string& code) {
    return RowsOf(Run(sql::kSelectBarcodeAnswer, {op, prefix, code, op, prefix, code, op, prefix, code}));
  };
  // The newest member row of the stored barcode that ends with the normalised one.
  EXPECT_EQ(lookup("LIKE", "%%", "8801234567890"),
            (Rows{{"08801234567890", "감기약", "제약사", "10", "박스", "1500", "1000", "37"}}));
  EXPECT_EQ(lookup("=", "", "8809999999999"),
            (Rows{{"8809999999999", "국가표준약", "표준제약", "20", "0", "0", "0", "0"}}));
  EXPECT_EQ(lookup("=", "", "12345678"), Rows{});
  EXPECT_EQ(RowsOf(Run(sql::kSelectNewestUnitMemberRow, {"LIKE", "%%", "8801234567890"}))[0][0], "2");
}

TEST_F(TsqlCatalogueTextsTest, GoodsListHoldsTheNewestPricedRowOfEveryBarcode) {
  EXPECT_EQ(RowsOf(Run(sql::kSelectPricedCatalogue, {})),
            (Rows{{"08801234567890", "감기약", "제약사", "10", "박스", "1500", "1000", "37"}}));
}

TEST_F(TsqlCatalogueTextsTest, APriceChangeAddsOneDatedMemberRowPerDay) {
  auto change = [&](const std::string& price) {
    Run(sql::kUpsertDatedUnitPrices, {"ZP00000001", "20240605", price, "1100", "ZP00000001", "20240605", "ZP00000001",
                    "001", "10", price, "1100", "08801234567890", "20240605", "1"});
  };
  change("1600");
  change("1700");
  EXPECT_EQ(RowsOf(db_.Run("SELECT COUNT(*), MAX(CD_MY_UNIT) FROM PM_DRUG..CD_ITEM_UNIT_MEMBER "
                           "WHERE CHANGE_DATE = '20240605'")),
            (Rows{{"1", "1700"}}));
}

TEST_F(TsqlCatalogueTextsTest, NewCodesFollowTheHighestExistingOnes) {
  EXPECT_EQ(RowsOf(Run(sql::kSelectHighestNewDrugNumber, {})), (Rows{{"2"}}));
  db_.Exec(
      "INSERT INTO PM_DRUG.CD_GOODS (DRUGCODE) VALUES ('ZP00000041'), ('ZPX'), "
      "('A000000099');"
      "INSERT INTO PM_DRUG.CD_MAKER VALUES ('50007', 'a'), ('40001', 'b'), ('5000', 'c');"
      "INSERT INTO PM_DRUG.CD_ITEM_UNIT VALUES ('012', 'x', ''), ('999', 'y', ''), "
      "('1000', 'z', '');");
  EXPECT_EQ(RowsOf(Run(sql::kSelectHighestNewDrugNumber, {})), (Rows{{"41"}}));
  // CAST(... AS CHAR) is char(30): the caller trims it.
  EXPECT_EQ(RowsOf(Run(sql::kSelectNextMakerCode, {})), (Rows{{"50008" + std::string(25, ' ')}}));
  EXPECT_EQ(RowsOf(Run(sql::kSelectHighestUnitCode, {})), (Rows{{"012"}}));
  db_.Exec("DELETE FROM PM_DRUG.CD_MAKER; DELETE FROM PM_DRUG.CD_GOODS;");
  EXPECT_EQ(RowsOf(Run(sql::kSelectNextMakerCode, {})), (Rows{{"NULL"}}));
  EXPECT_EQ(RowsOf(Run(sql::kSelectHighestNewDrugNumber, {})), (Rows{{"0"}}));
}

TEST_F(TsqlCatalogueTextsTest, NamelessUnitsAreFoldedIntoTheNewUnit) {
  Run(sql::kMergeNamelessUnits, {"005"});
  EXPECT_EQ(RowsOf(db_.Run("SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT_MEMBER ORDER BY SN")),
            (Rows{{"001"}, {"001"}, {"005"}, {"005"}}));
  EXPECT_EQ(RowsOf(db_.Run("SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT")), (Rows{{"001"}}));
}

TEST_F(TsqlTextResultsTest, SerialNumbersCountPerDay) {
  Run(sql::kAdvanceDayCounter, {"20240605"});
  EXPECT_EQ(RowsOf(Run(sql::kSelectOrderNumber, {"20240605"})), (Rows{{"20240605000001", "1"}}));
  Run(sql::kAdvanceDayCounter, {"20240605"});
  db_.Exec(
      "INSERT INTO PM_PRES.SALE_MAIN (SL_NO_ORDER, SL_DT_APPL, SL_DAY_SERIAL) VALUES "
      "('20240605000004', '20240605', 4), ('20240604000009', '20240604', 9)");
  BatchResult second = Run(sql::kSelectOrderNumber, {"20240605"});
  EXPECT_EQ(second.result_sets[0].columns,
            (std::vector<std::string>{"SL_NO_ORDER", "SL_DAY_SERIAL"}));
  EXPECT_EQ(RowsOf(second), (Rows{{"20240605000002", "5"}}));
  EXPECT_EQ(RowsOf(db_.Run("SELECT CD_SE_SERIAL, OPENTIME FROM PM_BASE..CD_BASE")),
            (Rows{{"2", "0900"}}));
}

TEST_F(TsqlTextResultsTest, APaymentRowIsWrittenOnceAndThenUpdated) {
  Run(sql::kUpsertPaymentRow, {});
  db_.Run("UPDATE PM_PRES..CD_SUNAB SET ETC_CARD = 99");
  Run(sql::kUpsertPaymentRow, {});
  EXPECT_EQ(RowsOf(db_.Run("SELECT COUNT(*), MAX(ETC_CARD) FROM PM_PRES..CD_SUNAB")),
            (Rows{{"1", "1"}}));
}

TEST_F(TsqlTextResultsTest, CancellingMovesTheAmountsToThePaperColumns) {
  db_.Exec(
      "INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, INDATE, PRESERIAL, PAPPROVAL_NUM, APPR_DATE, "
      "ETC_CARD, OTC_CARD, TEMP_4, TEMP_5, APPR_GUBUN) VALUES "
      "('C1', '20131220', 'S1', '12345678', '20131220153000', 5000, 3000, 2000, 1000, '1'), "
      "('C1', '20131220', 'S2', '12345678', '20131220', 0, 0, 4000, 0, '1'), "
      "('C1', '20131220', 'S3', '87654321', '20131220', 700, 0, 0, 0, '1');");
  BatchResult count = Run(sql::kCountApprovalRows, {"P", "12345678", "20131220"});
  EXPECT_EQ(count.result_sets[0].columns, (std::vector<std::string>{"COUNT"}));
  EXPECT_EQ(RowsOf(count), (Rows{{"2"}}));
  Run(sql::kCancelApprovalRows, {"P", "P", "PCARD", "5", "D2", "TEMP_4", "TEMP_5", "P", "12345678", "20131220"});
  EXPECT_EQ(RowsOf(db_.Run("SELECT PRESERIAL, PCANCEL_NUM, PCARDINMODE, APPR_GUBUN, PTRDTYPE, "
                           "ETC_PAPER, OTC_PAPER, ETC_CARD, OTC_CARD FROM PM_PRES..CD_SUNAB "
                           "ORDER BY PRESERIAL")),
            (Rows{{"S1", "12345678", "2", "5", "D2", "2000", "1000", "0", "0"},
                  {"S2", "12345678", "2", "5", "D2", "4000", "0", "0", "0"},
                  {"S3", "NULL", "NULL", "1", "NULL", "NULL", "NULL", "700", "0"}}));
}

}  // namespace
}  // namespace tsql
