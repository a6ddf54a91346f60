#include "retalo/stock_revision.h"

#include <string>

#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/goods_catalogue.h"
#include "retalo/ordella_retalo.h"
#include "retalo/payment_record.h"

namespace retalo {

bool CDatabaseUtil::UpdateStock(const std::string& serial, double counted,
                                const std::string& drug_code, const std::string& date) {
  auto fail = [&](int position, std::string_view sql) {
    LogFailure(LogHeader::Form9("CDatabaseUtil::UpdateStock", "strDate", date, "strDrugcode",
                                drug_code, "strOrderNo", serial, "dQty", static_cast<int>(counted)),
               0, position, sql);
    return false;
  };
  std::string sql = FillSql(sql::kSelectStockOnHand, {drug_code});
  std::string recorded_text;
  bool has_row = false;
  if (!ReadFirstField(db_, sql, "IM_QT_SALE_DEBIT", &recorded_text, &has_row)) return fail(1, sql);
  const double recorded = has_row ? std::atof(recorded_text.c_str()) : 0;
  const double difference = counted - recorded;

  sql = FillSql(sql::kInsertStockRevision, {date, drug_code, serial, counted, difference});
  if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(2, sql);
  sql = FillSql(sql::kInsertRevisionMovement, {serial, drug_code, date, difference});
  if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(3, sql);

  sql = FillSql(sql::kSelectStockOnHandRow, {drug_code});
  std::string on_hand;
  if (!ReadFirstField(db_, sql, "IM_QT_SALE_DEBIT", &on_hand, &has_row)) return fail(4, sql);
  sql = has_row
            ? FillSql(sql::kUpdateStockOnHand, {std::atof(on_hand.c_str()) + difference, drug_code})
            : FillSql(sql::kInsertStockOnHand, {drug_code, difference});
  if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(5, sql);

  sql = FillSql(sql::kSelectDayStockRow, {drug_code, date});
  std::string day_debit;
  if (!ReadFirstField(db_, sql, "IM_QT_SALE_DEBIT", &day_debit, &has_row)) return fail(6, sql);
  sql = has_row ? FillSql(sql::kUpdateDayStockDebit,
                          {std::atof(day_debit.c_str()) + difference, drug_code, date})
                : FillSql(sql::kInsertDayStockDebit, {date, drug_code, difference});
  if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(7, sql);
  return true;
}

int ReviseStock(std::string_view barcode, double counted, const CAdoConnection::Options& options) {
  const std::string trimmed = TrimText(barcode);
  ExportCall call(
      LogHeader::Form5("StockRevision", Cp949("바코드"), barcode, Cp949("재고수량"), counted),
      options);
  // The revision, its movement and both totals are written together or not at all: a revision
  // row without its movement would leave the stock history disagreeing with the stock.
  if (!call.Open(1, true)) return kDbConnectFailed;
  CAdoConnection& db = call.db();
  CItemData item;
  item.SetBarcode(trimmed);
  std::string drug_code;
  item.HasBarcodeInItemUnitMember(db, &drug_code);
  std::string found_code;
  bool has_row = false;
  const std::string sql = FillSql(sql::kSelectGoodsDrugCode, {drug_code});
  if (drug_code.empty() || !ReadFirstField(db, sql, "DRUGCODE", &found_code, &has_row) ||
      !has_row) {
    return call.Fail(kDataError, 2, Cp949("찾을 수 없는 바코드"));
  }
  const std::string today = TodayText();
  std::string serial;
  int day_serial = 0;
  if (!CPaymentData::GetSerialNum(db, today, &serial, &day_serial)) return call.FailStep(3);
  if (!CDatabaseUtil(db).UpdateStock(serial, counted, drug_code, today)) return call.FailStep(4);
  return call.Finish();
}

}  // namespace retalo

extern "C" int StockRevision(const char* barcode, double counted) {
  return retalo::ReviseStock(barcode != nullptr ? barcode : "", counted,
                             retalo::CAdoConnection::Options{});
}
