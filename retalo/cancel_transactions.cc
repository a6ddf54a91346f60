#include "retalo/cancel_transactions.h"

#include <string>
#include <string_view>

#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"

namespace retalo {
namespace {

// The rows of an approval that a cancel has marked already. A repeated cancel (the terminal
// sending it twice, a stored request run again) must leave them alone: running the update again
// would copy the zeros it left in the card or cash columns over the paper amounts.
constexpr std::string_view kCountCancelledApprovalRows =
    "SELECT COUNT(*) AS COUNT FROM PM_PRES..CD_SUNAB WHERE %cAPPROVAL_NUM = '%s' AND "
    "APPR_DATE LIKE '%s%%' AND %cCANCEL_NUM = %cAPPROVAL_NUM AND APPR_GUBUN = '%c'";

// What differs between cancelling a card approval and a cash receipt.
struct CancelColumns {
  char prefix;                              // of the approval, cancel and input-mode columns
  std::string_view inmode;                  // "PCARD" or "NCASH", giving PCARDINMODE or NCASHINMODE
  char cancelled_kind;                      // APPR_GUBUN after the cancel
  std::string_view trd_type;                // PTRDTYPE after the cancel
  std::string_view etc_single, otc_single;  // copied to the paper columns of a single row
};

constexpr CancelColumns kCard = {'P', "PCARD", '5', "D2", "ETC_CARD", "OTC_CARD"};
constexpr CancelColumns kCashReceipt = {'N', "NCASH", '6', "", "ETC_CASH", "OTC_CASH"};

// Each row of a payment that covered several items keeps its own share in these.
constexpr std::string_view kEtcShare = "TEMP_4";
constexpr std::string_view kOtcShare = "TEMP_5";

// The row count of a COUNT(*) text, or -1 when the statement fails or gives no row.
int CountRows(CAdoConnection& db, const std::string& sql) {
  if (db.ExecuteSql(sql, true) != kSqlOk) return -1;
  db.ClearFieldError();
  const int count = db.GetFieldInt("COUNT");
  db.CloseRecordset();
  return db.field_error() ? -1 : count;
}

int CancelApproval(const std::string& approval, const std::string& date, int kind) {
  const CancelColumns& columns = kind == kCancelCard ? kCard : kCashReceipt;
  ExportCall call(LogHeader::Form4("MakeCancelTrans", Cp949("승인번호"), approval,
                                   Cp949("승인일자"), date, Cp949("결제방식"), kind));
  if (!call.Open(1)) return kDbConnectFailed;
  CAdoConnection& db = call.db();
  const std::string not_found = Cp949("찾을 수 없는 승인번호");
  // An empty approval number would match every row that was never approved; the date is
  // matched as the start of APPR_DATE, and a LIKE wildcard in it would reach other days.
  if (approval.empty() || HasLikeWildcard(date)) return call.Fail(kDataError, 2, not_found);
  const int rows =
      CountRows(db, FillSql(sql::kCountApprovalRows, {columns.prefix, approval, date}));
  if (rows < 0) return call.Fail(kDataError, 2, not_found);
  if (rows == 0) return call.Fail(kDataError, 3, not_found);

  const int cancelled = CountRows(
      db, FillSql(kCountCancelledApprovalRows, {columns.prefix, approval, date, columns.prefix,
                                                columns.prefix, columns.cancelled_kind}));
  if (cancelled < 0) return call.FailStep(4);
  if (cancelled == rows) return call.Finish();

  const bool single = rows == 1;
  const std::string update =
      FillSql(sql::kCancelApprovalRows,
              {columns.prefix, columns.prefix, columns.inmode, columns.cancelled_kind,
               columns.trd_type, single ? columns.etc_single : kEtcShare,
               single ? columns.otc_single : kOtcShare, columns.prefix, approval, date});
  if (db.ExecuteSql(update, false) != kSqlOk) return call.FailStep(4);
  return call.Finish();
}

}  // namespace
}  // namespace retalo

extern "C" int MakeCancelTrans(const char* approval_number, const char* approval_date, int kind) {
  return retalo::CancelApproval(approval_number != nullptr ? approval_number : "",
                                approval_date != nullptr ? approval_date : "", kind);
}
