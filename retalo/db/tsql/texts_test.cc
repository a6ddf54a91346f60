// The system's T-SQL texts for the pharmacy database, kept here as data and filled with sample
// values: every one translates and runs, and the ones whose results the system reads back give
// the rows SQL Server would give.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "retalo/db/tsql/test_database.h"
#include "retalo/db/tsql/tsql.h"

namespace tsql {
namespace {

using testing::TestDatabase;
using Rows = std::vector<std::vector<std::string>>;

struct SystemText {
  const char* name;
  const char* text;  // printf placeholders as the callers fill them
};

// Every text of the pharmacy database reader, the guidance printing and the database writer.
const SystemText kTexts[] = {
    {"reader_1",
     "SELECT     TOP (30)  m.PreSerial,m.Paname,P.PANUM,0 \t\t\t\t\t\t\t\tFROM       "
     "PM_BASE..CD_PERSON AS p INNER JOIN \t\t\t\t\t\t\t\t\t\t   PM_PRES..PS_main AS m ON "
     "p.CUSCODE = m.CusCode \t\t\t\t\t\t\t\tWHERE  (m.Indate = CONVERT(VARCHAR(10), "
     "GETDATE(), 112)) AND P.CUSACT='1' \t\t\t\t\t\t\t\tORDER BY m.PreSerial DESC;"},
    {"guidance_1",
     "SELECT  P.SUB_SERIAL, '' AS OLD, '' AS Paname, '' AS PANUM, P.DrugCode,         '1일,' "
     "+ CONVERT(varchar(4), P.QUAN_TIME) + '회,' + convert(varchar(20),CONVERT(float, "
     "P.QUAN)) + replace(I.effctname,case when I.effctunit is null then '1' else I.effctunit "
     "end,'')  +'/' + CONVERT(varchar(4), P.Days) + '일' AS WAY \t\tFROM    "
     "PM_PRES..ps_sub_pharm AS P \t\tINNER JOIN PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = "
     "I.DrugCode \t\tLEFT OUTER JOIN PM_DRUG..CD_MC AS MC ON P.DrugCode = MC.DRUGCODE "
     "\t\tWHERE  P.ps_type != '9' AND    (P.PreSerial = '%s') \t\tunion \t\tSELECT  "
     "P.SUB_SERIAL, '' AS OLD, '' AS Paname, '' AS PANUM, P.DrugCode, \t\t'1일,' + "
     "CONVERT(varchar(4), P.QUAN_TIME) + '회,' + convert(varchar(20),CONVERT(float, P.QUAN)) "
     "+ replace(I.effctname,case when I.effctunit is null then '1' else I.effctunit end,'') "
     "+'/' + CONVERT(varchar(4), P.Days) + '일' AS WAY \t\tFROM    PM_PRES..Temp_ps_sub_pharm "
     "AS P \t\tINNER JOIN PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = I.DrugCode  \t\tLEFT "
     "OUTER JOIN PM_DRUG..CD_MC AS MC ON P.DrugCode = MC.DRUGCODE \t\tWHERE  P.ps_type != "
     "'9' AND    (P.PreSerial = '%s') \t\tORDER BY P.SUB_SERIAL ASC"},
    {"guidance_2",
     "SELECT P.SUB_SERIAL, "
     "100+str(substring(convert(char(6),getdate(),112),3,2))-str(substring(M.PaNum,1,2)) AS "
     "OLD, \t\t M.Paname, STUFF(M.PaNum, 8, 6, '******') AS PANUM, P.DrugCode, '1일,' + "
     "CONVERT(varchar(4), P.QUAN_TIME) + '회,' + \t\tconvert(varchar(20),CONVERT(float, "
     "P.QUAN)) +  replace(I.effctname,case when I.effctunit is null then '1' else "
     "I.effctunit end,'')   \t\t+'/' + CONVERT(varchar(4), P.Days) + '일' AS WAY   FROM    "
     "PM_PRES..ps_sub_pharm AS P \t\tINNER JOIN PM_PRES..PS_main AS M ON M.PreSerial = "
     "P.PreSerial \t\tINNER JOIN PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = I.DrugCode \t\t "
     "WHERE  P.ps_type != '9' AND    (P.PreSerial = '%s')"},
    {"sale_1",
     "SELECT PANAME, ACCSCORE, INSCODE, PANUM, SEQ FROM PM_BASE..CD_PERSON WHERE CUSCODE = "
     "'%s' AND CUSACT = '1'"},
    {"sale_2",
     "SELECT TOP 1 DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT FROM "
     "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE = '%s' ORDER BY SN DESC"},
    {"sale_3",
     "INSERT INTO PM_PRES..SALE_MAIN (SL_NO_ORDER, SL_DT_APPL, SL_CD_CUSTOM, SEQ, "
     "SL_CD_INS_CODE, SL_NM_COUNT, SL_NM_CUSTOM, SL_NM_MEMO, SL_NO_SLIP_CRE, SL_NO_SLIP_REC, "
     "SL_MY_TOTAL, SL_MY_DISCOUNT, SL_MY_SALE, SL_MY_CREDIT, SL_MY_CRE_VAT, SL_MY_RECIVE, "
     "SL_MY_REC_VAT, SL_MY_DIS_RATIO, SL_MY_SALE_COST, SL_DAY_SERIAL, INSERTTIME, "
     "ADJUST_CHK, PRESERIAL, POS_GUBUN, PRECOUNT, PANUM, DUR, RESEARCH_CHK) VALUES ('%s', "
     "'%s', '%s', %d, '%s', '%s', '%s', '', '%s', '%s', %g, %g, %g, %g, %g, %g, %g, %g, %g, "
     "%d, GETDATE(), 'True', Null, 'C', Null, '%s', 'N', '')"},
    {"sale_4",
     "INSERT INTO PM_PRES..SALE_SUB (SL_NO_ORDER, DRUGCODE, SL_DT_APPL, SL_CD_CUSTOM, "
     "SL_CD_INS_CODE, SL_UN_ITEM, SL_NM_UNIT, SL_NM_ITEM, SL_NM_COST_A, SL_NM_COST_B, "
     "SL_NM_COST_R, SL_MY_AMOUNT_A, SL_MY_AMOUNT_B, SL_MY_AMOUNT_R, SL_MY_VAT, "
     "SL_MY_IN_COST, DRUG_SERIAL, SL_TOTAL_PRICE, SL_DIS_PRICE, SL_INPUT_PRICE, QUAN, "
     "QUAN_TIME, DAYS, BARCODE, INPRICE) VALUES ('%s', '%s', '%s', '%s', '%s', '%s', %g, %g, "
     "%g, %g, %g, %g, %g, %g, %g, %g, %d, 0, 0, 0, 0, 0, 0, '%s', %g)"},
    {"sale_5",
     "INSERT INTO PM_DRUG..IM_POSITION (IM_SL_SELECT, IM_NO_SERIAL, DRUGCODE, IM_DT_APPL, "
     "IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT) VALUES ('D', '%s', '%s', '%s', %g, %g)"},
    {"sale_6",
     "SELECT IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT FROM PM_DRUG..IM_DATE_TOTAL WHERE DRUGCODE "
     "= '%s' AND IM_DT_APPL = '%s'"},
    {"sale_7",
     "UPDATE PM_DRUG..IM_DATE_TOTAL SET IM_QT_SALE_CREDIT = %g, IM_QT_SALE_DEBIT = %g WHERE "
     "DRUGCODE = '%s' AND IM_DT_APPL = '%s'"},
    {"sale_8",
     "INSERT INTO PM_DRUG..IM_DATE_TOTAL (IM_DT_APPL, DRUGCODE, IM_QT_SALE_CREDIT, "
     "IM_QT_SALE_DEBIT) VALUES ('%s', '%s', %g, %g)"},
    {"sale_9", "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s'"},
    {"sale_10", "UPDATE PM_DRUG..IM_TOTAL SET IM_QT_SALE_DEBIT = %g WHERE DRUGCODE = '%s'"},
    {"sale_11", "INSERT INTO PM_DRUG..IM_TOTAL (DRUGCODE, IM_QT_SALE_DEBIT) VALUES ('%s', %g)"},
    {"ledger_1",
     "INSERT INTO PM_BASE..SP_MAIN (SP_DT_APPL, SP_NO_SLIP, SP_CL_SLIP, SP_NT_REMARK, "
     "SP_MY_AMOUNT, SP_NM_CHARGE) VALUES ('%s', '%s', '%d', '%s', %g, '')"},
    {"ledger_2",
     "SELECT TOP 1 CD_SE_BASE, CD_SE_SERIAL, OPENTIME FROM PM_BASE..CD_BASE WHERE CD_DT_APPL "
     "= '%s'"},
    {"ledger_3", "UPDATE PM_BASE..CD_BASE SET CD_SE_SERIAL = %d WHERE CD_DT_APPL = '%s'"},
    {"ledger_4",
     "INSERT INTO PM_BASE..CD_BASE (CD_DT_APPL, CD_SE_BASE, CD_SE_SERIAL, OPENTIME) VALUES "
     "('%s', 0, %d, '%s')"},
    {"ledger_5",
     "SELECT MAX(SPP_SR_SLIP_COL) AS MAXSLIPCOL, COUNT(*) AS CALCCOL FROM PM_BASE..SPP_SUB "
     "WHERE SPP_DT_APPL = '%s' AND SPP_NO_SLIP = '%s' AND SPP_CL_SLIP = '%s'"},
    {"ledger_6",
     "INSERT INTO PM_BASE..SPP_SUB (SPP_DT_APPL, SPP_NO_SLIP, SPP_CL_SLIP, SPP_SR_SLIP_COL, "
     "SPP_CD_ACCOUNT, SPP_IS_BUY_CUSTOM, SPP_CD_BUY_CUSTOM, SPP_NO_BILL_NO, SPP_CD_BANK_ACC, "
     "SPP_NO_ACCOUNT, SPP_NT_REMARK, SPP_MY_DEBIT, SPP_MY_CREDIT, SPP_IS_VAT, "
     "SPP_IS_SUBBOOK, SPP_IS_AUTO, SPP_NO_SERIAL, SPP_CD_FAMILY, SPP_CD_INNER) VALUES ('%s', "
     "'%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', %s, %s, '%s', '%s', '%s', "
     "'%s', '%s', '%s')"},
    {"ledger_7",
     "SELECT TOP 1 MC_MY_DEBIT, MC_MY_CREDIT FROM PM_BASE..MC_CUSTOM_DATE WHERE MC_DT_APPL = "
     "'%s' AND MC_SL_SELECT = '%s' AND MC_CD_CUSTOM = '%s' AND MC_CD_ACC = '%s'"},
    {"ledger_8",
     "UPDATE PM_BASE..MC_CUSTOM_DATE SET MC_CD_HOUSE = '%s', MC_CL_BOOK = '%s', MC_MY_DEBIT "
     "= %g, MC_MY_CREDIT = %g WHERE MC_DT_APPL = '%s' AND MC_SL_SELECT = '%s' AND "
     "MC_CD_CUSTOM = '%s' AND MC_CD_ACC = '%s'"},
    {"ledger_9",
     "INSERT INTO PM_BASE..MC_CUSTOM_DATE (MC_DT_APPL, MC_SL_SELECT, MC_CD_CUSTOM, "
     "MC_CD_ACC, MC_CD_HOUSE, MC_CL_BOOK, MC_MY_DEBIT, MC_MY_CREDIT) VALUES ('%s', '%s', "
     "'%s', '%s', '%s', '%s', %g, %g)"},
    {"ledger_10",
     "SELECT TOP 1 MT_MY_DEBIT, MT_MY_CREDIT FROM PM_BASE..MT_CUSTOM_TOTAL WHERE "
     "MT_SL_SELECT = '%s' AND MT_CD_CUSTOM = '%s' AND MT_CD_ACC = '%s'"},
    {"ledger_11",
     "UPDATE PM_BASE..MT_CUSTOM_TOTAL SET MT_CD_HOUSE = '%s', MT_CL_BOOK = '%s', MT_MY_DEBIT "
     "= %g, MT_MY_CREDIT = %g WHERE MT_SL_SELECT = '%s' AND MT_CD_CUSTOM = '%s' AND "
     "MT_CD_ACC = '%s'"},
    {"ledger_12",
     "INSERT INTO PM_BASE..MT_CUSTOM_TOTAL (MT_SL_SELECT, MT_CD_CUSTOM, MT_CD_ACC, "
     "MT_CD_HOUSE, MT_CL_BOOK, MT_MY_DEBIT, MT_MY_CREDIT) VALUES ('%s', '%s', '%s', '%s', "
     "'%s', %g, %g)"},
    {"ledger_13",
     "SELECT TOP 1 MA_MY_DEBIT, MA_MY_CREDIT FROM PM_BASE..MA_ACCOUNT_DATE WHERE MA_DT_APPL "
     "= '%s' AND MA_CD_ACC = '%s'"},
    {"ledger_14",
     "SELECT TOP 1 MT_MY_DEBIT, MT_MY_CREDIT FROM PM_BASE..MT_TRIAL_BALANCE WHERE "
     "MT_CD_ACCOUNT = '%s'"},
    {"ledger_15",
     "UPDATE PM_BASE..MA_ACCOUNT_DATE SET MA_MY_DEBIT = %g, MA_MY_CREDIT = %g WHERE "
     "MA_DT_APPL = '%s' AND MA_CD_ACC = '%s'"},
    {"ledger_16",
     "INSERT INTO PM_BASE..MA_ACCOUNT_DATE (MA_DT_APPL, MA_CD_ACC, MA_MY_DEBIT, "
     "MA_MY_CREDIT) VALUES ('%s', '%s', %g, %g)"},
    {"ledger_17",
     "UPDATE PM_BASE..MT_TRIAL_BALANCE SET MT_MY_DEBIT = %g, MT_MY_CREDIT = %g WHERE "
     "MT_CD_ACCOUNT = '%s'"},
    {"ledger_18",
     "INSERT INTO PM_BASE..MT_TRIAL_BALANCE (MT_CD_ACCOUNT, MT_NT_REMARK, MT_MY_DEBIT, "
     "MT_TT_DEDIT, MT_MY_CREDIT, MT_TT_CREDIT) VALUES ('%s', '', %g, 0, %g, 0)"},
    {"ledger_19",
     "SELECT * FROM PM_BASE..SPP_SUB WHERE SPP_IS_AUTO = '%s' AND SPP_NO_SERIAL = '%s' ORDER "
     "BY SPP_DT_APPL, SPP_NO_SLIP"},
    {"ledger_20",
     "DELETE FROM PM_BASE..SPP_SUB WHERE SPP_DT_APPL = '%s' AND SPP_NO_SLIP = '%s' AND "
     "SPP_CL_SLIP = '%s' AND SPP_SR_SLIP_COL = '%s'"},
    {"ledger_21", "DELETE FROM PM_BASE..SP_MAIN WHERE SP_DT_APPL = '%s' AND SP_NO_SLIP = '%s'"},
    {"goods_1",
     "SELECT ISNULL(MAX(CAST(SUBSTRING(DRUGCODE, CHARINDEX('0', DRUGCODE), LEN(DRUGCODE)) AS "
     "INT)), 0) AS DRUGCODE FROM PM_DRUG..CD_GOODS WHERE LEN(DRUGCODE) = 10 AND "
     "LEFT(DRUGCODE, 2) = 'ZP'"},
    {"goods_2",
     "SELECT CAST(CAST(MAX(SPLCODE) AS INT)+1 AS CHAR) AS SPLCODE FROM PM_DRUG..CD_MAKER "
     "WHERE LEN(SPLCODE) = 5 AND LEFT(SPLCODE, 1) = '5'"},
    {"goods_3",
     "SELECT TOP 1 CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_CD_UNIT <> '999' AND "
     "LEN(CD_CD_UNIT) = 3 ORDER BY CD_CD_UNIT DESC"},
    {"goods_4",
     "IF EXISTS (SELECT * FROM PM_DRUG..CD_GOODS AS A INNER JOIN "
     "PM_DRUG..CD_ITEM_UNIT_MEMBER AS B ON A.DRUGCODE = B.DRUGCODE AND B.CD_CD_BARCODE %s "
     "'%s%s') BEGIN SELECT B.CD_CD_BARCODE AS BARCODE, A.GOODSNAME AS ETCNAME, A.SPLNAME AS "
     "SPLNAME, B.CD_NM_UNIT AS PAKUNIT, B.PACK, B.CD_MY_UNIT, B.CD_IN_UNIT, "
     "ISNULL(C.IM_QT_SALE_DEBIT, 0) AS IM_QT_SALE_DEBIT FROM PM_DRUG..CD_GOODS AS A INNER "
     "JOIN (SELECT B1.*, B3.CD_NM_UNIT AS PACK FROM PM_DRUG..CD_ITEM_UNIT_MEMBER AS B1 INNER "
     "JOIN (SELECT DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, MAX(SN) AS SN FROM "
     "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE %s '%s%s' GROUP BY DRUGCODE, "
     "CD_CD_UNIT, CD_NM_UNIT) AS B2 ON B1.DRUGCODE = B2.DRUGCODE AND B1.SN = B2.SN LEFT JOIN "
     "PM_DRUG..CD_ITEM_UNIT AS B3 ON B1.CD_CD_UNIT = B3.CD_CD_UNIT) AS B ON A.DRUGCODE = "
     "B.DRUGCODE LEFT JOIN PM_DRUG..IM_TOTAL AS C ON A.DRUGCODE = C.DRUGCODE END ELSE BEGIN "
     "SELECT BARCODE, ETCNAME, SPLNAME, PAKUNIT, 0 AS PACK, 0 AS CD_MY_UNIT, 0 AS "
     "CD_IN_UNIT, 0 AS IM_QT_SALE_DEBIT FROM PM_DRUG..CD_BARCODE WHERE BARCODE %s '%s%s' END"},
    {"goods_5",
     "SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE %s '%s%s' ORDER "
     "BY SN DESC"},
    {"goods_6",
     "IF EXISTS (SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = '%s' AND "
     "CHANGE_DATE = '%s') BEGIN UPDATE PM_DRUG..CD_ITEM_UNIT_MEMBER SET CD_MY_UNIT = %g, "
     "CD_IN_UNIT = %g WHERE DRUGCODE = '%s' AND CHANGE_DATE = '%s' END ELSE BEGIN INSERT "
     "INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, "
     "CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) VALUES "
     "('%s', '%s', %s, %g, %g, '%s', '', '%s', %g, '01') END"},
    {"goods_7", "SELECT TOP 1 * FROM PM_DRUG..CD_BARCODE WHERE BARCODE IN ('%s', '%s')"},
    {"goods_8",
     "SELECT TOP 1 * FROM PM_DRUG..CD_GOODS WHERE GOODSSELCODE = 'B' AND BARCODE = '%s'"},
    {"goods_9", "SELECT * FROM PM_DRUG..CD_MAKER WHERE SPLNAME = '%s'"},
    {"goods_10", "INSERT INTO PM_DRUG..CD_MAKER (SPLCODE, SPLNAME) VALUES ('%s', '%s')"},
    {"goods_11",
     "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
     "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('%s', "
     "'%s', '%s', 'B', '%s', '0', %g, %g, '%s', '%s', 'Y', 'Y')"},
    {"goods_12",
     "IF NOT EXISTS (SELECT * FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s') INSERT INTO "
     "PM_DRUG..IM_TOTAL (DRUGCODE, IM_QT_SALE_DEBIT) VALUES ('%s', 0)"},
    {"goods_13",
     "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
     "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
     "VALUES ('%s', '%s', 1, %g, %g, '%s', '', '%s', %s, '01')"},
    {"goods_14",
     "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
     "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('제품명_미등록', "
     "'', '%s', 'B', '', '0', '%g', '%g', '', '', 'Y', 'Y')"},
    {"goods_15",
     "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
     "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
     "VALUES ('%s', '%s', 1, %g, %g, '%s', '', '%s', 1, '01')"},
    {"goods_16",
     "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
     "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('%s', "
     "'%s', '%s', 'B', '%s', '0', 0, 0, '%s', '%s', 'Y', 'Y')"},
    {"goods_17",
     "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
     "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
     "VALUES ('%s', '%s', 1, 0, 0, '%s', '', '%s', %s, '01')"},
    {"goods_18",
     "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
     "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('%s', '', "
     "'%s', 'B', '', '0', 0, 0, '%s', '', 'Y', 'Y')"},
    {"goods_19",
     "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
     "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
     "VALUES ('%s', '%s', 1, 0, 0, '%s', '', '%s', 1, '01')"},
    {"goods_20", "SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_NM_UNIT = '%s'"},
    {"goods_21", "INSERT INTO PM_DRUG..CD_ITEM_UNIT VALUES ('%s', '%s', '')"},
    {"goods_22",
     "UPDATE PM_DRUG..CD_ITEM_UNIT_MEMBER SET CD_CD_UNIT = '%s' FROM PM_DRUG..CD_ITEM_UNIT "
     "AS A INNER JOIN PM_DRUG..CD_ITEM_UNIT_MEMBER AS B ON A.CD_CD_UNIT = B.CD_CD_UNIT AND "
     "A.CD_NM_UNIT = ''; DELETE FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_NM_UNIT = ''"},
    {"stock_1", "SELECT DRUGCODE FROM PM_DRUG..CD_GOODS WHERE DRUGCODE = '%s'"},
    {"stock_2", "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s'"},
    {"stock_3",
     "INSERT INTO PM_DRUG..IMS_STOCK_REVISION (IMS_DT_APPL, DRUGCODE, IMS_NO_SERIAL, "
     "IMS_NM_CHARGE, IMS_QT_SALE_IN, IMS_QT_SALE_MP) VALUES ('%s', '%s', '%s', 'Retalo', %g, "
     "%g)"},
    {"stock_4",
     "INSERT INTO PM_DRUG..IM_POSITION (IM_SL_SELECT, IM_NO_SERIAL, DRUGCODE, IM_DT_APPL, "
     "IM_QT_SALE_DEBIT, IM_QT_SALE_CREDIT) VALUES ('Y', '%s', '%s', '%s', 0, %g)"},
    {"stock_5",
     "SELECT TOP 1 DRUGCODE, IM_QT_SALE_DEBIT FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s'"},
    {"stock_6", "UPDATE PM_DRUG..IM_TOTAL SET IM_QT_SALE_DEBIT = %g WHERE DRUGCODE = '%s'"},
    {"stock_7", "INSERT INTO PM_DRUG..IM_TOTAL (DRUGCODE, IM_QT_SALE_DEBIT) VALUES ('%s', %g)"},
    {"stock_8",
     "SELECT TOP 1 IM_DT_APPL, DRUGCODE, IM_QT_SALE_DEBIT, IM_QT_SALE_CREDIT FROM "
     "PM_DRUG..IM_DATE_TOTAL WHERE DRUGCODE = '%s' AND IM_DT_APPL = '%s'"},
    {"stock_9",
     "UPDATE PM_DRUG..IM_DATE_TOTAL SET IM_QT_SALE_DEBIT = %g WHERE DRUGCODE = '%s' AND "
     "IM_DT_APPL = '%s'"},
    {"stock_10",
     "INSERT INTO PM_DRUG..IM_DATE_TOTAL (IM_DT_APPL, DRUGCODE, IM_QT_SALE_DEBIT, "
     "IM_QT_SALE_CREDIT) VALUES ('%s', '%s', %g, 0)"},
    {"prescription_1", "UPDATE PM_PRES..PS_MAIN SET PH_NAME = '%s' WHERE PRESERIAL = '%s'"},
    {"cancel_1",
     "SELECT COUNT(*) AS COUNT FROM PM_PRES..CD_SUNAB WHERE %cAPPROVAL_NUM = '%s' AND "
     "APPR_DATE LIKE '%s%%'"},
    {"cancel_2",
     "UPDATE PM_PRES..CD_SUNAB SET %cCANCEL_NUM = %cAPPROVAL_NUM, %sINMODE = 2, APPR_GUBUN = "
     "'%c', PTRDTYPE = '%s', DAERISUNAB = '1', ETC_PAPER = %s, OTC_PAPER = %s, ETC_CARD = 0, "
     "ETC_CASH = 0, OTC_CARD = 0, OTC_CASH = 0 FROM PM_PRES..CD_SUNAB WHERE %cAPPROVAL_NUM = "
     "'%s' AND APPR_DATE LIKE '%s%%'"},
    {"lists_1",
     "SELECT T1.PRESERIAL, T1.PANAME, T1.PANUM, T1.PRICE_N, T1.CASH_NUM FROM (SELECT TOP 30 "
     "ISNULL(M.PRESERIAL,'') AS PRESERIAL, ISNULL(M.PANAME,'') AS PANAME, ISNULL(P.PANUM,'') "
     "AS PANUM, ISNULL(M.PRICE_N,0) AS PRICE_N, ISNULL(P.CASH_NUM,'') AS CASH_NUM, "
     "ISNULL(D.NAPPROVAL_NUM,'') AS NAPPROVAL_NUM, ISNULL(D.APPR_GUBUN,0) AS APPR_GUBUN FROM "
     "PM_BASE..CD_PERSON AS P INNER JOIN PM_PRES..PS_MAIN AS M ON P.CUSCODE = M.CUSCODE LEFT "
     "JOIN PM_PRES..CD_SUNAB AS D ON M.PRESERIAL = D.PRESERIAL WHERE M.INDATE = '%s' AND "
     "P.CUSACT = '1' AND (D.APPR_GUBUN IN ('0', '5', '6', 'B') OR (D.APPR_GUBUN = 'C' AND "
     "APPR_DATE = '') OR (D.APPR_GUBUN = 'A' AND DAERISUNAB = '2') OR (D.APPR_GUBUN = '2' "
     "AND NCHK_GUBUN = 'KCJ' AND AUTOGUBUN = '1'))) AS T1 LEFT JOIN (SELECT DISTINCT "
     "ISNULL(NAPPROVAL_NUM,'') AS NAPPROVAL_NUM FROM PM_PRES..CD_SUNAB WHERE APPR_GUBUN = "
     "'A' AND DAERISUNAB = '1' AND INDATE = '%s' AND NAPPROVAL_NUM <> '') AS T2 ON "
     "T1.NAPPROVAL_NUM = T2.NAPPROVAL_NUM WHERE (T1.NAPPROVAL_NUM <> T2.NAPPROVAL_NUM) OR "
     "(T2.NAPPROVAL_NUM IS NULL) ORDER BY T1.PRESERIAL DESC"},
    {"lists_2", "SELECT * FROM PM_BASE..APT_SAWON WHERE OUTDATE = '' ORDER BY INDATE, SANAME"},
    {"lists_3",
     "SELECT B.CD_CD_BARCODE, A.GOODSNAME, A.SPLNAME, B.CD_NM_UNIT, B.PACK, B.CD_MY_UNIT, "
     "B.CD_IN_UNIT, ISNULL(C.IM_QT_SALE_DEBIT,0) AS IM_QT_SALE_DEBIT FROM (SELECT * FROM "
     "PM_DRUG..CD_GOODS WHERE GOODSSELCODE <> '') AS A INNER JOIN (SELECT B1.*, "
     "B3.CD_NM_UNIT AS PACK FROM PM_DRUG..CD_ITEM_UNIT_MEMBER AS B1 INNER JOIN (SELECT "
     "DRUGCODE, CD_CD_BARCODE, CD_CD_UNIT, CD_NM_UNIT, MAX(SN) AS SN FROM "
     "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE <> '' GROUP BY DRUGCODE, "
     "CD_CD_BARCODE, CD_CD_UNIT, CD_NM_UNIT ) AS B2 ON B1.DRUGCODE = B2.DRUGCODE AND B1.SN = "
     "B2.SN LEFT JOIN PM_DRUG..CD_ITEM_UNIT AS B3 ON B1.CD_CD_UNIT = B3.CD_CD_UNIT ) AS B ON "
     "A.DRUGCODE = B.DRUGCODE LEFT JOIN PM_DRUG..IM_TOTAL AS C ON A.DRUGCODE = C.DRUGCODE "
     "WHERE CONVERT(FLOAT,B.CD_MY_UNIT) > 0"},
    {"display_1",
     "SELECT TOP 30 M.PreSerial,M.Paname,P.PANUM,LTRIM(STR(M.PRICE_N)) FROM "
     "PM_BASE..CD_PERSON AS P INNER JOIN PM_PRES..PS_main AS M ON P.CUSCODE = M.CusCode LEFT "
     "OUTER JOIN PM_PRES..CD_SUNAB AS D ON M.PreSerial = D.Preserial WHERE (M.Indate = "
     "CONVERT(VARCHAR(10), GETDATE(), 112)) AND M.PreSerial='%s'"},
    {"payment_1",
     "SELECT PRESERIAL, INDATE, DAY_SERIAL, CUSCODE, PRICE_N FROM PM_PRES..PS_MAIN WHERE "
     "PRESERIAL = '%s'"},
    {"payment_2",
     "DECLARE @DATE VARCHAR(8); SET @DATE = '%s'; IF EXISTS (SELECT * FROM PM_BASE..CD_BASE "
     "WHERE CD_DT_APPL = @DATE) BEGIN UPDATE PM_BASE..CD_BASE SET CD_SE_SERIAL = "
     "CD_SE_SERIAL + 1 WHERE CD_DT_APPL = @DATE END ELSE BEGIN INSERT INTO PM_BASE..CD_BASE "
     "(CD_DT_APPL, CD_SE_BASE, CD_SE_SERIAL, OPENTIME) VALUES (@DATE, 0, 1, '0900') END"},
    {"payment_3",
     "DECLARE @DATE VARCHAR(8); SET @DATE = '%s'; SELECT (SELECT TOP 1 "
     "@DATE+RIGHT('000000'+CAST(CD_SE_SERIAL AS VARCHAR), 6) FROM PM_BASE..CD_BASE WHERE "
     "CD_DT_APPL = @DATE) AS SL_NO_ORDER, (SELECT TOP 1 CASE WHEN MAX(SL_DAY_SERIAL) IS NOT "
     "NULL THEN MAX(SL_DAY_SERIAL)+1 ELSE 1 END FROM PM_PRES..SALE_MAIN WHERE SL_DT_APPL = "
     "@DATE) AS SL_DAY_SERIAL"},
    {"payment_4",
     "IF EXISTS (SELECT TOP 1 * FROM PM_PRES..CD_SUNAB WHERE CUSCODE = '%s' AND INDATE = "
     "'%s' AND PRESERIAL = '%s') BEGIN UPDATE PM_PRES..CD_SUNAB SET DAY_SERIAL = %d, "
     "ETC_CARD = %d, ETC_CASH = %d, ETC_PAPER = %d, OTC_CARD = %d, OTC_CASH = %d, OTC_PAPER "
     "= %d, PTRDTYPE = '%s', PTERMID = '%s', PMCHDATA = '%s', PCARDNAME = '%s', PTRACKDATA = "
     "'%s', PSWIPE = '%s', PMONTH = '%s', PTRADEAMT = %d, PSVCAMT = %d, PTAXAMT = %d, "
     "PAUDATE = '%s', PCRYPFLAG = %d, PCARDINMODE = '%s', PAPPROVAL_NUM = '%s', PCANCEL_NUM "
     "= '%s', APPR_POSITION = '%s', PCHK_GUBUN = '%s', NAUDATE = '%s', NTRDNO = '%s', "
     "NSUPAMT = %d, NVATAMT = %d, NTRADER = '%s', NCHKNOGBN = '%s', NPINGBN = '%s', "
     "NCASHINMODE = '%s', NAPPROVAL_NUM = '%s', NCANCEL_NUM = '%s', SAUTHNUM = '%s', "
     "NCHK_GUBUN = '%s', AUTOGUBUN = '%s', DAERISUNAB = '%s', APPR_DATE = '%s', CANCEL_DATE "
     "= '%s', APPR_GUBUN = '%s', YOHUDATE = '%s', PCARDINPUTGUBUN = '%s', PCARDINNAME = "
     "'%s', SMCHNO = '%s', TEMP_4 = %d, TEMP_5 = %d WHERE CUSCODE = '%s' AND INDATE = '%s' "
     "AND PRESERIAL = '%s' END ELSE BEGIN INSERT INTO PM_PRES..CD_SUNAB (CUSCODE, INDATE, "
     "DAY_SERIAL, PRESERIAL, ETC_CARD, ETC_CASH, ETC_PAPER, OTC_CARD, OTC_CASH, OTC_PAPER, "
     "PTRDTYPE, PTERMID, PMCHDATA, PCARDNAME, PTRACKDATA, PSWIPE, PMONTH, PTRADEAMT, "
     "PSVCAMT, PTAXAMT, PAUDATE, PCRYPFLAG, PCARDINMODE, PAPPROVAL_NUM, PCANCEL_NUM, "
     "APPR_POSITION, PCHK_GUBUN, NAUDATE, NTRDNO, NSUPAMT, NVATAMT, NTRADER, NCHKNOGBN, "
     "NPINGBN, NCASHINMODE, NAPPROVAL_NUM, NCANCEL_NUM, SAUTHNUM, NCHK_GUBUN, AUTOGUBUN, "
     "DAERISUNAB, APPR_DATE, CANCEL_DATE, APPR_GUBUN, YOHUDATE, PCARDINPUTGUBUN, "
     "PCARDINNAME, SMCHNO, TEMP_4, TEMP_5) VALUES ('%s', '%s', %d, '%s', %d, %d, %d, %d, %d, "
     "%d, '%s', '%s', '%s', '%s', '%s', '%s', '%s', %d, %d, %d, '%s', %d, '%s', '%s', '%s', "
     "'%s', '%s', '%s', '%s', %d, %d, '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', "
     "'%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', %d, %d) END"},
    {"payment_5", "UPDATE PM_BASE..CD_PERSON SET CASH_NUM = '%s' WHERE CUSCODE = '%s'"},
};

std::string TextOf(const std::string& name) {
  for (const SystemText& text : kTexts) {
    if (name == text.name) return text.text;
  }
  ADD_FAILURE() << "no text " << name;
  return std::string();
}

// Fills the placeholders (%s %d %g %c, and %% for %) in order with `args`; those beyond the
// given ones take a sample value: "1" for %s and %d, "1500" for %g, "P" for %c.
std::string Fill(const std::string& text, const std::vector<std::string>& args) {
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
      {"goods_4",
       {"LIKE", "%%", "8801234567890", "LIKE", "%%", "8801234567890", "LIKE", "%%",
        "8801234567890"}},
      {"goods_5", {"=", "", "12345678"}},
      {"cancel_2",
       {"P", "P", "PCARD", "5", "D2", "ETC_CARD", "OTC_CARD", "P", "12345678", "20131220"}},
      {"payment_2", {"20240605"}},
      {"payment_3", {"20240605"}},
  };
  return args;
}

std::string Sample(const SystemText& text) {
  auto found = SampleArgs().find(text.name);
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
  for (const SystemText& text : kTexts) {
    TestDatabase db;
    db.Exec(setup);
    std::string sql = Sample(text);
    std::string error;
    EXPECT_GE(CompileOnly(db.db(), sql, &error), 1) << text.name << ": " << error;
    BatchResult result;
    EXPECT_TRUE(RunBatch(db.db(), sql, &result, &error)) << text.name << ": " << error;
  }
}

TEST(TsqlSystemTextsTest, EveryTextTranslatesAndRunsOnTheInferredSchema) {
  RunEveryText(testing::kPharmacySchema);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The database connection layer keeps the fixture schema and demo data of the pharmacy database
// in tests/fixtures/; when they are there, every text must run on them too.
TEST(TsqlSystemTextsTest, EveryTextRunsOnTheFixtureDatabase) {
  const char* source_dir = std::getenv("ORDELLA_SOURCE_DIR");
  std::filesystem::path fixtures =
      std::filesystem::path(source_dir ? source_dir : ".") / "tests" / "fixtures";
  std::error_code ignored;
  if (!std::filesystem::exists(fixtures / "schema.sql", ignored)) {
    GTEST_SKIP() << "no fixture schema in " << fixtures;
  }
  std::string setup = ReadFile(fixtures / "schema.sql");
  if (std::filesystem::exists(fixtures / "demo_data.sql", ignored)) {
    setup += ReadFile(fixtures / "demo_data.sql");
  }
  RunEveryText(setup);
}

class TsqlTextResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { db_.Exec(testing::kPharmacySchema); }

  BatchResult Run(const std::string& name, const std::vector<std::string>& args) {
    return db_.Run(Fill(TextOf(name), args));
  }

  TestDatabase db_;
};

TEST_F(TsqlTextResultsTest, CustomerListsShowTodaysPrescriptionsOfActiveCustomers) {
  std::string today = testing::LocalToday();
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
      "INSERT INTO PM_PRES.CD_SUNAB (PRESERIAL, APPR_GUBUN, INDATE) VALUES "
      "('20240605000001', '0', '" +
      today + "'), ('20240605000002', '1', '" + today + "');");

