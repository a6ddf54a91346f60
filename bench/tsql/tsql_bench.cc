// Translation cost per statement of representative pharmacy database texts: a simple select, the
// guidance UNION and an IF EXISTS block (the barcode look-up), plus one full run of that block,
// alone and through a session that keeps translations and statements between runs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "retalo/db/tsql/tsql.h"

namespace {

constexpr const char* kSchema = R"(
ATTACH ':memory:' AS PM_DRUG; ATTACH ':memory:' AS PM_BASE; ATTACH ':memory:' AS PM_PRES;
CREATE TABLE PM_BASE.CD_PERSON (CUSCODE VARCHAR(10), PANAME VARCHAR(20), PANUM VARCHAR(13),
  CUSACT CHAR(1), ACCSCORE INT, INSCODE VARCHAR(10), SEQ INT);
CREATE TABLE PM_PRES.ps_sub_pharm (SUB_SERIAL INT, PreSerial VARCHAR(14), DrugCode VARCHAR(10),
  QUAN FLOAT, QUAN_TIME INT, Days INT, ps_type CHAR(1));
CREATE TABLE PM_PRES.Temp_ps_sub_pharm (SUB_SERIAL INT, PreSerial VARCHAR(14),
  DrugCode VARCHAR(10), QUAN FLOAT, QUAN_TIME INT, Days INT, ps_type CHAR(1));
CREATE TABLE PM_DRUG.CD_ETCGOODS (DrugCode VARCHAR(10), effctname VARCHAR(100),
  effctunit VARCHAR(20));
CREATE TABLE PM_DRUG.CD_MC (DRUGCODE VARCHAR(10));
CREATE TABLE PM_DRUG.CD_GOODS (GOODSNAME VARCHAR(100), BARCODE VARCHAR(30), DRUGCODE VARCHAR(10),
  SPLNAME VARCHAR(50));
CREATE TABLE PM_DRUG.CD_ITEM_UNIT_MEMBER (SN INTEGER PRIMARY KEY, DRUGCODE VARCHAR(10),
  CD_CD_UNIT VARCHAR(3), CD_NM_UNIT INT, CD_MY_UNIT FLOAT, CD_IN_UNIT FLOAT,
  CD_CD_BARCODE VARCHAR(30));
CREATE TABLE PM_DRUG.CD_ITEM_UNIT (CD_CD_UNIT VARCHAR(3), CD_NM_UNIT VARCHAR(20));
CREATE TABLE PM_DRUG.IM_TOTAL (DRUGCODE VARCHAR(10), IM_QT_SALE_DEBIT FLOAT);
CREATE TABLE PM_DRUG.CD_BARCODE (BARCODE VARCHAR(30), ETCNAME VARCHAR(100), SPLNAME VARCHAR(50),
  PAKUNIT INT);
INSERT INTO PM_DRUG.CD_GOODS VALUES ('감기약', '', 'ZP00000001', '제약사');
INSERT INTO PM_DRUG.CD_ITEM_UNIT VALUES ('001', '박스');
INSERT INTO PM_DRUG.CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT,
  CD_CD_BARCODE) VALUES ('ZP00000001', '001', 10, 1500, 1000, '08801234567890');
INSERT INTO PM_DRUG.IM_TOTAL VALUES ('ZP00000001', 37);
)";

constexpr const char* kSimpleSelect =
    "SELECT PANAME, ACCSCORE, INSCODE, PANUM, SEQ FROM PM_BASE..CD_PERSON WHERE CUSCODE = "
    "'0000000001' AND CUSACT = '1'";

constexpr const char* kGuidanceUnion =
    "SELECT  P.SUB_SERIAL, '' AS OLD, '' AS Paname, '' AS PANUM, P.DrugCode,         '1일,' + "
    "CONVERT(varchar(4), P.QUAN_TIME) + '회,' + convert(varchar(20),CONVERT(float, P.QUAN)) + "
    "replace(I.effctname,case when I.effctunit is null then '1' else I.effctunit end,'')  +'/' + "
    "CONVERT(varchar(4), P.Days) + '일' AS WAY \t\tFROM    PM_PRES..ps_sub_pharm AS P \t\tINNER "
    "JOIN PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = I.DrugCode \t\tLEFT OUTER JOIN "
    "PM_DRUG..CD_MC AS MC ON P.DrugCode = MC.DRUGCODE \t\tWHERE  P.ps_type != '9' AND    "
    "(P.PreSerial = '20240605000001') \t\tunion \t\tSELECT  P.SUB_SERIAL, '' AS OLD, '' AS "
    "Paname, '' AS PANUM, P.DrugCode, \t\t'1일,' + CONVERT(varchar(4), P.QUAN_TIME) + '회,' + "
    "convert(varchar(20),CONVERT(float, P.QUAN)) + replace(I.effctname,case when I.effctunit is "
    "null then '1' else I.effctunit end,'') +'/' + CONVERT(varchar(4), P.Days) + '일' AS WAY "
    "\t\tFROM    PM_PRES..Temp_ps_sub_pharm AS P \t\tINNER JOIN PM_DRUG..CD_ETCGOODS AS I ON "
    "P.DrugCode = I.DrugCode  \t\tLEFT OUTER JOIN PM_DRUG..CD_MC AS MC ON P.DrugCode = "
    "MC.DRUGCODE \t\tWHERE  P.ps_type != '9' AND    (P.PreSerial = '20240605000001') \t\tORDER "
    "BY P.SUB_SERIAL ASC";

