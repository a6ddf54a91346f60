#include "retalo/goods_catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/temp_prefix.h"
#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/tsql/tsql.h"
#include "retalo/ordella_retalo.h"
#include "retalo/testing/retalo_fixture.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

using testing::Cp;
using testing::Params;
using testing::Utf8;

TEST(NormalizeBarcodeTest, CutsTheArticleNumberOutOfAScan) {
  struct Case {
    std::string scan;
    int result;
    std::string barcode;
  };
  const Case cases[] = {
      {"8801234567890", BarcodeMatch::kArticle, "8801234567890"},
      {" 8801234567890\t", BarcodeMatch::kArticle, "8801234567890"},
      {"08801234567890", BarcodeMatch::kArticle, "8801234567890"},
      // A GS1 code: application identifier 01 and a 14-digit number, then expiry and batch.
      {"0108801234567890"
       "17"
       "260131"
       "10ABC",
       BarcodeMatch::kArticle, "8801234567890"},
      // Found at position 2 with 21 characters from there: the article alone remains.
      {"12880123456789012345678", BarcodeMatch::kArticle, "8801234567890"},
      {"1288012345678901234567", BarcodeMatch::kArticle, "88012345678901234567"},
      {"12348801234567", BarcodeMatch::kExact, "12348801234567"},  // "880" too far in
      {"12345678", BarcodeMatch::kExact, "12345678"},
      {"880'1", BarcodeMatch::kArticle, "880'1"},
      // LIKE wildcards in an article number would widen its match; as = compares them literally.
      {"880%", BarcodeMatch::kWildcard, ""},
      {"0880_234567890", BarcodeMatch::kWildcard, ""},
      {"880[0-9]", BarcodeMatch::kWildcard, ""},
      {"12%_[", BarcodeMatch::kExact, "12%_["},
      {"0108801234567890"
       "10A%_",
       BarcodeMatch::kArticle, "8801234567890"},
      {std::string(128, '1'), BarcodeMatch::kExact, std::string(128, '1')},
      {std::string(129, '1'), BarcodeMatch::kTooLong, ""},
      {"", BarcodeMatch::kEmpty, ""},
      {"  ", BarcodeMatch::kEmpty, ""},
  };
  for (const Case& c : cases) {
    const BarcodeMatch match = NormalizeBarcode(c.scan);
    EXPECT_EQ(match.result, c.result) << c.scan;
    EXPECT_EQ(match.barcode, c.barcode) << c.scan;
  }
  EXPECT_EQ(NormalizeBarcode("8801234567890").op(), "LIKE");
  EXPECT_EQ(NormalizeBarcode("8801234567890").prefix(), "%%");
  EXPECT_EQ(NormalizeBarcode("12345678").op(), "=");
  EXPECT_EQ(NormalizeBarcode("12345678").prefix(), "");
}

// The look-up joins on codes that the T-SQL layer compares under the database's collation. Only
// an index with that collation serves such a join; without one SQLite builds a temporary index
// of the joined table on every call, which on a pharmacy's catalogue costs each scan at the
// counter its whole table. Both forms of the look-up (= and LIKE) on a connection of their own,
// counting the temporary indexes each statement built.
TEST(BarcodeLookUpPlanTest, JoinsThroughTheSchemasIndexes) {
  platform::testing::TempPrefix prefix;
  std::string error;
  ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
  const fixture::FixtureDb db = fixture::OpenFixture(fixture::DefaultDir(), &error);
  ASSERT_TRUE(db) << error;
  std::vector<int> temporary_indexes;
  sqlite3_trace_v2(
      db.get(), SQLITE_TRACE_PROFILE,
      [](unsigned, void* built, void* stmt, void*) {
        static_cast<std::vector<int>*>(built)->push_back(sqlite3_stmt_status(
            static_cast<sqlite3_stmt*>(stmt), SQLITE_STMTSTATUS_AUTOINDEX, 0));
        return 0;
      },
      &temporary_indexes);
  for (const char* scan : {"8801234567890", "12345678"}) {
    SCOPED_TRACE(scan);
    const std::string sql = BarcodeAnswerSql(NormalizeBarcode(scan));
    tsql::BatchResult result;
    ASSERT_TRUE(tsql::RunBatch(db.get(), sql, &result, &error)) << error;
  }
  ASSERT_FALSE(temporary_indexes.empty());
  EXPECT_THAT(temporary_indexes, ::testing::Each(0));
}

