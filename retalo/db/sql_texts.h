// Every SQL text that the database writer and the tray service program send to the pharmacy
// database, each once, verbatim (T-SQL; "PM_DRUG..TABLE" names the database of each table).
// Placeholders are those of the C format the texts were built with: %s, %d, %g, %c and %% for a
// literal percent sign. Fill them only through FillSql (sql_fill.h), which quotes safely.
// Texts are UTF-8 here; FillSql gives them as CP949 bytes, as the callers send them.
#pragma once

#include <string_view>

namespace retalo::sql {

// clang-format off
// Customer lists of the tray service program.
inline constexpr std::string_view kSelectTodayPrescriptions =
    "SELECT     TOP (30)  m.PreSerial,m.Paname,P.PANUM,0 \t\t\t\t\t\t\t\tFROM       "
    "PM_BASE..CD_PERSON AS p INNER JOIN \t\t\t\t\t\t\t\t\t\t   PM_PRES..PS_main AS m ON p.CUSCODE = "
    "m.CusCode \t\t\t\t\t\t\t\tWHERE  (m.Indate = CONVERT(VARCHAR(10), GETDATE(), 112)) AND "
    "P.CUSACT='1' \t\t\t\t\t\t\t\tORDER BY m.PreSerial DESC;";

// Drugs of a prescription for the medication guidance sheet.
inline constexpr std::string_view kSelectGuidanceDrugs =
    "SELECT  P.SUB_SERIAL, '' AS OLD, '' AS Paname, '' AS PANUM, P.DrugCode,         '1일,' "
    "+ CONVERT(varchar(4), P.QUAN_TIME) + '회,' + convert(varchar(20),CONVERT(float, "
    "P.QUAN)) + replace(I.effctname,case when I.effctunit is null then '1' else I.effctunit"
    " end,'')  +'/' + CONVERT(varchar(4), P.Days) + '일' AS WAY \t\tFROM    "
    "PM_PRES..ps_sub_pharm AS P \t\tINNER JOIN PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = "
    "I.DrugCode \t\tLEFT OUTER JOIN PM_DRUG..CD_MC AS MC ON P.DrugCode = MC.DRUGCODE \t\tWHERE "
    " P.ps_type != '9' AND    (P.PreSerial = '%s') \t\tunion \t\tSELECT  P.SUB_SERIAL, '' AS "
    "OLD, '' AS Paname, '' AS PANUM, P.DrugCode, \t\t'1일,' + CONVERT(varchar(4), P.QUAN_TIME)"
    " + '회,' + convert(varchar(20),CONVERT(float, P.QUAN)) + replace(I.effctname,case when "
    "I.effctunit is null then '1' else I.effctunit end,'') +'/' + CONVERT(varchar(4), "
    "P.Days) + '일' AS WAY \t\tFROM    PM_PRES..Temp_ps_sub_pharm AS P \t\tINNER JOIN "
    "PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = I.DrugCode  \t\tLEFT OUTER JOIN PM_DRUG..CD_MC"
    " AS MC ON P.DrugCode = MC.DRUGCODE \t\tWHERE  P.ps_type != '9' AND    (P.PreSerial = "
    "'%s') \t\tORDER BY P.SUB_SERIAL ASC";
inline constexpr std::string_view kSelectGuidanceDrugsWithPatient =
    "SELECT P.SUB_SERIAL, "
    "100+str(substring(convert(char(6),getdate(),112),3,2))-str(substring(M.PaNum,1,2)) AS "
    "OLD, \t\t M.Paname, STUFF(M.PaNum, 8, 6, '******') AS PANUM, P.DrugCode, '1일,' + "
    "CONVERT(varchar(4), P.QUAN_TIME) + '회,' + \t\tconvert(varchar(20),CONVERT(float, "
    "P.QUAN)) +  replace(I.effctname,case when I.effctunit is null then '1' else "
    "I.effctunit end,'')   \t\t+'/' + CONVERT(varchar(4), P.Days) + '일' AS WAY   FROM    "
    "PM_PRES..ps_sub_pharm AS P \t\tINNER JOIN PM_PRES..PS_main AS M ON M.PreSerial = "
    "P.PreSerial \t\tINNER JOIN PM_DRUG..CD_ETCGOODS AS I ON P.DrugCode = I.DrugCode \t\t WHERE"
    "  P.ps_type != '9' AND    (P.PreSerial = '%s')";

// Sale recording: customer, sale header and lines, stock movement of a line.
inline constexpr std::string_view kSelectSaleCustomer =
    "SELECT PANAME, ACCSCORE, INSCODE, PANUM, SEQ FROM PM_BASE..CD_PERSON WHERE CUSCODE = "
    "'%s' AND CUSACT = '1'";
inline constexpr std::string_view kSelectNewestUnitByBarcode =
    "SELECT TOP 1 DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, CD_IN_UNIT FROM "
    "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE = '%s' ORDER BY SN DESC";
inline constexpr std::string_view kInsertSaleMaster =
    "INSERT INTO PM_PRES..SALE_MAIN (SL_NO_ORDER, SL_DT_APPL, SL_CD_CUSTOM, SEQ, "
    "SL_CD_INS_CODE, SL_NM_COUNT, SL_NM_CUSTOM, SL_NM_MEMO, SL_NO_SLIP_CRE, SL_NO_SLIP_REC,"
    " SL_MY_TOTAL, SL_MY_DISCOUNT, SL_MY_SALE, SL_MY_CREDIT, SL_MY_CRE_VAT, SL_MY_RECIVE, "
    "SL_MY_REC_VAT, SL_MY_DIS_RATIO, SL_MY_SALE_COST, SL_DAY_SERIAL, INSERTTIME, "
    "ADJUST_CHK, PRESERIAL, POS_GUBUN, PRECOUNT, PANUM, DUR, RESEARCH_CHK) VALUES ('%s', "
    "'%s', '%s', %d, '%s', '%s', '%s', '', '%s', '%s', %g, %g, %g, %g, %g, %g, %g, %g, %g, "
    "%d, GETDATE(), 'True', Null, 'C', Null, '%s', 'N', '')";
inline constexpr std::string_view kInsertSaleLine =
    "INSERT INTO PM_PRES..SALE_SUB (SL_NO_ORDER, DRUGCODE, SL_DT_APPL, SL_CD_CUSTOM, "
    "SL_CD_INS_CODE, SL_UN_ITEM, SL_NM_UNIT, SL_NM_ITEM, SL_NM_COST_A, SL_NM_COST_B, "
    "SL_NM_COST_R, SL_MY_AMOUNT_A, SL_MY_AMOUNT_B, SL_MY_AMOUNT_R, SL_MY_VAT, "
    "SL_MY_IN_COST, DRUG_SERIAL, SL_TOTAL_PRICE, SL_DIS_PRICE, SL_INPUT_PRICE, QUAN, "
    "QUAN_TIME, DAYS, BARCODE, INPRICE) VALUES ('%s', '%s', '%s', '%s', '%s', '%s', %g, %g,"
    " %g, %g, %g, %g, %g, %g, %g, %g, %d, 0, 0, 0, 0, 0, 0, '%s', %g)";
inline constexpr std::string_view kInsertSaleStockMovement =
    "INSERT INTO PM_DRUG..IM_POSITION (IM_SL_SELECT, IM_NO_SERIAL, DRUGCODE, IM_DT_APPL, "
    "IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT) VALUES ('D', '%s', '%s', '%s', %g, %g)";
inline constexpr std::string_view kSelectDayStockTotals =
    "SELECT IM_QT_SALE_CREDIT, IM_QT_SALE_DEBIT FROM PM_DRUG..IM_DATE_TOTAL WHERE DRUGCODE "
    "= '%s' AND IM_DT_APPL = '%s'";
inline constexpr std::string_view kUpdateDayStockTotals =
    "UPDATE PM_DRUG..IM_DATE_TOTAL SET IM_QT_SALE_CREDIT = %g, IM_QT_SALE_DEBIT = %g WHERE "
    "DRUGCODE = '%s' AND IM_DT_APPL = '%s'";
inline constexpr std::string_view kInsertDayStockTotals =
    "INSERT INTO PM_DRUG..IM_DATE_TOTAL (IM_DT_APPL, DRUGCODE, IM_QT_SALE_CREDIT, "
    "IM_QT_SALE_DEBIT) VALUES ('%s', '%s', %g, %g)";
inline constexpr std::string_view kSelectStockOnHand =
    "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s'";
inline constexpr std::string_view kUpdateStockOnHand =
    "UPDATE PM_DRUG..IM_TOTAL SET IM_QT_SALE_DEBIT = %g WHERE DRUGCODE = '%s'";
inline constexpr std::string_view kInsertStockOnHand =
    "INSERT INTO PM_DRUG..IM_TOTAL (DRUGCODE, IM_QT_SALE_DEBIT) VALUES ('%s', %g)";

// Ledger posting: statement header and lines, the four running totals.
inline constexpr std::string_view kInsertStatementHeader =
    "INSERT INTO PM_BASE..SP_MAIN (SP_DT_APPL, SP_NO_SLIP, SP_CL_SLIP, SP_NT_REMARK, "
    "SP_MY_AMOUNT, SP_NM_CHARGE) VALUES ('%s', '%s', '%d', '%s', %g, '')";
inline constexpr std::string_view kSelectDayCounter =
    "SELECT TOP 1 CD_SE_BASE, CD_SE_SERIAL, OPENTIME FROM PM_BASE..CD_BASE WHERE CD_DT_APPL"
    " = '%s'";
inline constexpr std::string_view kUpdateDayCounter =
    "UPDATE PM_BASE..CD_BASE SET CD_SE_SERIAL = %d WHERE CD_DT_APPL = '%s'";
inline constexpr std::string_view kInsertDayCounter =
    "INSERT INTO PM_BASE..CD_BASE (CD_DT_APPL, CD_SE_BASE, CD_SE_SERIAL, OPENTIME) VALUES "
    "('%s', 0, %d, '%s')";
inline constexpr std::string_view kSelectStatementLineNumber =
    "SELECT MAX(SPP_SR_SLIP_COL) AS MAXSLIPCOL, COUNT(*) AS CALCCOL FROM PM_BASE..SPP_SUB "
    "WHERE SPP_DT_APPL = '%s' AND SPP_NO_SLIP = '%s' AND SPP_CL_SLIP = '%s'";
inline constexpr std::string_view kInsertStatementLine =
    "INSERT INTO PM_BASE..SPP_SUB (SPP_DT_APPL, SPP_NO_SLIP, SPP_CL_SLIP, SPP_SR_SLIP_COL, "
    "SPP_CD_ACCOUNT, SPP_IS_BUY_CUSTOM, SPP_CD_BUY_CUSTOM, SPP_NO_BILL_NO, SPP_CD_BANK_ACC,"
    " SPP_NO_ACCOUNT, SPP_NT_REMARK, SPP_MY_DEBIT, SPP_MY_CREDIT, SPP_IS_VAT, "
    "SPP_IS_SUBBOOK, SPP_IS_AUTO, SPP_NO_SERIAL, SPP_CD_FAMILY, SPP_CD_INNER) VALUES ('%s',"
    " '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', %s, %s, '%s', '%s', '%s',"
    " '%s', '%s', '%s')";
inline constexpr std::string_view kSelectCustomerDateTotal =
    "SELECT TOP 1 MC_MY_DEBIT, MC_MY_CREDIT FROM PM_BASE..MC_CUSTOM_DATE WHERE MC_DT_APPL ="
    " '%s' AND MC_SL_SELECT = '%s' AND MC_CD_CUSTOM = '%s' AND MC_CD_ACC = '%s'";
inline constexpr std::string_view kUpdateCustomerDateTotal =
    "UPDATE PM_BASE..MC_CUSTOM_DATE SET MC_CD_HOUSE = '%s', MC_CL_BOOK = '%s', MC_MY_DEBIT "
    "= %g, MC_MY_CREDIT = %g WHERE MC_DT_APPL = '%s' AND MC_SL_SELECT = '%s' AND "
    "MC_CD_CUSTOM = '%s' AND MC_CD_ACC = '%s'";
inline constexpr std::string_view kInsertCustomerDateTotal =
    "INSERT INTO PM_BASE..MC_CUSTOM_DATE (MC_DT_APPL, MC_SL_SELECT, MC_CD_CUSTOM, "
    "MC_CD_ACC, MC_CD_HOUSE, MC_CL_BOOK, MC_MY_DEBIT, MC_MY_CREDIT) VALUES ('%s', '%s', "
    "'%s', '%s', '%s', '%s', %g, %g)";
inline constexpr std::string_view kSelectCustomerTotal =
    "SELECT TOP 1 MT_MY_DEBIT, MT_MY_CREDIT FROM PM_BASE..MT_CUSTOM_TOTAL WHERE "
    "MT_SL_SELECT = '%s' AND MT_CD_CUSTOM = '%s' AND MT_CD_ACC = '%s'";
inline constexpr std::string_view kUpdateCustomerTotal =
    "UPDATE PM_BASE..MT_CUSTOM_TOTAL SET MT_CD_HOUSE = '%s', MT_CL_BOOK = '%s', MT_MY_DEBIT"
    " = %g, MT_MY_CREDIT = %g WHERE MT_SL_SELECT = '%s' AND MT_CD_CUSTOM = '%s' AND "
    "MT_CD_ACC = '%s'";
inline constexpr std::string_view kInsertCustomerTotal =
    "INSERT INTO PM_BASE..MT_CUSTOM_TOTAL (MT_SL_SELECT, MT_CD_CUSTOM, MT_CD_ACC, "
    "MT_CD_HOUSE, MT_CL_BOOK, MT_MY_DEBIT, MT_MY_CREDIT) VALUES ('%s', '%s', '%s', '%s', "
    "'%s', %g, %g)";
inline constexpr std::string_view kSelectAccountDateTotal =
    "SELECT TOP 1 MA_MY_DEBIT, MA_MY_CREDIT FROM PM_BASE..MA_ACCOUNT_DATE WHERE MA_DT_APPL "
    "= '%s' AND MA_CD_ACC = '%s'";
inline constexpr std::string_view kSelectTrialBalance =
    "SELECT TOP 1 MT_MY_DEBIT, MT_MY_CREDIT FROM PM_BASE..MT_TRIAL_BALANCE WHERE "
    "MT_CD_ACCOUNT = '%s'";
inline constexpr std::string_view kUpdateAccountDateTotal =
    "UPDATE PM_BASE..MA_ACCOUNT_DATE SET MA_MY_DEBIT = %g, MA_MY_CREDIT = %g WHERE "
    "MA_DT_APPL = '%s' AND MA_CD_ACC = '%s'";
inline constexpr std::string_view kInsertAccountDateTotal =
    "INSERT INTO PM_BASE..MA_ACCOUNT_DATE (MA_DT_APPL, MA_CD_ACC, MA_MY_DEBIT, "
    "MA_MY_CREDIT) VALUES ('%s', '%s', %g, %g)";
inline constexpr std::string_view kUpdateTrialBalance =
    "UPDATE PM_BASE..MT_TRIAL_BALANCE SET MT_MY_DEBIT = %g, MT_MY_CREDIT = %g WHERE "
    "MT_CD_ACCOUNT = '%s'";
inline constexpr std::string_view kInsertTrialBalance =
    "INSERT INTO PM_BASE..MT_TRIAL_BALANCE (MT_CD_ACCOUNT, MT_NT_REMARK, MT_MY_DEBIT, "
    "MT_TT_DEDIT, MT_MY_CREDIT, MT_TT_CREDIT) VALUES ('%s', '', %g, 0, %g, 0)";
inline constexpr std::string_view kSelectAutoStatementLines =
    "SELECT * FROM PM_BASE..SPP_SUB WHERE SPP_IS_AUTO = '%s' AND SPP_NO_SERIAL = '%s' ORDER"
    " BY SPP_DT_APPL, SPP_NO_SLIP";
inline constexpr std::string_view kDeleteStatementLine =
    "DELETE FROM PM_BASE..SPP_SUB WHERE SPP_DT_APPL = '%s' AND SPP_NO_SLIP = '%s' AND "
    "SPP_CL_SLIP = '%s' AND SPP_SR_SLIP_COL = '%s'";
inline constexpr std::string_view kDeleteStatementHeader =
    "DELETE FROM PM_BASE..SP_MAIN WHERE SP_DT_APPL = '%s' AND SP_NO_SLIP = '%s'";

// Goods and barcode catalogue: look-ups, new codes, new goods, prices, units.
inline constexpr std::string_view kSelectHighestNewDrugNumber =
    "SELECT ISNULL(MAX(CAST(SUBSTRING(DRUGCODE, CHARINDEX('0', DRUGCODE), LEN(DRUGCODE)) AS"
    " INT)), 0) AS DRUGCODE FROM PM_DRUG..CD_GOODS WHERE LEN(DRUGCODE) = 10 AND "
    "LEFT(DRUGCODE, 2) = 'ZP'";
inline constexpr std::string_view kSelectNextMakerCode =
    "SELECT CAST(CAST(MAX(SPLCODE) AS INT)+1 AS CHAR) AS SPLCODE FROM PM_DRUG..CD_MAKER "
    "WHERE LEN(SPLCODE) = 5 AND LEFT(SPLCODE, 1) = '5'";
inline constexpr std::string_view kSelectHighestUnitCode =
    "SELECT TOP 1 CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_CD_UNIT <> '999' AND "
    "LEN(CD_CD_UNIT) = 3 ORDER BY CD_CD_UNIT DESC";
inline constexpr std::string_view kSelectBarcodeAnswer =
    "IF EXISTS (SELECT * FROM PM_DRUG..CD_GOODS AS A INNER JOIN "
    "PM_DRUG..CD_ITEM_UNIT_MEMBER AS B ON A.DRUGCODE = B.DRUGCODE AND B.CD_CD_BARCODE %s "
    "'%s%s') BEGIN SELECT B.CD_CD_BARCODE AS BARCODE, A.GOODSNAME AS ETCNAME, A.SPLNAME AS "
    "SPLNAME, B.CD_NM_UNIT AS PAKUNIT, B.PACK, B.CD_MY_UNIT, B.CD_IN_UNIT, "
    "ISNULL(C.IM_QT_SALE_DEBIT, 0) AS IM_QT_SALE_DEBIT FROM PM_DRUG..CD_GOODS AS A INNER "
    "JOIN (SELECT B1.*, B3.CD_NM_UNIT AS PACK FROM PM_DRUG..CD_ITEM_UNIT_MEMBER AS B1 INNER"
    " JOIN (SELECT DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, MAX(SN) AS SN FROM "
    "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE %s '%s%s' GROUP BY DRUGCODE, "
    "CD_CD_UNIT, CD_NM_UNIT) AS B2 ON B1.DRUGCODE = B2.DRUGCODE AND B1.SN = B2.SN LEFT JOIN"
    " PM_DRUG..CD_ITEM_UNIT AS B3 ON B1.CD_CD_UNIT = B3.CD_CD_UNIT) AS B ON A.DRUGCODE = "
    "B.DRUGCODE LEFT JOIN PM_DRUG..IM_TOTAL AS C ON A.DRUGCODE = C.DRUGCODE END ELSE BEGIN "
    "SELECT BARCODE, ETCNAME, SPLNAME, PAKUNIT, 0 AS PACK, 0 AS CD_MY_UNIT, 0 AS "
    "CD_IN_UNIT, 0 AS IM_QT_SALE_DEBIT FROM PM_DRUG..CD_BARCODE WHERE BARCODE %s '%s%s' END";
inline constexpr std::string_view kSelectNewestUnitMemberRow =
    "SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE %s '%s%s' ORDER "
    "BY SN DESC";
inline constexpr std::string_view kUpsertDatedUnitPrices =
    "IF EXISTS (SELECT TOP 1 * FROM PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE DRUGCODE = '%s' AND "
    "CHANGE_DATE = '%s') BEGIN UPDATE PM_DRUG..CD_ITEM_UNIT_MEMBER SET CD_MY_UNIT = %g, "
    "CD_IN_UNIT = %g WHERE DRUGCODE = '%s' AND CHANGE_DATE = '%s' END ELSE BEGIN INSERT "
    "INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, CD_MY_UNIT, "
    "CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) VALUES "
    "('%s', '%s', %s, %g, %g, '%s', '', '%s', %g, '01') END";
inline constexpr std::string_view kSelectNationalBarcode =
    "SELECT TOP 1 * FROM PM_DRUG..CD_BARCODE WHERE BARCODE IN ('%s', '%s')";
inline constexpr std::string_view kSelectGoodsByBarcode =
    "SELECT TOP 1 * FROM PM_DRUG..CD_GOODS WHERE GOODSSELCODE = 'B' AND BARCODE = '%s'";
inline constexpr std::string_view kSelectMakerByName =
    "SELECT * FROM PM_DRUG..CD_MAKER WHERE SPLNAME = '%s'";
inline constexpr std::string_view kInsertMaker =
    "INSERT INTO PM_DRUG..CD_MAKER (SPLCODE, SPLNAME) VALUES ('%s', '%s')";
inline constexpr std::string_view kInsertPricedGoods =
    "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
    "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('%s', "
    "'%s', '%s', 'B', '%s', '0', %g, %g, '%s', '%s', 'Y', 'Y')";
inline constexpr std::string_view kInsertStockRowIfMissing =
    "IF NOT EXISTS (SELECT * FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s') INSERT INTO "
    "PM_DRUG..IM_TOTAL (DRUGCODE, IM_QT_SALE_DEBIT) VALUES ('%s', 0)";
inline constexpr std::string_view kInsertPricedUnitMember =
    "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
    "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
    "VALUES ('%s', '%s', 1, %g, %g, '%s', '', '%s', %s, '01')";
inline constexpr std::string_view kInsertUnnamedPricedGoods =
    "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
    "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('제품명_미등록',"
    " '', '%s', 'B', '', '0', '%g', '%g', '', '', 'Y', 'Y')";
inline constexpr std::string_view kInsertUnnamedPricedUnitMember =
    "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
    "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
    "VALUES ('%s', '%s', 1, %g, %g, '%s', '', '%s', 1, '01')";
inline constexpr std::string_view kInsertGoods =
    "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
    "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('%s', "
    "'%s', '%s', 'B', '%s', '0', 0, 0, '%s', '%s', 'Y', 'Y')";
inline constexpr std::string_view kInsertUnitMember =
    "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
    "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
    "VALUES ('%s', '%s', 1, 0, 0, '%s', '', '%s', %s, '01')";
inline constexpr std::string_view kInsertUnnamedGoods =
    "INSERT INTO PM_DRUG..CD_GOODS (GOODSNAME, BARCODE, DRUGCODE, GOODSSELCODE, SPLCODE, "
    "ISSPECIAL, PRICE, SALEPRICE, SPLNAME, TITLECODE, POS_TAX, POS_GONG) VALUES ('%s', '', "
    "'%s', 'B', '', '0', 0, 0, '%s', '', 'Y', 'Y')";
inline constexpr std::string_view kInsertUnnamedUnitMember =
    "INSERT INTO PM_DRUG..CD_ITEM_UNIT_MEMBER (DRUGCODE, CD_CD_UNIT, CD_NM_UNIT, "
    "CD_MY_UNIT, CD_IN_UNIT, CD_CD_BARCODE, CD_CD_POS, CHANGE_DATE, CD_CD_QUAN, COM_GUBUN) "
    "VALUES ('%s', '%s', 1, 0, 0, '%s', '', '%s', 1, '01')";
inline constexpr std::string_view kSelectUnitCodeByName =
    "SELECT CD_CD_UNIT FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_NM_UNIT = '%s'";
inline constexpr std::string_view kInsertUnit =
    "INSERT INTO PM_DRUG..CD_ITEM_UNIT VALUES ('%s', '%s', '')";
inline constexpr std::string_view kMergeNamelessUnits =
    "UPDATE PM_DRUG..CD_ITEM_UNIT_MEMBER SET CD_CD_UNIT = '%s' FROM PM_DRUG..CD_ITEM_UNIT "
    "AS A INNER JOIN PM_DRUG..CD_ITEM_UNIT_MEMBER AS B ON A.CD_CD_UNIT = B.CD_CD_UNIT AND "
    "A.CD_NM_UNIT = ''; DELETE FROM PM_DRUG..CD_ITEM_UNIT WHERE CD_NM_UNIT = ''";

// Stock revision: counted stock against the recorded stock.
inline constexpr std::string_view kSelectGoodsDrugCode =
    "SELECT DRUGCODE FROM PM_DRUG..CD_GOODS WHERE DRUGCODE = '%s'";
// (kSelectStockOnHand, shared with an earlier part.)
inline constexpr std::string_view kInsertStockRevision =
    "INSERT INTO PM_DRUG..IMS_STOCK_REVISION (IMS_DT_APPL, DRUGCODE, IMS_NO_SERIAL, "
    "IMS_NM_CHARGE, IMS_QT_SALE_IN, IMS_QT_SALE_MP) VALUES ('%s', '%s', '%s', 'Retalo', %g,"
    " %g)";
inline constexpr std::string_view kInsertRevisionMovement =
    "INSERT INTO PM_DRUG..IM_POSITION (IM_SL_SELECT, IM_NO_SERIAL, DRUGCODE, IM_DT_APPL, "
    "IM_QT_SALE_DEBIT, IM_QT_SALE_CREDIT) VALUES ('Y', '%s', '%s', '%s', 0, %g)";
inline constexpr std::string_view kSelectStockOnHandRow =
    "SELECT TOP 1 DRUGCODE, IM_QT_SALE_DEBIT FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = '%s'";
// (kUpdateStockOnHand, shared with an earlier part.)
// (kInsertStockOnHand, shared with an earlier part.)
inline constexpr std::string_view kSelectDayStockRow =
    "SELECT TOP 1 IM_DT_APPL, DRUGCODE, IM_QT_SALE_DEBIT, IM_QT_SALE_CREDIT FROM "
    "PM_DRUG..IM_DATE_TOTAL WHERE DRUGCODE = '%s' AND IM_DT_APPL = '%s'";
inline constexpr std::string_view kUpdateDayStockDebit =
    "UPDATE PM_DRUG..IM_DATE_TOTAL SET IM_QT_SALE_DEBIT = %g WHERE DRUGCODE = '%s' AND "
    "IM_DT_APPL = '%s'";
inline constexpr std::string_view kInsertDayStockDebit =
    "INSERT INTO PM_DRUG..IM_DATE_TOTAL (IM_DT_APPL, DRUGCODE, IM_QT_SALE_DEBIT, "
    "IM_QT_SALE_CREDIT) VALUES ('%s', '%s', %g, 0)";

// Dispensing pharmacist of a prescription.
inline constexpr std::string_view kUpdatePharmacistName =
    "UPDATE PM_PRES..PS_MAIN SET PH_NAME = '%s' WHERE PRESERIAL = '%s'";

// Cancelling the payment rows of an approval.
inline constexpr std::string_view kCountApprovalRows =
    "SELECT COUNT(*) AS COUNT FROM PM_PRES..CD_SUNAB WHERE %cAPPROVAL_NUM = '%s' AND "
    "APPR_DATE LIKE '%s%%'";
inline constexpr std::string_view kCancelApprovalRows =
    "UPDATE PM_PRES..CD_SUNAB SET %cCANCEL_NUM = %cAPPROVAL_NUM, %sINMODE = 2, APPR_GUBUN ="
    " '%c', PTRDTYPE = '%s', DAERISUNAB = '1', ETC_PAPER = %s, OTC_PAPER = %s, ETC_CARD = "
    "0, ETC_CASH = 0, OTC_CARD = 0, OTC_CASH = 0 FROM PM_PRES..CD_SUNAB WHERE "
    "%cAPPROVAL_NUM = '%s' AND APPR_DATE LIKE '%s%%'";

// Lists for the terminal: unpaid prescriptions, staff, priced catalogue.
inline constexpr std::string_view kSelectUnpaidPrescriptions =
    "SELECT T1.PRESERIAL, T1.PANAME, T1.PANUM, T1.PRICE_N, T1.CASH_NUM FROM (SELECT TOP 30 "
    "ISNULL(M.PRESERIAL,'') AS PRESERIAL, ISNULL(M.PANAME,'') AS PANAME, ISNULL(P.PANUM,'')"
    " AS PANUM, ISNULL(M.PRICE_N,0) AS PRICE_N, ISNULL(P.CASH_NUM,'') AS CASH_NUM, "
    "ISNULL(D.NAPPROVAL_NUM,'') AS NAPPROVAL_NUM, ISNULL(D.APPR_GUBUN,0) AS APPR_GUBUN FROM"
    " PM_BASE..CD_PERSON AS P INNER JOIN PM_PRES..PS_MAIN AS M ON P.CUSCODE = M.CUSCODE "
    "LEFT JOIN PM_PRES..CD_SUNAB AS D ON M.PRESERIAL = D.PRESERIAL WHERE M.INDATE = '%s' "
    "AND P.CUSACT = '1' AND (D.APPR_GUBUN IN ('0', '5', '6', 'B') OR (D.APPR_GUBUN = 'C' "
    "AND APPR_DATE = '') OR (D.APPR_GUBUN = 'A' AND DAERISUNAB = '2') OR (D.APPR_GUBUN = "
    "'2' AND NCHK_GUBUN = 'KCJ' AND AUTOGUBUN = '1'))) AS T1 LEFT JOIN (SELECT DISTINCT "
    "ISNULL(NAPPROVAL_NUM,'') AS NAPPROVAL_NUM FROM PM_PRES..CD_SUNAB WHERE APPR_GUBUN = "
    "'A' AND DAERISUNAB = '1' AND INDATE = '%s' AND NAPPROVAL_NUM <> '') AS T2 ON "
    "T1.NAPPROVAL_NUM = T2.NAPPROVAL_NUM WHERE (T1.NAPPROVAL_NUM <> T2.NAPPROVAL_NUM) OR "
    "(T2.NAPPROVAL_NUM IS NULL) ORDER BY T1.PRESERIAL DESC";
inline constexpr std::string_view kSelectCurrentStaff =
    "SELECT * FROM PM_BASE..APT_SAWON WHERE OUTDATE = '' ORDER BY INDATE, SANAME";
inline constexpr std::string_view kSelectPricedCatalogue =
    "SELECT B.CD_CD_BARCODE, A.GOODSNAME, A.SPLNAME, B.CD_NM_UNIT, B.PACK, B.CD_MY_UNIT, "
    "B.CD_IN_UNIT, ISNULL(C.IM_QT_SALE_DEBIT,0) AS IM_QT_SALE_DEBIT FROM (SELECT * FROM "
    "PM_DRUG..CD_GOODS WHERE GOODSSELCODE <> '') AS A INNER JOIN (SELECT B1.*, "
    "B3.CD_NM_UNIT AS PACK FROM PM_DRUG..CD_ITEM_UNIT_MEMBER AS B1 INNER JOIN (SELECT "
    "DRUGCODE, CD_CD_BARCODE, CD_CD_UNIT, CD_NM_UNIT, MAX(SN) AS SN FROM "
    "PM_DRUG..CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE <> '' GROUP BY DRUGCODE, "
    "CD_CD_BARCODE, CD_CD_UNIT, CD_NM_UNIT ) AS B2 ON B1.DRUGCODE = B2.DRUGCODE AND B1.SN ="
    " B2.SN LEFT JOIN PM_DRUG..CD_ITEM_UNIT AS B3 ON B1.CD_CD_UNIT = B3.CD_CD_UNIT ) AS B "
    "ON A.DRUGCODE = B.DRUGCODE LEFT JOIN PM_DRUG..IM_TOTAL AS C ON A.DRUGCODE = C.DRUGCODE"
    " WHERE CONVERT(FLOAT,B.CD_MY_UNIT) > 0";

// Customer display: today's prescription by serial.
inline constexpr std::string_view kSelectDisplayCustomer =
    "SELECT TOP 30 M.PreSerial,M.Paname,P.PANUM,LTRIM(STR(M.PRICE_N)) FROM "
    "PM_BASE..CD_PERSON AS P INNER JOIN PM_PRES..PS_main AS M ON P.CUSCODE = M.CusCode LEFT"
    " OUTER JOIN PM_PRES..CD_SUNAB AS D ON M.PreSerial = D.Preserial WHERE (M.Indate = "
    "CONVERT(VARCHAR(10), GETDATE(), 112)) AND M.PreSerial='%s'";

// Payment record: prescription, day counter and order number, payment row.
inline constexpr std::string_view kSelectPrescription =
    "SELECT PRESERIAL, INDATE, DAY_SERIAL, CUSCODE, PRICE_N FROM PM_PRES..PS_MAIN WHERE "
    "PRESERIAL = '%s'";
inline constexpr std::string_view kAdvanceDayCounter =
    "DECLARE @DATE VARCHAR(8); SET @DATE = '%s'; IF EXISTS (SELECT * FROM PM_BASE..CD_BASE "
    "WHERE CD_DT_APPL = @DATE) BEGIN UPDATE PM_BASE..CD_BASE SET CD_SE_SERIAL = "
    "CD_SE_SERIAL + 1 WHERE CD_DT_APPL = @DATE END ELSE BEGIN INSERT INTO PM_BASE..CD_BASE "
    "(CD_DT_APPL, CD_SE_BASE, CD_SE_SERIAL, OPENTIME) VALUES (@DATE, 0, 1, '0900') END";
inline constexpr std::string_view kSelectOrderNumber =
    "DECLARE @DATE VARCHAR(8); SET @DATE = '%s'; SELECT (SELECT TOP 1 "
    "@DATE+RIGHT('000000'+CAST(CD_SE_SERIAL AS VARCHAR), 6) FROM PM_BASE..CD_BASE WHERE "
    "CD_DT_APPL = @DATE) AS SL_NO_ORDER, (SELECT TOP 1 CASE WHEN MAX(SL_DAY_SERIAL) IS NOT "
    "NULL THEN MAX(SL_DAY_SERIAL)+1 ELSE 1 END FROM PM_PRES..SALE_MAIN WHERE SL_DT_APPL = "
    "@DATE) AS SL_DAY_SERIAL";
inline constexpr std::string_view kUpsertPaymentRow =
    "IF EXISTS (SELECT TOP 1 * FROM PM_PRES..CD_SUNAB WHERE CUSCODE = '%s' AND INDATE = "
    "'%s' AND PRESERIAL = '%s') BEGIN UPDATE PM_PRES..CD_SUNAB SET DAY_SERIAL = %d, "
    "ETC_CARD = %d, ETC_CASH = %d, ETC_PAPER = %d, OTC_CARD = %d, OTC_CASH = %d, OTC_PAPER "
    "= %d, PTRDTYPE = '%s', PTERMID = '%s', PMCHDATA = '%s', PCARDNAME = '%s', PTRACKDATA ="
    " '%s', PSWIPE = '%s', PMONTH = '%s', PTRADEAMT = %d, PSVCAMT = %d, PTAXAMT = %d, "
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
    "PCARDINNAME, SMCHNO, TEMP_4, TEMP_5) VALUES ('%s', '%s', %d, '%s', %d, %d, %d, %d, %d,"
    " %d, '%s', '%s', '%s', '%s', '%s', '%s', '%s', %d, %d, %d, '%s', %d, '%s', '%s', '%s',"
    " '%s', '%s', '%s', '%s', %d, %d, '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s',"
    " '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', %d, %d) END";
inline constexpr std::string_view kUpdateCashIdentity =
    "UPDATE PM_BASE..CD_PERSON SET CASH_NUM = '%s' WHERE CUSCODE = '%s'";
// clang-format on

}  // namespace retalo::sql
