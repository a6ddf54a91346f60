// Every text of the catalogue (sql_texts.h) under the name of its constant: the one list the
// catalogue tests iterate, each of them requiring a case for every text listed. A text added to
// the catalogue is added here too; a test compares this list with the catalogue's source, so a
// text that is missing here fails it.
#pragma once

#include <string_view>

#include "retalo/db/sql_texts.h"

namespace retalo::sql {

struct ListedText {
  std::string_view name;  // the constant's name, "kSelectTodayPrescriptions"
  std::string_view text;
};

#define ORDELLA_LISTED_TEXT(constant) \
  ListedText { #constant, constant }
inline constexpr ListedText kListedTexts[] = {
    ORDELLA_LISTED_TEXT(kSelectTodayPrescriptions),
    ORDELLA_LISTED_TEXT(kSelectGuidanceDrugs),
    ORDELLA_LISTED_TEXT(kSelectGuidanceDrugsWithPatient),
    ORDELLA_LISTED_TEXT(kSelectSaleCustomer),
    ORDELLA_LISTED_TEXT(kSelectNewestUnitByBarcode),
    ORDELLA_LISTED_TEXT(kInsertSaleMaster),
    ORDELLA_LISTED_TEXT(kInsertSaleLine),
    ORDELLA_LISTED_TEXT(kInsertSaleStockMovement),
    ORDELLA_LISTED_TEXT(kSelectDayStockTotals),
    ORDELLA_LISTED_TEXT(kUpdateDayStockTotals),
    ORDELLA_LISTED_TEXT(kInsertDayStockTotals),
    ORDELLA_LISTED_TEXT(kSelectStockOnHand),
    ORDELLA_LISTED_TEXT(kUpdateStockOnHand),
    ORDELLA_LISTED_TEXT(kInsertStockOnHand),
    ORDELLA_LISTED_TEXT(kInsertStatementHeader),
    ORDELLA_LISTED_TEXT(kSelectDayCounter),
    ORDELLA_LISTED_TEXT(kUpdateDayCounter),
    ORDELLA_LISTED_TEXT(kInsertDayCounter),
    ORDELLA_LISTED_TEXT(kSelectStatementLineNumber),
    ORDELLA_LISTED_TEXT(kInsertStatementLine),
    ORDELLA_LISTED_TEXT(kSelectCustomerDateTotal),
    ORDELLA_LISTED_TEXT(kUpdateCustomerDateTotal),
    ORDELLA_LISTED_TEXT(kInsertCustomerDateTotal),
    ORDELLA_LISTED_TEXT(kSelectCustomerTotal),
    ORDELLA_LISTED_TEXT(kUpdateCustomerTotal),
    ORDELLA_LISTED_TEXT(kInsertCustomerTotal),
    ORDELLA_LISTED_TEXT(kSelectAccountDateTotal),
    ORDELLA_LISTED_TEXT(kSelectTrialBalance),
    ORDELLA_LISTED_TEXT(kUpdateAccountDateTotal),
    ORDELLA_LISTED_TEXT(kInsertAccountDateTotal),
    ORDELLA_LISTED_TEXT(kUpdateTrialBalance),
    ORDELLA_LISTED_TEXT(kInsertTrialBalance),
    ORDELLA_LISTED_TEXT(kSelectAutoStatementLines),
    ORDELLA_LISTED_TEXT(kDeleteStatementLine),
    ORDELLA_LISTED_TEXT(kDeleteStatementHeader),
    ORDELLA_LISTED_TEXT(kSelectHighestNewDrugNumber),
    ORDELLA_LISTED_TEXT(kSelectNextMakerCode),
    ORDELLA_LISTED_TEXT(kSelectHighestUnitCode),
    ORDELLA_LISTED_TEXT(kSelectBarcodeAnswer),
    ORDELLA_LISTED_TEXT(kSelectNewestUnitMemberRow),
    ORDELLA_LISTED_TEXT(kUpsertDatedUnitPrices),
    ORDELLA_LISTED_TEXT(kSelectNationalBarcode),
    ORDELLA_LISTED_TEXT(kSelectGoodsByBarcode),
    ORDELLA_LISTED_TEXT(kSelectMakerByName),
    ORDELLA_LISTED_TEXT(kInsertMaker),
    ORDELLA_LISTED_TEXT(kInsertPricedGoods),
    ORDELLA_LISTED_TEXT(kInsertStockRowIfMissing),
    ORDELLA_LISTED_TEXT(kInsertPricedUnitMember),
    ORDELLA_LISTED_TEXT(kInsertUnnamedPricedGoods),
    ORDELLA_LISTED_TEXT(kInsertUnnamedPricedUnitMember),
    ORDELLA_LISTED_TEXT(kInsertGoods),
    ORDELLA_LISTED_TEXT(kInsertUnitMember),
    ORDELLA_LISTED_TEXT(kInsertUnnamedGoods),
    ORDELLA_LISTED_TEXT(kInsertUnnamedUnitMember),
    ORDELLA_LISTED_TEXT(kSelectUnitCodeByName),
    ORDELLA_LISTED_TEXT(kInsertUnit),
    ORDELLA_LISTED_TEXT(kMergeNamelessUnits),
    ORDELLA_LISTED_TEXT(kSelectGoodsDrugCode),
    ORDELLA_LISTED_TEXT(kInsertStockRevision),
    ORDELLA_LISTED_TEXT(kInsertRevisionMovement),
    ORDELLA_LISTED_TEXT(kSelectStockOnHandRow),
    ORDELLA_LISTED_TEXT(kSelectDayStockRow),
    ORDELLA_LISTED_TEXT(kUpdateDayStockDebit),
    ORDELLA_LISTED_TEXT(kInsertDayStockDebit),
    ORDELLA_LISTED_TEXT(kUpdatePharmacistName),
    ORDELLA_LISTED_TEXT(kCountApprovalRows),
    ORDELLA_LISTED_TEXT(kCancelApprovalRows),
    ORDELLA_LISTED_TEXT(kSelectUnpaidPrescriptions),
    ORDELLA_LISTED_TEXT(kSelectCurrentStaff),
    ORDELLA_LISTED_TEXT(kSelectPricedCatalogue),
    ORDELLA_LISTED_TEXT(kSelectDisplayCustomer),
    ORDELLA_LISTED_TEXT(kSelectPrescription),
    ORDELLA_LISTED_TEXT(kAdvanceDayCounter),
    ORDELLA_LISTED_TEXT(kSelectOrderNumber),
    ORDELLA_LISTED_TEXT(kUpsertPaymentRow),
    ORDELLA_LISTED_TEXT(kUpdateCashIdentity),
};
#undef ORDELLA_LISTED_TEXT

}  // namespace retalo::sql