class GoodsCatalogueTest : public testing::RetaloTest {
 protected:
  static constexpr int kAnswerSize = 8192;

  // HasBarcode into a buffer prefilled with 'x'; the answer up to its zero, as UTF-8, or the
  // untouched prefill's first bytes.
  static std::pair<int, std::string> Look(const std::string& barcode, int size = kAnswerSize) {
    std::vector<char> buffer(kAnswerSize, 'x');
    const int rc = HasBarcode(barcode.c_str(), buffer.data(), size);
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return {rc, Utf8(std::string(buffer.begin(), end == buffer.end() ? buffer.begin() + 4 : end))};
  }
};

TEST_P(GoodsCatalogueTest, HasBarcodeAnswersFromTheCatalogueOrTheNationalTable) {
  struct Case {
    std::string barcode;
    int rc;
    std::string answer;
  };
  const Case cases[] = {
      // The stored 08801234567890 ends with the article number: found with LIKE.
      {"8801234567890", 1, "08801234567890|박카스디|동아제약|1|병|1000|600|15"},
      {"0108801234567890"
       "17"
       "260131"
       "10ABC",
       1, "08801234567890|박카스디|동아제약|1|병|1000|600|15"},
      // The newest package row of a barcode carries its prices.
      {"8806430100011", 1, "8806430100011|타이레놀정500mg|한국얀센|10|박스|3000|2000|120"},
      // Known only to the national table: its names and pack size, zero prices and stock.
      {"8809876543210", 1, "8809876543210|훼스탈플러스정|한독|10|0|0|0|0"},
      {"12345678", 0, "xxxx"},
      {"880'; DELETE FROM PM_DRUG..CD_GOODS; --", 0, "xxxx"},
      {"' OR '1'='1", 0, "xxxx"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Look(c.barcode), std::make_pair(c.rc, c.answer)) << c.barcode;
  }
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_DRUG.CD_GOODS"), "4");
  EXPECT_EQ(LogText(), "");
}

TEST_P(GoodsCatalogueTest, HasBarcodeRefusalsAreLogged) {
  // The answer and its terminating zero need this many bytes.
  const int needed =
      static_cast<int>(Cp("08801234567890|박카스디|동아제약|1|병|1000|600|15").size() + 1);
  struct Case {
    std::string barcode;
    int size;
    bool unreachable;
    int rc;
    std::string record;
  };
  const Case cases[] = {
      {"", kAnswerSize, false, kDataError, "에러 [-1003]\n설명 [위치1 : 바코드번호 오류]\n"},
      {"8801234567890", kAnswerSize, true, kDbConnectFailed,
       "에러 [-1001]\n설명 [위치2 : DB연결실패]\n"},
      {std::string(129, '1'), kAnswerSize, false, kDataError,
       "에러 [-1003]\n설명 [위치3 : 바코드번호 오류]\n"},
      // As LIKE '%%880%' it would answer with the first barcode containing 880.
      {"880%", kAnswerSize, false, kDataError, "에러 [-1003]\n설명 [위치3 : 바코드번호 오류]\n"},
      {"8801234567890", needed - 1, false, kDataError,
       "에러 [-1003]\n설명 [위치5 : 응답버퍼 크기 부족]\n"},
      {"8801234567890", 3, false, kDataError, "에러 [-1003]\n설명 [위치5 : 응답버퍼 크기 부족]\n"},
  };
  for (const Case& c : cases) {
    MakeDatabaseReachable();
    if (c.unreachable) MakeDatabaseUnreachable();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    EXPECT_EQ(Look(c.barcode, c.size), std::make_pair(c.rc, std::string("xxxx"))) << c.barcode;
    EXPECT_EQ(LogText(), "HasBarcode\n바코드 [" + c.barcode + "]\n" + c.record + Rule());
  }
  MakeDatabaseReachable();
  EXPECT_EQ(Look("8801234567890", needed).first, 1);
}

