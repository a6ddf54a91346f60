#include "helvar/cancel_transaction.h"

#include <cstdio>

#include "helvar/helvar_log.h"
#include "helvar/work_context.h"
#include "protocol/frame.h"
#include "retalo/ordella_retalo.h"

namespace helvar {
namespace {

using protocol::kFs;

constexpr size_t kApprovalNumberField = 5;
constexpr size_t kApprovalDateField = 14;
constexpr size_t kPaymentKindField = 15;
constexpr size_t kDateDigits = 6;  // YYMMDD at the start of the approval date field

constexpr int kCardKind = 1;
constexpr int kCashReceiptKind = 2;
constexpr int kRetaloOk = 1;
constexpr int kRetaloUnreachable = -1001;

}  // namespace

std::string SaleRecordField(std::string_view record, size_t index) {
  size_t start = 0;
  for (size_t field = 0; field < index; ++field) {
    const size_t fs = record.find(kFs, start);
    if (fs == std::string_view::npos) return std::string();
    start = fs + 1;
  }
  const size_t end = record.find(kFs, start);
  return std::string(record.substr(start, end == std::string_view::npos ? end : end - start));
}

CancelRequest ReadCancelRequest(std::string_view record) {
  CancelRequest cancel;
  cancel.approval_number = SaleRecordField(record, kApprovalNumberField);
  cancel.approval_date = "20" + SaleRecordField(record, kApprovalDateField).substr(0, kDateDigits);
  cancel.kind = SaleRecordField(record, kPaymentKindField) == "C" ? kCardKind : kCashReceiptKind;
  return cancel;
}

int RecordCancellation(CWorkContext& /*context*/, const Request& request) {
  const CancelRequest cancel = ReadCancelRequest(request.data);
  const int result =
      MakeCancelTrans(cancel.approval_number.c_str(), cancel.approval_date.c_str(), cancel.kind);
  if (result != kRetaloOk) {
    char text[32];
    std::snprintf(text, sizeof text, "[ %d ]", result);
    WriteLog("SaveTransactionCancle Error Code", text);
  }
  return result == kRetaloUnreachable ? kHandlerRetry : kHandlerDone;
}

}  // namespace helvar