  BatchResult today_list = Run("reader_1", {});
  EXPECT_EQ(today_list.result_sets[0].columns,
            (std::vector<std::string>{"PreSerial", "Paname", "PANUM", ""}));
  EXPECT_EQ(RowsOf(today_list), (Rows{{"20240605000002", "이영희", "9002022345678", "0"},
                                      {"20240605000001", "김철수", "8501011234567", "0"}}));

  EXPECT_EQ(RowsOf(Run("display_1", {"20240605000001"})),
            (Rows{{"20240605000001", "김철수", "8501011234567", "15000"}}));

  // Only prescriptions whose payment row still allows a terminal payment.
  EXPECT_EQ(RowsOf(Run("lists_1", {today, today})),
            (Rows{{"20240605000001", "김철수", "8501011234567", "15000", "0101234567"}}));
}

TEST_F(TsqlTextResultsTest, GuidanceRowsCarryTheDirectionsText) {
  db_.Exec(
      "INSERT INTO PM_PRES.PS_MAIN (PreSerial, Paname, PaNum) VALUES "
      "('20240605000001', '김철수', '8501011234567');"
      "INSERT INTO PM_PRES.ps_sub_pharm VALUES (1, '20240605000001', 'D001', 0.5, 3, 3, '1'),"
      " (3, '20240605000001', 'D002', 1, 2, 7, '9');"
      "INSERT INTO PM_PRES.Temp_ps_sub_pharm VALUES (2, '20240605000001', 'D002', 1, 2, 7, '1');"
      "INSERT INTO PM_DRUG.CD_ETCGOODS VALUES ('D001', '정', NULL), ('D002', 'mL', 'ML');");
  EXPECT_EQ(RowsOf(Run("guidance_1", {"20240605000001", "20240605000001"})),
            (Rows{{"1", "", "", "", "D001", "1일,3회,0.5정/3일"},
                  {"2", "", "", "", "D002", "1일,2회,1/7일"}}));

  // 100 + the two digits of this year - those of the birth year.
  std::string age = std::to_string(100 + std::stoi(testing::LocalToday().substr(2, 2)) - 85);
  EXPECT_EQ(RowsOf(Run("guidance_2", {"20240605000001"})),
            (Rows{{"1", age, "김철수", "8501011******", "D001", "1일,3회,0.5정/3일"}}));
}