TEST_P(GoodsCatalogueTest, NewCodesFollowTheHighestOnes) {
  struct Case {
    const char* name;
    std::vector<std::string> setup;
    std::string drug_code;
    std::string maker_code;
  };
  const Case cases[] = {
      {"demo pharmacy", {}, "ZP00000042", "50003"},
      {"nothing registered yet",
       {"DELETE FROM PM_DRUG.CD_GOODS WHERE DRUGCODE LIKE 'ZP%'",
        "DELETE FROM PM_DRUG.CD_MAKER WHERE SPLCODE LIKE '5%'"},
       "ZP00000001",
       "50001"},
      {"codes of other lengths do not count",
       {"INSERT INTO PM_DRUG.CD_GOODS (DRUGCODE) VALUES ('ZP000000999')",
        "INSERT INTO PM_DRUG.CD_MAKER (SPLCODE) VALUES ('599999')"},
       "ZP00000042",
       "50003"},
  };
  for (const Case& c : cases) {
    SetUp();
    for (const std::string& sql : c.setup) Query(sql);
    CAdoConnection db;
    ASSERT_TRUE(db.OpenConnection());
    std::string drug_code, maker_code;
    EXPECT_TRUE(NewDrugCode(db, &drug_code)) << c.name;
    EXPECT_TRUE(NewMakerCode(db, &maker_code)) << c.name;
    EXPECT_EQ(drug_code, c.drug_code) << c.name;
    EXPECT_EQ(maker_code, c.maker_code) << c.name;
  }
}

TEST_P(GoodsCatalogueTest, PriceChangesKeepOneRowPerDay) {
  std::string today = "20300101";
  CGoodsData goods([&today] { return today; });
  ASSERT_TRUE(goods.Parse(SplitParams(Params({"1", "8806470200028", "4500", "2600", "1", "UU"}))));
  CAdoConnection db;
  ASSERT_TRUE(db.OpenConnection());

  EXPECT_EQ(goods.HasBarcodeInItemUnitMember(db, 0, 1), kInCatalogue);
  goods.items()[0].sale_price = 4700;  // a second change the same day
  EXPECT_EQ(goods.HasBarcodeInItemUnitMember(db, 0, 1), kInCatalogue);
  today = "20300102";
  goods.items()[0].sale_price = 4900;
  EXPECT_EQ(goods.HasBarcodeInItemUnitMember(db, 0, 1), kInCatalogue);

  EXPECT_EQ(Query("SELECT CHANGE_DATE, CD_MY_UNIT, CD_IN_UNIT, CD_CD_UNIT, CD_NM_UNIT, "
                  "CD_CD_BARCODE, CD_CD_QUAN, COM_GUBUN FROM PM_DRUG.CD_ITEM_UNIT_MEMBER "
                  "WHERE DRUGCODE = '6470200020' ORDER BY SN"),
            "20240101|4000|2500|004|10|8806470200028|10|01\n"
            "20300101|4700|2600|004|10|8806470200028|10|01\n"
            "20300102|4900|2600|004|10|8806470200028|10|01");
  // The look-up answers with the newest row.
  EXPECT_EQ(Look("8806470200028").second, "8806470200028|베아제정|대웅제약|10|박스|4900|2600|40");
}

