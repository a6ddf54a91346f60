#include "retalo/lists.h"

#include <cstdio>

#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"

namespace retalo {
namespace {

void AppendText(CAdoConnection& db, std::string_view column, std::string* text) {
  *text += db.GetFieldText(column);
  *text += '|';
}

// Prices and stock go to the terminal as whole numbers: the fraction is cut off.
void AppendWhole(CAdoConnection& db, std::string_view column, std::string* text) {
  *text += std::to_string(db.GetFieldInt(column));
  *text += '|';
}

void AppendUserRow(CAdoConnection& db, std::string* text) {
  for (std::string_view column : {"PRESERIAL", "PANAME", "PANUM", "PRICE_N", "CASH_NUM"}) {
    AppendText(db, column, text);
  }
}

void AppendSellerRow(CAdoConnection& db, std::string* text) {
  for (std::string_view column : {"SANAME", "INDATE", "SAJUMIN", "SAPOINT"}) {
    AppendText(db, column, text);
  }
}

void AppendGoodsRow(CAdoConnection& db, std::string* text) {
  AppendText(db, "CD_CD_BARCODE", text);
  AppendText(db, "GOODSNAME", text);
  AppendText(db, "SPLNAME", text);
  AppendWhole(db, "CD_NM_UNIT", text);
  AppendText(db, "PACK", text);
  AppendWhole(db, "CD_MY_UNIT", text);
  AppendWhole(db, "CD_IN_UNIT", text);
  AppendWhole(db, "IM_QT_SALE_DEBIT", text);
}

}  // namespace

int LoadList(const ListQuery& query, char* buffer, int size) {
  ExportCall call(LogHeader::Form1(query.export_name));
  if (!call.Open(1)) return kDbConnectFailed;
  CAdoConnection& db = call.db();
  const int rc = db.ExecuteSql(query.sql, true);
  if (rc == kSqlFailed) return call.FailStep(2);
  if (rc == kSqlNoRows) return call.Finish(0);
  const size_t count = db.RecordCount();
  std::string text;
  db.ClearFieldError();
  for (int row = 0; !db.IsEof(); ++row, db.MoveNext()) {
    query.append_row(db, &text);
    if (db.field_error()) return call.FailStep(2, row);
  }
  db.CloseRecordset();
  if (!WriteAnswer(text, buffer, size)) {
    return call.Fail(kDataError, 3, Cp949("응답버퍼 크기 부족"));
  }
  return call.Finish(static_cast<int>(count));
}

}  // namespace retalo

extern "C" int LoadUserList(char* list, int list_size) {
  const std::string today = retalo::TodayText();
  return retalo::LoadList(
      {"LoadUserList", retalo::FillSql(retalo::sql::kSelectUnpaidPrescriptions, {today, today}),
       retalo::AppendUserRow},
      list, list_size);
}

extern "C" int LoadSellerList(char* list, int list_size) {
  return retalo::LoadList({"LoadSellerList", retalo::FillSql(retalo::sql::kSelectCurrentStaff, {}),
                           retalo::AppendSellerRow},
                          list, list_size);
}

extern "C" int LoadDatabase(char* list, int list_size) {
  return retalo::LoadList({"LoadDatabase", retalo::FillSql(retalo::sql::kSelectPricedCatalogue, {}),
                           retalo::AppendGoodsRow},
                          list, list_size);
}