class TsqlCatalogueTextsTest : public TsqlTextResultsTest {
 protected:
  void SetUp() override {
    TsqlTextResultsTest::SetUp();
    db_.Exec(
        "INSERT INTO PM_DRUG.CD_GOODS VALUES ('감기약', '', 'ZP00000001', 'B', '50001', '0', "
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
    return RowsOf(Run("goods_4", {op, prefix, code, op, prefix, code, op, prefix, code}));
  };
  // The newest member row of the stored barcode that ends with the normalised one.
  EXPECT_EQ(lookup("LIKE", "%%", "8801234567890"),
            (Rows{{"08801234567890", "감기약", "제약사", "10", "박스", "1500", "1000", "37"}}));
  EXPECT_EQ(lookup("=", "", "8809999999999"),
            (Rows{{"8809999999999", "국가표준약", "표준제약", "20", "0", "0", "0", "0"}}));
  EXPECT_EQ(lookup("=", "", "12345678"), Rows{});
  EXPECT_EQ(RowsOf(Run("goods_5", {"LIKE", "%%", "8801234567890"}))[0][0], "2");
}

TEST_F(TsqlCatalogueTextsTest, GoodsListHoldsTheNewestPricedRowOfEveryBarcode) {
  EXPECT_EQ(RowsOf(Run("lists_3", {})),
            (Rows{{"08801234567890", "감기약", "제약사", "10", "박스", "1500", "1000", "37"}}));
}

TEST_F(TsqlCatalogueTextsTest, APriceChangeAddsOneDatedMemberRowPerDay) {
  auto change = [&](const std::string& price) {
    Run("goods_6", {"ZP00000001", "20240605", price, "1100", "ZP00000001", "20240605", "ZP00000001",
                    "001", "10", price, "1100", "08801234567890", "20240605", "1"});
  };
  change("1600");
  change("1700");
  EXPECT_EQ(RowsOf(db_.Run("SELECT COUNT(*), MAX(CD_MY_UNIT) FROM PM_DRUG..CD_ITEM_UNIT_MEMBER "
                           "WHERE CHANGE_DATE = '20240605'")),
            (Rows{{"1", "1700"}}));
}

TEST_F(TsqlCatalogueTextsTest, NewCodesFollowTheHighestExistingOnes) {
  EXPECT_EQ(RowsOf(Run("goods_1", {})), (Rows{{"2"}}));
  db_.Exec(
      "INSERT INTO PM_DRUG.CD_GOODS (DRUGCODE) VALUES ('ZP00000041'), ('ZPX'), "
      "('A000000099');"
      "INSERT INTO PM_DRUG.CD_MAKER VALUES ('50007', 'a'), ('40001', 'b'), ('5000', 'c');"
      "INSERT INTO PM_DRUG.CD_ITEM_UNIT VALUES ('012', 'x', ''), ('999', 'y', ''), "
      "('1000', 'z', '');");
  EXPECT_EQ(RowsOf(Run("goods_1", {})), (Rows{{"41"}}));
  // CAST(... AS CHAR) is char(30): the caller trims it.
  EXPECT_EQ(RowsOf(Run("goods_2", {})), (Rows{{"50008" + std::string(25, ' ')}}));
  EXPECT_EQ(RowsOf(Run("goods_3", {})), (Rows{{"012"}}));
  db_.Exec("DELETE FROM PM_DRUG.CD_MAKER; DELETE FROM PM_DRUG.CD_GOODS;");
  EXPECT_EQ(RowsOf(Run("goods_2", {})), (Rows{{"NULL"}}));
  EXPECT_EQ(RowsOf(Run("goods_1", {})), (Rows{{"0"}}));
}

TEST_F(TsqlCatalogueTextsTest, NamelessUnitsAreFoldedIntoTheNewUnit) {
  Run("goods_22", {"005"});
  EXPECT_EQ(RowsOf(db_.Run("SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT_MEMBER ORDER BY SN")),
            (Rows{{"001"}, {"001"}, {"005"}, {"005"}}));
  EXPECT_EQ(RowsOf(db_.Run("SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT")), (Rows{{"001"}}));
}

TEST_F(TsqlTextResultsTest, SerialNumbersCountPerDay) {
  Run("payment_2", {"20240605"});
  EXPECT_EQ(RowsOf(Run("payment_3", {"20240605"})), (Rows{{"20240605000001", "1"}}));
  Run("payment_2", {"20240605"});
  db_.Exec(
      "INSERT INTO PM_PRES.SALE_MAIN (SL_DT_APPL, SL_DAY_SERIAL) VALUES ('20240605', 4), "
      "('20240604', 9)");
  BatchResult second = Run("payment_3", {"20240605"});
  EXPECT_EQ(second.result_sets[0].columns,
            (std::vector<std::string>{"SL_NO_ORDER", "SL_DAY_SERIAL"}));
  EXPECT_EQ(RowsOf(second), (Rows{{"20240605000002", "5"}}));
  EXPECT_EQ(RowsOf(db_.Run("SELECT CD_SE_SERIAL, OPENTIME FROM PM_BASE..CD_BASE")),
            (Rows{{"2", "0900"}}));
}

TEST_F(TsqlTextResultsTest, APaymentRowIsWrittenOnceAndThenUpdated) {
  Run("payment_4", {});
  db_.Run("UPDATE PM_PRES..CD_SUNAB SET ETC_CARD = 99");
  Run("payment_4", {});
  EXPECT_EQ(RowsOf(db_.Run("SELECT COUNT(*), MAX(ETC_CARD) FROM PM_PRES..CD_SUNAB")),
            (Rows{{"1", "1"}}));
}

TEST_F(TsqlTextResultsTest, CancellingMovesTheAmountsToThePaperColumns) {
  db_.Exec(
      "INSERT INTO PM_PRES.CD_SUNAB (PRESERIAL, PAPPROVAL_NUM, APPR_DATE, ETC_CARD, "
      "OTC_CARD, TEMP_4, TEMP_5, APPR_GUBUN) VALUES "
      "('S1', '12345678', '20131220153000', 5000, 3000, 2000, 1000, '1'), "
      "('S2', '12345678', '20131220', 0, 0, 4000, 0, '1'), "
      "('S3', '87654321', '20131220', 700, 0, 0, 0, '1');");
  BatchResult count = Run("cancel_1", {"P", "12345678", "20131220"});
  EXPECT_EQ(count.result_sets[0].columns, (std::vector<std::string>{"COUNT"}));
  EXPECT_EQ(RowsOf(count), (Rows{{"2"}}));
  Run("cancel_2", {"P", "P", "PCARD", "5", "D2", "TEMP_4", "TEMP_5", "P", "12345678", "20131220"});
  EXPECT_EQ(RowsOf(db_.Run("SELECT PRESERIAL, PCANCEL_NUM, PCARDINMODE, APPR_GUBUN, PTRDTYPE, "
                           "ETC_PAPER, OTC_PAPER, ETC_CARD, OTC_CARD FROM PM_PRES..CD_SUNAB "
                           "ORDER BY PRESERIAL")),
            (Rows{{"S1", "12345678", "2", "5", "D2", "2000", "1000", "0", "0"},
                  {"S2", "12345678", "2", "5", "D2", "4000", "0", "0", "0"},
                  {"S3", "NULL", "NULL", "1", "NULL", "NULL", "NULL", "700", "0"}}));
}

}  // namespace
}  // namespace tsql