TEST_P(GoodsCatalogueTest, PriceFlagsAndTheSwitchChooseWhatIsStored) {
  struct Case {
    const char* flags;
    int price_update;
    std::string dated_row;  // today's prices of the product afterwards
  };
  const Case cases[] = {
      {"UU", 1, "4500|2600"}, {"UD", 1, "4500|2500"},  {"DU", 1, "4000|2600"},
      {"U", 1, "4500|2500"},  {" U ", 1, "4500|2500"}, {"DD", 1, ""},
      {"UU", 0, ""},          {"UU", 2, ""},
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string goods = Params({"1", "8806470200028", "4500", "2600", "1", c.flags});
    EXPECT_EQ(SaveGoods(goods.c_str(), c.price_update), kExportOk) << c.flags;
    EXPECT_EQ(Query("SELECT CD_MY_UNIT, CD_IN_UNIT FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE "
                    "DRUGCODE = '6470200020' AND CHANGE_DATE = '" +
                    TodayText() + "'"),
              c.dated_row)
        << c.flags << " " << c.price_update;
  }
}

TEST_P(GoodsCatalogueTest, MissingBarcodesAreRegistered) {
  const std::string today = TodayText();
  struct Case {
    const char* name;
    std::vector<std::string> setup;
    std::function<int()> call;
    std::vector<std::pair<std::string, std::string>> checks;  // query, rows
  };
  const std::string goods_row =
      "SELECT DRUGCODE, GOODSNAME, BARCODE, SPLCODE, PRICE, SALEPRICE, SPLNAME, TITLECODE "
      "FROM PM_DRUG.CD_GOODS WHERE DRUGCODE = 'ZP00000042'";
  const std::string member_row =
      "SELECT CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CHANGE_DATE, "
      "CD_CD_QUAN FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = 'ZP00000042'";
  const std::string stock_row =
      "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = "
      "'ZP00000042'";
  auto save_goods = [](std::initializer_list<std::string_view> fields) {
    return [text = Params(fields)] { return SaveGoods(text.c_str(), 1); };
  };
  auto save_item = [](std::initializer_list<std::string_view> fields) {
    return [text = Params(fields)] { return SaveNewItem(text.c_str()); };
  };
  const Case cases[] = {
      {"national barcode of a known maker, with prices",
       {},
       save_goods({"1", "8809876543210", "5000", "3500", "1", "DD"}),
       {{goods_row, "ZP00000042|훼스탈플러스정|8809876543210|50002|5000|5000|한독|8809876543210"},
        {member_row, "002|1|5000|3500|8809876543210|" + today + "|10"},
        {stock_row, "0"}}},
      {"a long scan registers the article number",
       {},
       save_goods({"1",
                   "0108809876543210"
                   "17"
                   "260131"
                   "10ABC",
                   "5000", "3500", "1", "DD"}),
       {{member_row, "002|1|5000|3500|8809876543210|" + today + "|10"}}},
      {"national barcode of a new maker, without prices",
       {},
       save_item({"8801111111117", "판콜", "아무개"}),
       {{goods_row, "ZP00000042|판콜에이내복액|8801111111117|50003|0|0|동화약품|8801111111117"},
        {"SELECT SPLNAME FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '50003'", "동화약품"},
        {member_row, "003|1|0|0|8801111111117|" + today + "|1"}}},
      {"national barcode of goods the pharmacy has without a package row",
       {"DELETE FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = '6430100010'"},
       save_item({"8806430100011", "", ""}),
       {{"SELECT COUNT(*) FROM PM_DRUG.CD_GOODS", "4"},
        {"SELECT CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_CD_BARCODE, CD_CD_QUAN FROM "
         "PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = '6430100010'",
         "002|1|0|8806430100011|10"}}},
      {"unknown barcode with prices: an unnamed product",
       {},
       save_goods({"1", "1234567890128", "2000", "1200", "1", "DD"}),
       {{goods_row, "ZP00000042|제품명_미등록|||2000|2000||"},
        {member_row, "001|1|2000|1200|1234567890128|" + today + "|1"},
        {stock_row, "0"}}},
      {"unknown barcode of a new item: named as the item says, quotes kept",
       {},
       save_item({"1234567890128", "Kim's 크림", "O'Neil"}),
       {{goods_row, "ZP00000042|Kim's 크림|||0|0|O'Neil|"},
        {member_row, "001|1|0|0|1234567890128|" + today + "|1"}}},
      {"unknown barcode of a new item without a name",
       {},
       save_item({"1234567890128", "", ""}),
       {{goods_row, "ZP00000042|제품명_미등록|||0|0||"}}},
      {"known barcode: nothing to add",
       {},
       save_item({"8801234567890", "다른이름", "다른회사"}),
       {{"SELECT COUNT(*) FROM PM_DRUG.CD_GOODS", "4"},
        {"SELECT COUNT(*) FROM PM_DRUG.CD_ITEM_UNIT_MEMBER", "5"}}},
  };
  for (const Case& c : cases) {
    SetUp();
    for (const std::string& sql : c.setup) Query(sql);
    EXPECT_EQ(c.call(), kExportOk) << c.name << "\n" << LogText();
    for (const auto& [query, rows] : c.checks) EXPECT_EQ(Query(query), rows) << c.name;
  }
}