constexpr const char* kBarcodeLookup =
    "IF EXISTS (SELECT * FROM PM_DRUG..CD_GOODS AS A INNER JOIN PM_DRUG..CD_ITEM_UNIT_MEMBER AS B "
    "ON A.DRUGCODE = B.DRUGCODE AND B.CD_CD_BARCODE LIKE '%%8801234567890') BEGIN SELECT "
    "B.CD_CD_BARCODE AS BARCODE, A.GOODSNAME AS ETCNAME, A.SPLNAME AS SPLNAME, B.CD_NM_UNIT AS "
    "PAKUNIT, B.PACK, B.CD_MY_UNIT, B.CD_IN_UNIT, ISNULL(C.IM_QT_SALE_DEBIT, 0) AS "
    "IM_QT_SALE_DEBIT FROM PM_DRUG..CD_GOODS AS A INNER JOIN (SELECT B1.*, B3.CD_NM_UNIT AS PACK "
    "FROM PM_DRUG..CD_ITEM_UNIT_MEMBER AS B1 INNER JOIN (SELECT DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
    "MAX(SN) AS SN FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE LIKE '%%8801234567890' "
    "GROUP BY DRUGCODE, CD_CD_UNIT, CD_NM_UNIT) AS B2 ON B1.DRUGCODE = B2.DRUGCODE AND B1.SN = "
    "B2.SN LEFT JOIN PM_DRUG..CD_ITEM_UNIT AS B3 ON B1.CD_CD_UNIT = B3.CD_CD_UNIT) AS B ON "
    "A.DRUGCODE = B.DRUGCODE LEFT JOIN PM_DRUG..IM_TOTAL AS C ON A.DRUGCODE = C.DRUGCODE END ELSE "
    "BEGIN SELECT BARCODE, ETCNAME, SPLNAME, PAKUNIT, 0 AS PACK, 0 AS CD_MY_UNIT, 0 AS "
    "CD_IN_UNIT, 0 AS IM_QT_SALE_DEBIT FROM PM_DRUG..CD_BARCODE WHERE BARCODE LIKE "
    "'%%8801234567890' END";

// One connection with the pharmacy databases attached, for the whole benchmark run.
sqlite3* Database() {
  static sqlite3* db = [] {
    sqlite3* opened = nullptr;
    std::string error;
    if (sqlite3_open(":memory:", &opened) != SQLITE_OK ||
        sqlite3_exec(opened, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        !tsql::RegisterFunctions(opened, &error)) {
      return static_cast<sqlite3*>(nullptr);
    }
    return opened;
  }();
  return db;
}

void Translate(benchmark::State& state, const char* text) {
  sqlite3* db = Database();
  std::vector<std::string> statements;
  std::string error;
  for (auto _ : state) {
    if (!tsql::Translate(db, text, &statements, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(statements.data());
  }
}

void BM_TranslateSimpleSelect(benchmark::State& state) { Translate(state, kSimpleSelect); }
void BM_TranslateGuidanceUnion(benchmark::State& state) { Translate(state, kGuidanceUnion); }

// The IF EXISTS block needs RunBatch's interpretation; CompileOnly translates all its branches.
void BM_TranslateIfExistsBlock(benchmark::State& state) {
  sqlite3* db = Database();
  std::string error;
  for (auto _ : state) {
    int statements = tsql::CompileOnly(db, kBarcodeLookup, &error);
    if (statements < 0) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(statements);
  }
}

// Translation and run of the barcode look-up on a one-product catalogue.
void BM_RunIfExistsBlock(benchmark::State& state) {
  sqlite3* db = Database();
  std::string error;
  tsql::BatchResult result;
  for (auto _ : state) {
    if (!tsql::RunBatch(db, kBarcodeLookup, &result, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.result_sets.data());
  }
}

// The same through a session that keeps its translations and statements, with a new barcode
// each time: the literals differ, the translation is shared.
void BM_SessionRunIfExistsBlock(benchmark::State& state) {
  sqlite3* db = Database();
  tsql::Session session(db);
  std::string error;
  tsql::BatchResult result;
  const std::string text = kBarcodeLookup;
  const std::string scanned = "8801234567890";
  long long barcode = 8801234567890;
  for (auto _ : state) {
    std::string filled = text;
    const std::string next = std::to_string(barcode++ % 2 == 0 ? 8801234567890 : 8801234567891);
    for (size_t at = filled.find(scanned); at != std::string::npos;
         at = filled.find(scanned, at + next.size())) {
      filled.replace(at, scanned.size(), next);
    }
    if (!session.Run(filled, &result, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.result_sets.data());
  }
}

BENCHMARK(BM_TranslateSimpleSelect);
BENCHMARK(BM_TranslateGuidanceUnion);
BENCHMARK(BM_TranslateIfExistsBlock);
BENCHMARK(BM_RunIfExistsBlock);
BENCHMARK(BM_SessionRunIfExistsBlock);

}  // namespace
