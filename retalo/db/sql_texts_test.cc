// Every SQL text of the catalogue run on the fixture databases through CAdoConnection and the
// embedded SQLite backend, with representative values: the rows it reads, or what it leaves
// in the databases (looked at directly with SQLite, not through the layer under test).
#include "retalo/db/sql_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <span>
#include <variant>

#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "retalo/db/ado_connection.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_text_list.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

using Value = std::variant<std::string, int, double, char>;  // texts in UTF-8

std::string Today(int days_back = 0) {
  std::time_t now = std::time(nullptr) - days_back * 24 * 3600;
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  return std::string(text, std::strftime(text, sizeof text, "%Y%m%d", &local));
}

struct Case {
  std::string name = {};
  std::string_view text = {};
  std::vector<Value> args = {};
  bool want_rows = false;
  int expected_rc = kSqlOk;
  std::vector<std::string> read = {};  // fields read from every row: a name, or "#n" for a position
  std::string expected_rows = {};      // rows read: fields joined by '|', rows by '\n' (UTF-8)
  bool unordered = false;              // the text has no ORDER BY: compare the rows as a set
  std::vector<std::string> setup = {};  // plain SQLite run first (schema-qualified names)
  std::string check = {};               // plain SQLite run afterwards
  std::string expected_check = {};
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

const std::string kT = Today();
const std::string kP1 = kT + "000001";
const std::string kP2 = kT + "000002";
const std::string kOrder = "20240105000004";

// The payment row of one payment, as the payment record writes it: 47 columns set on update,
// the key, and 50 columns on insert.
std::vector<Value> PaymentRowArgs(const std::map<std::string, Value>& row) {
  static const char* const kSet[] = {
      "DAY_SERIAL",    "ETC_CARD",    "ETC_CASH",        "ETC_PAPER",   "OTC_CARD",
      "OTC_CASH",      "OTC_PAPER",   "PTRDTYPE",        "PTERMID",     "PMCHDATA",
      "PCARDNAME",     "PTRACKDATA",  "PSWIPE",          "PMONTH",      "PTRADEAMT",
      "PSVCAMT",       "PTAXAMT",     "PAUDATE",         "PCRYPFLAG",   "PCARDINMODE",
      "PAPPROVAL_NUM", "PCANCEL_NUM", "APPR_POSITION",   "PCHK_GUBUN",  "NAUDATE",
      "NTRDNO",        "NSUPAMT",     "NVATAMT",         "NTRADER",     "NCHKNOGBN",
      "NPINGBN",       "NCASHINMODE", "NAPPROVAL_NUM",   "NCANCEL_NUM", "SAUTHNUM",
      "NCHK_GUBUN",    "AUTOGUBUN",   "DAERISUNAB",      "APPR_DATE",   "CANCEL_DATE",
      "APPR_GUBUN",    "YOHUDATE",    "PCARDINPUTGUBUN", "PCARDINNAME", "SMCHNO",
      "TEMP_4",        "TEMP_5"};
  static const std::map<std::string, bool> kIntegers = {
      {"DAY_SERIAL", true}, {"ETC_CARD", true}, {"ETC_CASH", true},  {"ETC_PAPER", true},
      {"OTC_CARD", true},   {"OTC_CASH", true}, {"OTC_PAPER", true}, {"PTRADEAMT", true},
      {"PSVCAMT", true},    {"PTAXAMT", true},  {"PCRYPFLAG", true}, {"NSUPAMT", true},
      {"NVATAMT", true},    {"TEMP_4", true},   {"TEMP_5", true}};
  auto value = [&](const std::string& column) -> Value {
    auto found = row.find(column);
    if (found != row.end()) return found->second;
    return kIntegers.count(column) ? Value(0) : Value(std::string());
  };
  std::vector<Value> args;
  auto key = [&] {
    for (const char* column : {"CUSCODE", "INDATE", "PRESERIAL"}) args.push_back(value(column));
  };
  key();
  for (const char* column : kSet) args.push_back(value(column));
  key();
  // The insert names the same columns in the same order, the key and DAY_SERIAL first.
  for (const char* column : {"CUSCODE", "INDATE", "DAY_SERIAL", "PRESERIAL"}) {
    args.push_back(value(column));
  }
  for (const char* column : std::span(kSet).subspan(1)) args.push_back(value(column));
  return args;
}

// The barcode look-up's three placeholder triples: operator, prefix, barcode.
std::vector<Value> BarcodeMatch(const std::string& op, const std::string& prefix,
                                const std::string& barcode) {
  return {op, prefix, barcode, op, prefix, barcode, op, prefix, barcode};
}

// The fields of the barcode answer, in the order of the answer text.
const std::vector<std::string> kAnswerFields = {
    "BARCODE", "ETCNAME",    "SPLNAME",    "PAKUNIT",
    "PACK",    "CD_MY_UNIT", "CD_IN_UNIT", "IM_QT_SALE_DEBIT"};

std::vector<Case> Cases() {
  const std::string yy = kT.substr(2, 2);
  const std::string age = std::to_string(100 + std::stoi(yy) - 80);
  const std::string line_setup =
      "INSERT INTO PM_BASE.SPP_SUB (SPP_DT_APPL, SPP_NO_SLIP, SPP_CL_SLIP, SPP_SR_SLIP_COL, "
      "SPP_CD_ACCOUNT, SPP_IS_AUTO, SPP_NO_SERIAL, SPP_MY_DEBIT, SPP_MY_CREDIT) VALUES "
      "('20240105', '000004', '1', '0001', '4101', 'D', '20240105000004', 0, 9091), "
      "('20240105', '000004', '1', '0002', '2161', 'D', '20240105000004', 0, 909), "
      "('20240104', '000009', '1', '0001', '4101', 'D', '20240105000004', 0, 100), "
      "('20240105', '000005', '1', '0001', '4101', 'D', '20240105000005', 0, 5)";
  const std::string approval_setup =
      "INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, INDATE, PRESERIAL, DAY_SERIAL, PAPPROVAL_NUM, "
      "NAPPROVAL_NUM, APPR_DATE, APPR_GUBUN, ETC_CARD, OTC_CARD, ETC_CASH, OTC_CASH, ETC_PAPER, "
      "OTC_PAPER, TEMP_4, TEMP_5, DAERISUNAB) VALUES "
      "('0000000001', '20240105', '20240105000004', 4, '12345678', '', '20240105153000', '1', "
      "0, 5000, 0, 0, 0, 0, 0, 5000, '1'), "
      "('0000000001', '20240105', '" +
      kP1 +
      "', 4, '12345678', '', '20240105153000', '1', "
      "3500, 0, 0, 0, 0, 0, 3500, 0, '2'), "
      "('0000000002', '20240105', '20240105000007', 7, '', '87654321', '20240105', '2', "
      "0, 0, 1200, 800, 0, 0, 0, 0, '1')";
  const std::string cancel_check =
      "SELECT PRESERIAL, PCANCEL_NUM, PCARDINMODE, NCANCEL_NUM, NCASHINMODE, APPR_GUBUN, "
      "PTRDTYPE, DAERISUNAB, ETC_PAPER, OTC_PAPER, ETC_CARD, OTC_CARD, ETC_CASH, OTC_CASH "
      "FROM PM_PRES.CD_SUNAB WHERE INDATE = '20240105' ORDER BY PRESERIAL";
  const std::string total_setup_mc =
      "INSERT INTO PM_BASE.MC_CUSTOM_DATE VALUES ('20240105', '2', '0000000001', '4101', "
      "'1234567890', '', 0, 9091)";
  const std::string total_setup_mt =
      "INSERT INTO PM_BASE.MT_CUSTOM_TOTAL VALUES ('2', '0000000001', '4101', '1234567890', '', "
      "0, 9091)";
  const std::string total_setup_ma =
      "INSERT INTO PM_BASE.MA_ACCOUNT_DATE VALUES ('20240105', '1100', 10000, 0)";

  std::map<std::string, Value> card_payment = {
      {"CUSCODE", "0000000001"}, {"INDATE", "20240105"},
      {"PRESERIAL", kOrder},     {"DAY_SERIAL", 4},
      {"OTC_CARD", 10000},       {"PTRADEAMT", 9091},
      {"PTAXAMT", 909},          {"PTRDTYPE", "D1"},
      {"PTERMID", "1234567890"}, {"PTRACKDATA", "9410********1234"},
      {"PMONTH", "00"},          {"PAUDATE", "20240105"},
      {"PCARDINMODE", "1"},      {"PAPPROVAL_NUM", "12345678"},
      {"APPR_POSITION", "3"},    {"PCHK_GUBUN", "KIC"},
      {"NTRDNO", "0004"},        {"DAERISUNAB", "1"},
      {"APPR_DATE", "20240105"}, {"APPR_GUBUN", "1"},
      {"TEMP_5", 10000},         {"PCARDNAME", "O'Card 카드"}};
  std::map<std::string, Value> prescription_payment = {{"CUSCODE", "0000000001"},
                                                       {"INDATE", kT},
                                                       {"PRESERIAL", kP1},
                                                       {"DAY_SERIAL", 1},
                                                       {"ETC_CASH", 3500},
                                                       {"NSUPAMT", 3500},
                                                       {"NAUDATE", kT},
                                                       {"NCHKNOGBN", "0100001234"},
                                                       {"NAPPROVAL_NUM", "87654321"},
                                                       {"NCHK_GUBUN", "KCJ"},
                                                       {"AUTOGUBUN", "1"},
                                                       {"NCASHINMODE", "1"},
                                                       {"APPR_POSITION", "1"},
                                                       {"DAERISUNAB", "1"},
                                                       {"APPR_DATE", kT + "101500"},
                                                       {"APPR_GUBUN", "2"}};

  return {
      // Customer lists and guidance.
      {"TodayPrescriptions",
       sql::kSelectTodayPrescriptions,
       {},
       true,
       kSqlOk,
       {"#0", "#1", "#2", "#3"},
       kP2 + "|김영희|9203152345678|0\n" + kP1 + "|홍길동|8001011234567|0"},
      {"GuidanceDrugs",
       sql::kSelectGuidanceDrugs,
       {kP1, kP1},
       true,
       kSqlOk,
       {"SUB_SERIAL", "OLD", "Paname", "DrugCode", "WAY"},
       "1|||E100000001|1일,3회,1캡슐/3일\n2|||E100000002|1일,3회,1.5mL/3일\n"
       "3|||E100000001|1일,2회,2캡슐/5일"},
      {"GuidanceDrugsWithPatient",
       sql::kSelectGuidanceDrugsWithPatient,
       {kP1},
       true,
       kSqlOk,
       {"SUB_SERIAL", "OLD", "Paname", "PANUM", "DrugCode", "WAY"},
       "1|" + age + "|홍길동|8001011******|E100000001|1일,3회,1캡슐/3일\n2|" + age +
           "|홍길동|8001011******|E100000002|1일,3회,1.5mL/3일",
       true},
      // Sale recording.
      {"SaleCustomer",
       sql::kSelectSaleCustomer,
       {"0000000002"},
       true,
       kSqlOk,
       {"PANAME", "ACCSCORE", "INSCODE", "PANUM", "SEQ"},
       "김영희|0|2345678901|9203152345678|2"},
      {"SaleCustomerInactive", sql::kSelectSaleCustomer, {"0000000003"}, true, kSqlNoRows},
      {"NewestUnitByBarcode",
       sql::kSelectNewestUnitByBarcode,
       {"8806430100011"},
       true,
       kSqlOk,
       {"DRUGCODE", "CD_CD_UNIT", "CD_NM_UNIT", "CD_MY_UNIT", "CD_IN_UNIT"},
       "6430100010|004|10|3000|2000"},
      {"InsertSaleMaster",
       sql::kInsertSaleMaster,
       {kOrder,  "20240105",     "0000000001", 1,   "1234567890", "1",    "홍길동", "",   "000004",
        10000.0, 1000.0,         9000.0,       0.0, 0.0,          8182.0, 818.0,    10.0, 6000.0,
        1,       "8001011234567"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT SL_NO_ORDER, SL_DT_APPL, SL_CD_CUSTOM, SEQ, SL_NM_CUSTOM, SL_NM_MEMO, "
       "SL_NO_SLIP_REC, SL_MY_TOTAL, SL_MY_DISCOUNT, SL_MY_SALE, SL_MY_RECIVE, SL_MY_REC_VAT, "
       "SL_MY_DIS_RATIO, SL_MY_SALE_COST, SL_DAY_SERIAL, INSERTTIME IS NOT NULL, ADJUST_CHK, "
       "PRESERIAL IS NULL, POS_GUBUN, PRECOUNT IS NULL, PANUM, DUR FROM PM_PRES.SALE_MAIN",
       kOrder + "|20240105|0000000001|1|홍길동||000004|10000|1000|9000|8182|818|10|6000|1|1|True|"
                "1|C|1|8001011234567|N"},
      {"InsertSaleLine",
       sql::kInsertSaleLine,
       {kOrder, "6430100010", "20240105", "0000000001", "1234567890", "004", 10.0, 2.0, 3000.0,
        3000.0, 3000.0, 6000.0, 6000.0, 6000.0, 0.0, 2000.0, 1, "8806430100011", 2000.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT DRUGCODE, SL_UN_ITEM, SL_NM_UNIT, SL_NM_ITEM, SL_NM_COST_R, SL_MY_AMOUNT_A, "
       "SL_MY_IN_COST, DRUG_SERIAL, SL_TOTAL_PRICE, DAYS, BARCODE, INPRICE FROM PM_PRES.SALE_SUB",
       "6430100010|004|10|2|3000|6000|2000|1|0|0|8806430100011|2000"},
      {"InsertSaleStockMovement",
       sql::kInsertSaleStockMovement,
       {kOrder, "6430100010", "20240105", 0.0, 20.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_POSITION",
       "D|" + kOrder + "|6430100010|20240105|0|20"},
      {"DayStockTotals",
       sql::kSelectDayStockTotals,
       {"6430100010", kT},
       true,
       kSqlOk,
       {"IM_QT_SALE_CREDIT", "IM_QT_SALE_DEBIT"},
       "20|0"},
      {"UpdateDayStockTotals",
       sql::kUpdateDayStockTotals,
       {40.0, 1.5, "6430100010", kT},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT FROM PM_DRUG.IM_DATE_TOTAL",
       "40|1.5"},
      {"InsertDayStockTotals",
       sql::kInsertDayStockTotals,
       {"20240105", "6470200020", 2.0, 0.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_DATE_TOTAL WHERE IM_DT_APPL = '20240105'",
       "20240105|6470200020|2|0"},
      {"StockOnHand",
       sql::kSelectStockOnHand,
       {"ZP00000041"},
       true,
       kSqlOk,
       {"IM_QT_SALE_DEBIT"},
       "15"},
      {"StockOnHandMissing", sql::kSelectStockOnHand, {"6420300030"}, true, kSqlNoRows},
      {"UpdateStockOnHand",
       sql::kUpdateStockOnHand,
       {100.0, "6430100010"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = '6430100010'",
       "100"},
      {"InsertStockOnHand",
       sql::kInsertStockOnHand,
       {"6420300030", -2.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = '6420300030'",
       "6420300030|-2"},
      // Ledger posting.
      {"InsertStatementHeader",
       sql::kInsertStatementHeader,
       {"20240105", "000004", 1, "", 10000.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.SP_MAIN",
       "20240105|000004|1||10000|"},
      {"DayCounter",
       sql::kSelectDayCounter,
       {kT},
       true,
       kSqlOk,
       {"CD_SE_BASE", "CD_SE_SERIAL", "OPENTIME"},
       "0|3|0900"},
      {"DayCounterMissing", sql::kSelectDayCounter, {"20240105"}, true, kSqlNoRows},
      {"UpdateDayCounter",
       sql::kUpdateDayCounter,
       {4, kT},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CD_SE_SERIAL FROM PM_BASE.CD_BASE",
       "4"},
      {"InsertDayCounter",
       sql::kInsertDayCounter,
       {"20240105", 1, "1030"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.CD_BASE WHERE CD_DT_APPL = '20240105'",
       "20240105|0|1|1030"},
      {"StatementLineNumber",
       sql::kSelectStatementLineNumber,
       {"20240105", "000004", "1"},
       true,
       kSqlOk,
       {"MAXSLIPCOL", "CALCCOL"},
       "0002|2",
       false,
       {line_setup}},
      {"StatementLineNumberFirst",
       sql::kSelectStatementLineNumber,
       {"20240106", "000001", "1"},
       true,
       kSqlOk,
       {"MAXSLIPCOL", "CALCCOL"},
       "|0"},
      {"InsertStatementLine",
       sql::kInsertStatementLine,
       {"20240105", "000004", "1", "0001", "4101", "2", "0000000001", "", "", "", "일반매출", "0",
        "9091", "0", "", "D", kOrder, "1234567890", ""},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT SPP_SR_SLIP_COL, SPP_CD_ACCOUNT, SPP_IS_BUY_CUSTOM, SPP_NT_REMARK, SPP_MY_DEBIT, "
       "SPP_MY_CREDIT, SPP_IS_VAT, SPP_IS_AUTO, SPP_NO_SERIAL, SPP_CD_FAMILY FROM PM_BASE.SPP_SUB",
       "0001|4101|2|일반매출|0|9091|0|D|" + kOrder + "|1234567890"},
      {"CustomerDateTotal",
       sql::kSelectCustomerDateTotal,
       {"20240105", "2", "0000000001", "4101"},
       true,
       kSqlOk,
       {"MC_MY_DEBIT", "MC_MY_CREDIT"},
       "0|9091",
       false,
       {total_setup_mc}},
      {"UpdateCustomerDateTotal",
       sql::kUpdateCustomerDateTotal,
       {"1234567890", "", 0.0, 18182.0, "20240105", "2", "0000000001", "4101"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {total_setup_mc},
       "SELECT * FROM PM_BASE.MC_CUSTOM_DATE",
       "20240105|2|0000000001|4101|1234567890||0|18182"},
      {"InsertCustomerDateTotal",
       sql::kInsertCustomerDateTotal,
       {"20240105", "2", "0000000001", "4101", "1234567890", "", 0.0, 9091.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.MC_CUSTOM_DATE",
       "20240105|2|0000000001|4101|1234567890||0|9091"},
      {"CustomerTotal",
       sql::kSelectCustomerTotal,
       {"2", "0000000001", "4101"},
       true,
       kSqlOk,
       {"MT_MY_DEBIT", "MT_MY_CREDIT"},
       "0|9091",
       false,
       {total_setup_mt}},
      {"UpdateCustomerTotal",
       sql::kUpdateCustomerTotal,
       {"1234567890", "", 0.0, 0.0, "2", "0000000001", "4101"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {total_setup_mt},
       "SELECT * FROM PM_BASE.MT_CUSTOM_TOTAL",
       "2|0000000001|4101|1234567890||0|0"},
      {"InsertCustomerTotal",
       sql::kInsertCustomerTotal,
       {"2", "0000000001", "4101", "1234567890", "", 0.0, 9091.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.MT_CUSTOM_TOTAL",
       "2|0000000001|4101|1234567890||0|9091"},
      {"AccountDateTotal",
       sql::kSelectAccountDateTotal,
       {"20240105", "1100"},
       true,
       kSqlOk,
       {"MA_MY_DEBIT", "MA_MY_CREDIT"},
       "10000|0",
       false,
       {total_setup_ma}},
      {"TrialBalance",
       sql::kSelectTrialBalance,
       {"1100"},
       true,
       kSqlOk,
       {"MT_MY_DEBIT", "MT_MY_CREDIT"},
       "50000|0"},
      {"UpdateAccountDateTotal",
       sql::kUpdateAccountDateTotal,
       {20000.0, 0.0, "20240105", "1100"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {total_setup_ma},
       "SELECT * FROM PM_BASE.MA_ACCOUNT_DATE",
       "20240105|1100|20000|0"},
      {"InsertAccountDateTotal",
       sql::kInsertAccountDateTotal,
       {"20240105", "4101", 0.0, 9091.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.MA_ACCOUNT_DATE",
       "20240105|4101|0|9091"},
      {"UpdateTrialBalance",
       sql::kUpdateTrialBalance,
       {60000.0, 0.5, "1100"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT MT_MY_DEBIT, MT_MY_CREDIT FROM PM_BASE.MT_TRIAL_BALANCE WHERE MT_CD_ACCOUNT = "
       "'1100'",
       "60000|0.5"},
      {"InsertTrialBalance",
       sql::kInsertTrialBalance,
       {"1200", 5.5, 0.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.MT_TRIAL_BALANCE WHERE MT_CD_ACCOUNT = '1200'",
       "1200||5.5|0|0|0"},
      {"AutoStatementLines",
       sql::kSelectAutoStatementLines,
       {"D", kOrder},
       true,
       kSqlOk,
       {"SPP_DT_APPL", "SPP_NO_SLIP", "SPP_SR_SLIP_COL", "SPP_CD_ACCOUNT", "SPP_MY_CREDIT"},
       "20240104|000009|0001|4101|100\n20240105|000004|0001|4101|9091\n"
       "20240105|000004|0002|2161|909",
       false,
       {line_setup}},
      {"DeleteStatementLine",
       sql::kDeleteStatementLine,
       {"20240105", "000004", "1", "0002"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {line_setup},
       "SELECT group_concat(SPP_NO_SLIP || '/' || SPP_SR_SLIP_COL) FROM (SELECT * FROM "
       "PM_BASE.SPP_SUB ORDER BY SPP_DT_APPL, SPP_NO_SLIP, SPP_SR_SLIP_COL)",
       "000009/0001,000004/0001,000005/0001"},
      {"DeleteStatementHeader",
       sql::kDeleteStatementHeader,
       {"20240105", "000004"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {"INSERT INTO PM_BASE.SP_MAIN VALUES ('20240105', '000004', '1', '', 10000, ''), "
        "('20240105', '000005', '1', '', 500, '')"},
       "SELECT group_concat(SP_NO_SLIP) FROM PM_BASE.SP_MAIN",
       "000005"},
      // Goods and barcode catalogue.
      {"HighestNewDrugNumber",
       sql::kSelectHighestNewDrugNumber,
       {},
       true,
       kSqlOk,
       {"DRUGCODE"},
       "41"},
      {"HighestNewDrugNumberNone",
       sql::kSelectHighestNewDrugNumber,
       {},
       true,
       kSqlOk,
       {"DRUGCODE"},
       "0",
       false,
       {"DELETE FROM PM_DRUG.CD_GOODS WHERE DRUGCODE LIKE 'ZP%'"}},
      {"NextMakerCode", sql::kSelectNextMakerCode, {}, true, kSqlOk, {"SPLCODE"}, "50003"},
      {"NextMakerCodeNone",
       sql::kSelectNextMakerCode,
       {},
       true,
       kSqlOk,
       {"SPLCODE"},
       "",
       false,
       {"DELETE FROM PM_DRUG.CD_MAKER WHERE SPLCODE LIKE '5%'"}},
      {"HighestUnitCode", sql::kSelectHighestUnitCode, {}, true, kSqlOk, {"CD_CD_UNIT"}, "004"},
      {"BarcodeAnswerCatalogue", sql::kSelectBarcodeAnswer,
       BarcodeMatch("LIKE", "%%", "8801234567890"), true, kSqlOk, kAnswerFields,
       "08801234567890|박카스디|동아제약|1|병|1000|600|15"},
      {"BarcodeAnswerNewestPrices", sql::kSelectBarcodeAnswer,
       BarcodeMatch("=", "", "8806430100011"), true, kSqlOk, kAnswerFields,
       "8806430100011|타이레놀정500mg|한국얀센|10|박스|3000|2000|120"},
      {"BarcodeAnswerNationalTable", sql::kSelectBarcodeAnswer,
       BarcodeMatch("LIKE", "%%", "8809876543210"), true, kSqlOk, kAnswerFields,
       "8809876543210|훼스탈플러스정|한독|10|0|0|0|0"},
      {"BarcodeAnswerUnknown", sql::kSelectBarcodeAnswer, BarcodeMatch("=", "", "12345678"), true,
       kSqlNoRows},
      {"NewestUnitMemberRow",
       sql::kSelectNewestUnitMemberRow,
       {"LIKE", "%%", "8801234567890"},
       true,
       kSqlOk,
       {"SN", "DRUGCODE", "CD_CD_BARCODE", "CD_CD_QUAN"},
       "4|ZP00000041|08801234567890|1"},
      {"DatedUnitPricesNewDay",
       sql::kUpsertDatedUnitPrices,
       {"6470200020", "20990101", 4500.0, 2600.0, "6470200020", "20990101", "6470200020", "004",
        "10", 4500.0, 2600.0, "8806470200028", "20990101", 10.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CHANGE_DATE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, "
       "CD_CD_POS, CD_CD_QUAN, COM_GUBUN FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = "
       "'6470200020' ORDER BY SN",
       "20240101|004|10|4000|2500|8806470200028||10|01\n"
       "20990101|004|10|4500|2600|8806470200028||10|01"},
      {"DatedUnitPricesSameDay",
       sql::kUpsertDatedUnitPrices,
       {"6470200020", "20240101", 4500.0, 2600.0, "6470200020", "20240101", "6470200020", "004",
        "10", 4500.0, 2600.0, "8806470200028", "20240101", 10.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CHANGE_DATE, CD_MY_UNIT, CD_IN_UNIT FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE "
       "DRUGCODE = '6470200020' ORDER BY SN",
       "20240101|4500|2600"},
      {"NationalBarcode",
       sql::kSelectNationalBarcode,
       {"08809876543210", "8809876543210"},
       true,
       kSqlOk,
       {"BARCODE", "ETCNAME", "SPLNAME", "PAKUNIT", "TITLECODE", "UNITNAME"},
       "8809876543210|훼스탈플러스정|한독|10|8809876543210|정"},
      {"GoodsByBarcode",
       sql::kSelectGoodsByBarcode,
       {"8801234567890"},
       true,
       kSqlOk,
       {"DRUGCODE", "GOODSNAME"},
       "ZP00000041|박카스디"},
      {"MakerByName", sql::kSelectMakerByName, {"한독"}, true, kSqlOk, {"SPLCODE"}, "50002"},
      {"InsertMaker",
       sql::kInsertMaker,
       {"50003", "동화약품"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '50003'",
       "50003|동화약품"},
      {"InsertPricedGoods",
       sql::kInsertPricedGoods,
       {"훼스탈플러스정", "8809876543210", "ZP00000042", "50002", 5000.0, 5000.0, "한독",
        "8809876543210"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT GOODSNAME, BARCODE, GOODSSELCODE, SPLCODE, ISSPECIAL, PRICE, SALEPRICE, SPLNAME, "
       "TITLECODE, POS_TAX, POS_GONG FROM PM_DRUG.CD_GOODS WHERE DRUGCODE = 'ZP00000042'",
       "훼스탈플러스정|8809876543210|B|50002|0|5000|5000|한독|8809876543210|Y|Y"},
      {"StockRowIfMissingAdds",
       sql::kInsertStockRowIfMissing,
       {"ZP00000042", "ZP00000042"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = 'ZP00000042'",
       "ZP00000042|0"},
      {"StockRowIfMissingKeeps",
       sql::kInsertStockRowIfMissing,
       {"ZP00000041", "ZP00000041"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = 'ZP00000041'",
       "ZP00000041|15"},
      {"InsertPricedUnitMember",
       sql::kInsertPricedUnitMember,
       {"ZP00000042", "002", 5000.0, 3500.0, "8809876543210", "20240105", "10"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT SN, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CHANGE_DATE, "
       "CD_CD_QUAN, COM_GUBUN FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = 'ZP00000042'",
       "6|002|1|5000|3500|8809876543210|20240105|10|01"},
      {"InsertUnnamedPricedGoods",
       sql::kInsertUnnamedPricedGoods,
       {"ZP00000042", 1500.0, 1500.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT GOODSNAME, BARCODE, SPLCODE, PRICE, SALEPRICE, typeof(PRICE) FROM PM_DRUG.CD_GOODS "
       "WHERE DRUGCODE = 'ZP00000042'",
       "제품명_미등록|||1500|1500|integer"},
      {"InsertUnnamedPricedUnitMember",
       sql::kInsertUnnamedPricedUnitMember,
       {"ZP00000042", "001", 1500.0, 1000.0, "2000000000001", "20240105"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_QUAN FROM "
       "PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = 'ZP00000042'",
       "001|1|1500|1000|2000000000001|1"},
      {"InsertGoods",
       sql::kInsertGoods,
       {"판콜에이내복액", "8801111111117", "ZP00000042", "50003", "동화약품", "8801111111117"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT GOODSNAME, BARCODE, SPLCODE, PRICE, SALEPRICE, SPLNAME, TITLECODE FROM "
       "PM_DRUG.CD_GOODS WHERE DRUGCODE = 'ZP00000042'",
       "판콜에이내복액|8801111111117|50003|0|0|동화약품|8801111111117"},
      {"InsertUnitMember",
       sql::kInsertUnitMember,
       {"ZP00000042", "003", "8801111111117", "20240105", "1"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT, CD_CD_QUAN FROM "
       "PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = 'ZP00000042'",
       "003|1|0|0|1"},
      {"InsertUnnamedGoodsWithQuotes",
       sql::kInsertUnnamedGoods,
       {"Kim's 신상품", "ZP00000043", "O'Neil"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT GOODSNAME, BARCODE, SPLNAME, PRICE FROM PM_DRUG.CD_GOODS WHERE DRUGCODE = "
       "'ZP00000043'",
       "Kim's 신상품||O'Neil|0"},
      {"InsertUnnamedUnitMember",
       sql::kInsertUnnamedUnitMember,
       {"ZP00000043", "001", "2000000000002", "20240105"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_CD_BARCODE, CD_CD_QUAN FROM "
       "PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = 'ZP00000043'",
       "001|1|0|2000000000002|1"},
      {"UnitCodeByName", sql::kSelectUnitCodeByName, {"정"}, true, kSqlOk, {"CD_CD_UNIT"}, "002"},
      {"UnitCodeByNameMissing", sql::kSelectUnitCodeByName, {"캡슐"}, true, kSqlNoRows},
      {"InsertUnit",
       sql::kInsertUnit,
       {"005", "캡슐"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.CD_ITEM_UNIT WHERE CD_CD_UNIT = '005'",
       "005|캡슐|"},
      {"MergeNamelessUnits",
       sql::kMergeNamelessUnits,
       {"001"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {"INSERT INTO PM_DRUG.CD_ITEM_UNIT VALUES ('006', '', '')",
        "UPDATE PM_DRUG.CD_ITEM_UNIT_MEMBER SET CD_CD_UNIT = '006' WHERE DRUGCODE = 'ZP00000041'"},
       "SELECT (SELECT group_concat(DRUGCODE || ':' || CD_CD_UNIT) FROM (SELECT * FROM "
       "PM_DRUG.CD_ITEM_UNIT_MEMBER ORDER BY SN)) || ' ' || (SELECT group_concat(CD_CD_UNIT) FROM "
       "PM_DRUG.CD_ITEM_UNIT)",
       "6430100010:004,6430100010:004,6470200020:004,ZP00000041:001,6420300030:004 "
       "001,002,003,004,999"},
      // Stock revision.
      {"GoodsDrugCode",
       sql::kSelectGoodsDrugCode,
       {"6430100010"},
       true,
       kSqlOk,
       {"DRUGCODE"},
       "6430100010"},
      {"GoodsDrugCodeMissing", sql::kSelectGoodsDrugCode, {""}, true, kSqlNoRows},
      {"InsertStockRevision",
       sql::kInsertStockRevision,
       {"20240105", "6430100010", kOrder, 12.0, -108.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IMS_STOCK_REVISION",
       "20240105|6430100010|" + kOrder + "|Retalo|12|-108"},
      {"InsertRevisionMovement",
       sql::kInsertRevisionMovement,
       {kOrder, "6430100010", "20240105", -108.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_POSITION",
       "Y|" + kOrder + "|6430100010|20240105|-108|0"},
      {"StockOnHandRow",
       sql::kSelectStockOnHandRow,
       {"6430100010"},
       true,
       kSqlOk,
       {"DRUGCODE", "IM_QT_SALE_DEBIT"},
       "6430100010|120"},
      {"DayStockRow",
       sql::kSelectDayStockRow,
       {"6430100010", kT},
       true,
       kSqlOk,
       {"IM_DT_APPL", "DRUGCODE", "IM_QT_SALE_DEBIT", "IM_QT_SALE_CREDIT"},
       kT + "|6430100010|0|20"},
      {"UpdateDayStockDebit",
       sql::kUpdateDayStockDebit,
       {-3.0, "6430100010", kT},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT FROM PM_DRUG.IM_DATE_TOTAL",
       "20|-3"},
      {"InsertDayStockDebit",
       sql::kInsertDayStockDebit,
       {"20240105", "6470200020", -3.0},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_DRUG.IM_DATE_TOTAL WHERE IM_DT_APPL = '20240105'",
       "20240105|6470200020|0|-3"},
      // Prescriptions, cancels, lists, display.
      {"UpdatePharmacistName",
       sql::kUpdatePharmacistName,
       {"김약사", kP1},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT group_concat(PH_NAME, ',') FROM PM_PRES.PS_MAIN",
       "김약사,,"},
      {"CountApprovalRows",
       sql::kCountApprovalRows,
       {'P', "12345678", "20240105"},
       true,
       kSqlOk,
       {"COUNT"},
       "2",
       false,
       {approval_setup}},
      {"CountApprovalRowsOtherDay",
       sql::kCountApprovalRows,
       {'P', "12345678", "20240106"},
       true,
       kSqlOk,
       {"COUNT"},
       "0",
       false,
       {approval_setup}},
      {"CancelCardApprovalOfSeveralRows",
       sql::kCancelApprovalRows,
       {'P', 'P', "PCARD", '5', "D2", "TEMP_4", "TEMP_5", 'P', "12345678", "20240105"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {approval_setup},
       cancel_check,
       "20240105000004|12345678|2|NULL|NULL|5|D2|1|0|5000|0|0|0|0\n"
       "20240105000007|NULL|NULL|NULL|NULL|2|NULL|1|0|0|0|0|1200|800\n" +
           kP1 + "|12345678|2|NULL|NULL|5|D2|1|3500|0|0|0|0|0"},
      {"CancelCashReceipt",
       sql::kCancelApprovalRows,
       {'N', 'N', "NCASH", '6', "", "ETC_CASH", "OTC_CASH", 'N', "87654321", "20240105"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {approval_setup},
       cancel_check,
       "20240105000004|NULL|NULL|NULL|NULL|1|NULL|1|0|0|0|5000|0|0\n"
       "20240105000007|NULL|NULL|87654321|2|6||1|1200|800|0|0|0|0\n" +
           kP1 + "|NULL|NULL|NULL|NULL|1|NULL|2|0|0|3500|0|0|0"},
      {"UnpaidPrescriptions",
       sql::kSelectUnpaidPrescriptions,
       {kT, kT},
       true,
       kSqlOk,
       {"PRESERIAL", "PANAME", "PANUM", "PRICE_N", "CASH_NUM"},
       kP2 + "|김영희|9203152345678|4200|01012345678\n" + kP1 + "|홍길동|8001011234567|3500|"},
      {"UnpaidPrescriptionsNoneToday",
       sql::kSelectUnpaidPrescriptions,
       {"20240105", "20240105"},
       true,
       kSqlNoRows},
      {"CurrentStaff",
       sql::kSelectCurrentStaff,
       {},
       true,
       kSqlOk,
       {"SANAME", "INDATE", "SAJUMIN", "SAPOINT"},
       "김약사|20150301|7501011234567|100\n이직원|20180701|9001012345678|0"},
      {"PricedCatalogue",
       sql::kSelectPricedCatalogue,
       {},
       true,
       kSqlOk,
       {"CD_CD_BARCODE", "GOODSNAME", "SPLNAME", "CD_NM_UNIT", "PACK", "CD_MY_UNIT", "CD_IN_UNIT",
        "IM_QT_SALE_DEBIT"},
       "8806430100011|타이레놀정500mg|한국얀센|10|박스|3000|2000|120\n"
       "8806470200028|베아제정|대웅제약|10|박스|4000|2500|40\n"
       "08801234567890|박카스디|동아제약|1|병|1000|600|15\n"
       "8806420300034|Kim's 밴드|한독|1|박스|1500.5|900|0",
       true},
      {"DisplayCustomer",
       sql::kSelectDisplayCustomer,
       {kP1},
       true,
       kSqlOk,
       {"#0", "#1", "#2", "#3"},
       kP1 + "|홍길동|8001011234567|3500"},
      {"DisplayCustomerOtherDay",
       sql::kSelectDisplayCustomer,
       {Today(1) + "000009"},
       true,
       kSqlNoRows},
      // Payment record.
      {"Prescription",
       sql::kSelectPrescription,
       {kP2},
       true,
       kSqlOk,
       {"PRESERIAL", "INDATE", "DAY_SERIAL", "CUSCODE", "PRICE_N"},
       kP2 + "|" + kT + "|2|0000000002|4200"},
      {"AdvanceDayCounter",
       sql::kAdvanceDayCounter,
       {kT},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.CD_BASE",
       kT + "|0|4|0900"},
      {"AdvanceDayCounterNewDay",
       sql::kAdvanceDayCounter,
       {"20240105"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT * FROM PM_BASE.CD_BASE WHERE CD_DT_APPL = '20240105'",
       "20240105|0|1|0900"},
      {"OrderNumber",
       sql::kSelectOrderNumber,
       {kT},
       true,
       kSqlOk,
       {"SL_NO_ORDER", "SL_DAY_SERIAL"},
       kT + "000003|6",
       false,
       {"INSERT INTO PM_PRES.SALE_MAIN (SL_NO_ORDER, SL_DT_APPL, SL_DAY_SERIAL) VALUES ('" + kT +
        "000001', '" + kT + "', 5)"}},
      {"OrderNumberNewDay",
       sql::kSelectOrderNumber,
       {"20240105"},
       true,
       kSqlOk,
       {"SL_NO_ORDER", "SL_DAY_SERIAL"},
       "|1"},
      {"PaymentRowInserted",
       sql::kUpsertPaymentRow,
       PaymentRowArgs(card_payment),
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT CUSCODE, INDATE, DAY_SERIAL, PRESERIAL, OTC_CARD, ETC_CARD, PTRADEAMT, PTAXAMT, "
       "PTRDTYPE, PCARDNAME, PAPPROVAL_NUM, APPR_POSITION, PCHK_GUBUN, NTRDNO, DAERISUNAB, "
       "APPR_GUBUN, TEMP_4, TEMP_5, NCHKNOGBN FROM PM_PRES.CD_SUNAB WHERE INDATE = '20240105'",
       "0000000001|20240105|4|" + kOrder +
           "|10000|0|9091|909|D1|O'Card 카드|12345678|3|KIC|0004|1|1|0|10000|"},
      {"PaymentRowUpdatedInPlace",
       sql::kUpsertPaymentRow,
       PaymentRowArgs(prescription_payment),
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT COUNT(*), group_concat(ETC_CASH), group_concat(NCHK_GUBUN), "
       "group_concat(AUTOGUBUN), group_concat(APPR_GUBUN), group_concat(ETC_PAPER) FROM "
       "PM_PRES.CD_SUNAB WHERE PRESERIAL = '" +
           kP1 + "'",
       "1|3500|KCJ|1|2|0"},
      {"UpdateCashIdentity",
       sql::kUpdateCashIdentity,
       {"0100001234", "0000000001"},
       false,
       kSqlOk,
       {},
       "",
       false,
       {},
       "SELECT group_concat(ifnull(CASH_NUM, 'NULL')) FROM PM_BASE.CD_PERSON",
       "0100001234,01012345678,NULL"},
  };
}

// The fixture with the case's own rows added, in the current prefix.
class SqlTextsTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    for (const std::string& sql : GetParam().setup) Query(sql);
  }
  std::string Query(const std::string& sql) {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &error))
        << sql << ": " << error;
    return rows;
  }
  platform::testing::TempPrefix prefix_;
};

std::string Utf8(const std::string& cp949) {
  return platform::Cp949ToUtf8(cp949).value_or("(not CP949)");
}

std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

TEST_P(SqlTextsTest, RunsOnThePharmacyDatabases) {
  const Case& c = GetParam();
  std::vector<std::string> texts;  // CP949 values, kept alive for the SqlArg views
  texts.reserve(c.args.size());
  std::vector<SqlArg> args;
  for (const Value& value : c.args) {
    if (const auto* text = std::get_if<std::string>(&value)) {
      texts.push_back(Cp949(*text));
      args.emplace_back(texts.back());
    } else if (const auto* number = std::get_if<int>(&value)) {
      args.emplace_back(*number);
    } else if (const auto* real = std::get_if<double>(&value)) {
      args.emplace_back(*real);
    } else {
      args.emplace_back(std::get<char>(value));
    }
  }
  const std::string sql = FillSql(c.text, args);
  ASSERT_FALSE(sql.empty()) << "the values do not fit the placeholders";

  CAdoConnection db;
  ASSERT_TRUE(db.OpenConnection()) << db.last_error();
  ASSERT_EQ(db.ExecuteSql(sql, c.want_rows), c.expected_rc) << Utf8(sql) << "\n" << db.last_error();
  if (!c.read.empty()) {
    std::string rows;
    for (; !db.IsEof(); db.MoveNext()) {
      if (!rows.empty()) rows += '\n';
      for (size_t i = 0; i < c.read.size(); ++i) {
        if (i > 0) rows += '|';
        const std::string& field = c.read[i];
        rows += Utf8(field[0] == '#' ? db.GetFieldTextAt(std::stoul(field.substr(1)))
                                     : db.GetFieldText(field));
      }
    }
    EXPECT_FALSE(db.field_error()) << "a field to read is missing";
    if (c.unordered) {
      EXPECT_EQ(SortedLines(rows), SortedLines(c.expected_rows));
    } else {
      EXPECT_EQ(rows, c.expected_rows);
    }
  }
  db.End();
  if (!c.check.empty()) {
    EXPECT_EQ(Query(c.check), c.expected_check) << c.check;
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, SqlTextsTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

// The names of the texts the catalogue declares, read from its source.
std::vector<std::string> DeclaredTextNames() {
  const char* source_dir = std::getenv("ORDELLA_SOURCE_DIR");
  const std::string header = platform::testing::ReadFile(
      std::filesystem::path(source_dir != nullptr ? source_dir : ".") / "retalo/db/sql_texts.h");
  constexpr std::string_view kDeclaration = "inline constexpr std::string_view ";
  std::vector<std::string> names;
  for (size_t at = header.find(kDeclaration); at != std::string::npos;
       at = header.find(kDeclaration, at)) {
    at += kDeclaration.size();
    names.push_back(header.substr(at, header.find_first_of(" =", at) - at));
  }
  return names;
}

TEST(SqlTextsCoverageTest, TheListHoldsEveryTextOfTheCatalogue) {
  std::vector<std::string> listed;
  for (const sql::ListedText& text : sql::kListedTexts) listed.emplace_back(text.name);
  const std::vector<std::string> declared = DeclaredTextNames();
  ASSERT_FALSE(declared.empty()) << "retalo/db/sql_texts.h not found";
  EXPECT_EQ(listed, declared) << "retalo/db/sql_text_list.h lists the catalogue in its order";
}

TEST(SqlTextsCoverageTest, EveryTextHasACase) {
  const std::vector<Case> cases = Cases();
  for (const sql::ListedText& text : sql::kListedTexts) {
    EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const Case& c) {
      return c.text.data() == text.text.data();
    })) << text.name;
  }
}

}  // namespace
}  // namespace retalo