TEST_P(GoodsCatalogueTest, UnitCodesAreFoundOrAddedAndNamelessUnitsMerged) {
  struct Case {
    std::string name;
    std::vector<std::string> setup;
    std::string code;
    std::string units;  // the unit table afterwards
  };
  const std::string demo_units = "001|개\n002|정\n003|병\n004|박스\n";
  const std::string nameless = "INSERT INTO PM_DRUG.CD_ITEM_UNIT VALUES ('006', '', '')";
  const std::string move_to_nameless =
      "UPDATE PM_DRUG.CD_ITEM_UNIT_MEMBER SET CD_CD_UNIT = '006' WHERE DRUGCODE = 'ZP00000041'";
  const Case cases[] = {
      {"병", {}, "003", demo_units + "999|기타"},
      {"", {}, "001", demo_units + "999|기타"},
      {"포", {}, "005", demo_units + "005|포\n999|기타"},
      {"포", {nameless, move_to_nameless}, "007", demo_units + "007|포\n999|기타"},
      {"정", {nameless, move_to_nameless}, "002", demo_units + "999|기타"},
  };
  for (const Case& c : cases) {
    SetUp();
    for (const std::string& sql : c.setup) Query(sql);
    CAdoConnection db;
    ASSERT_TRUE(db.OpenConnection());
    EXPECT_EQ(CDatabaseUtil(db).GetItemUnitCode(Cp(c.name)), c.code) << c.name;
    EXPECT_EQ(Query("SELECT CD_CD_UNIT, CD_NM_UNIT FROM PM_DRUG.CD_ITEM_UNIT ORDER BY 1"), c.units)
        << c.name;
    if (!c.setup.empty()) {
      // The members of the nameless unit now belong to the unit asked for.
      EXPECT_EQ(Query("SELECT CD_CD_UNIT FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = "
                      "'ZP00000041'"),
                c.code);
    }
  }
  Query("DROP TABLE PM_DRUG.CD_ITEM_UNIT");
  CAdoConnection db;
  ASSERT_TRUE(db.OpenConnection());
  EXPECT_EQ(CDatabaseUtil(db).GetItemUnitCode(Cp("정")), "");
  EXPECT_EQ(LogText(),
            "CDatabaseUtil::GetItemUnitCode\nstrUnit [정]\n설명 [위치1]\n"
            "SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_NM_UNIT = '정'\n" +
                Rule());
}

TEST_P(GoodsCatalogueTest, UnreadableTextsAreRefusedBeforeTheDatabase) {
  struct Case {
    std::function<int()> call;
    std::string record;
  };
  const std::string short_list = Params({"2", "8806470200028", "4500", "2600", "1", "UU"});
  const std::string two_fields = Params({"8801111111117", "판콜"});
  // Barcodes whose look-up pattern would hold a LIKE wildcard: another product's row would be
  // found, and its prices updated.
  const std::string wildcard_goods = Params({"1", "880%", "4500", "2600", "1", "UU"});
  const std::string wildcard_item = Params({"880_", "판콜", "동화약품"});
  const std::string refusal = "에러 [-1003]\n설명 [위치1 : 상품정보 데이터구성오류]\n";
  const Case cases[] = {
      {[] { return SaveGoods("", 1); }, "SaveGoods\n상품정보 []\n판매가/구입가업데이트 [1]\n"},
      {[] { return SaveGoods(nullptr, 0); }, "SaveGoods\n상품정보 []\n판매가/구입가업데이트 [0]\n"},
      // Two items announced, one given.
      {[&] { return SaveGoods(short_list.c_str(), 1); },
       "SaveGoods\n상품정보 [2‡8806470200028‡4500‡2600‡1‡UU]\n판매가/구입가업데이트 [1]\n"},
      {[] { return SaveGoods("-1", 1); }, "SaveGoods\n상품정보 [-1]\n판매가/구입가업데이트 [1]\n"},
      {[] { return SaveNewItem(""); }, "SaveNewItem\n상품정보 []\n"},
      {[&] { return SaveNewItem(two_fields.c_str()); },
       "SaveNewItem\n상품정보 [8801111111117‡판콜]\n"},
      {[&] { return SaveGoods(wildcard_goods.c_str(), 1); },
       "SaveGoods\n상품정보 [1‡880%‡4500‡2600‡1‡UU]\n판매가/구입가업데이트 [1]\n"},
      {[&] { return SaveNewItem(wildcard_item.c_str()); },
       "SaveNewItem\n상품정보 [880_‡판콜‡동화약품]\n"},
  };
  MakeDatabaseUnreachable();  // none of them gets that far
  for (const Case& c : cases) {
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    EXPECT_EQ(c.call(), kDataError) << c.record;
    EXPECT_EQ(LogText(), c.record + refusal + Rule());
  }
  // An empty list is done at once.
  EXPECT_EQ(SaveGoods("0", 1), kExportOk);
}

TEST_P(GoodsCatalogueTest, AFailedStepWritesTheInnerAndTheExportRecord) {
  struct Case {
    const char* name;
    std::string setup;
    std::string log;
  };
  const std::string goods = Params(
      {"2", "8801234567890", "1000", "600", "1", "DD", "1234567890128", "2000", "1200", "1", "DD"});
  const std::string header =
      "SaveGoods\n상품정보 [" + Utf8(goods) + "]\n판매가/구입가업데이트 [1]\n";
  const Case cases[] = {
      {"the package rows cannot be read", "DROP TABLE PM_DRUG.CD_ITEM_UNIT_MEMBER",
       "CGoodsData::HasBarcodeInItemUnitMember\n설명 [위치1]\nSELECT TOP 1 * FROM "
       "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE LIKE '%%8801234567890' ORDER BY SN "
       "DESC\n" +
           Rule() + header + "에러 [-1002]\n설명 [위치3 : 색인0]\n" + Rule()},
      {"the national table cannot be read", "DROP TABLE PM_DRUG.CD_BARCODE",
       "CGoodsData::InsertItemUnitMember\n설명 [위치2]\nSELECT TOP 1 * FROM PM_DRUG..CD_BARCODE "
       "WHERE BARCODE IN ('1234567890128', '1234567890128')\n" +
           Rule() + header + "에러 [-1002]\n설명 [위치4 : 색인1]\n" + Rule()},
  };
  for (const Case& c : cases) {
    SetUp();
    Query(c.setup);
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    EXPECT_EQ(SaveGoods(goods.c_str(), 1), kDbStepFailed) << c.name;
    EXPECT_EQ(LogText(), c.log) << c.name;
  }
}

RETALO_ON_EVERY_BACKEND(GoodsCatalogueTest);

}  // namespace
}  // namespace retalo
