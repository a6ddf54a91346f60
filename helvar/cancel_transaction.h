// Recording a cancellation that the terminal made (requests 850-852): the sale record's
// approval number, the original approval date and the payment kind go to the pharmacy
// database writer, which marks the approval's payment rows as cancelled.
#pragma once

#include <string>
#include <string_view>

#include "helvar/request.h"

namespace helvar {

class CWorkContext;

// Field `index` of a sale record (fields separated by FS); a field the record does not reach
// is empty.
std::string SaleRecordField(std::string_view record, size_t index);

// What a cancellation asks the database writer for.
struct CancelRequest {
  std::string approval_number;  // F5
  std::string approval_date;    // "20" and the first six characters of F14 (YYMMDD)
  int kind = 0;                 // 1 card (F15 "C"), 2 cash receipt

  bool operator==(const CancelRequest&) const = default;
};
CancelRequest ReadCancelRequest(std::string_view record);

// The handler of codes 850, 851 and 852: done, or a retry when the pharmacy database could not
// be reached. Any other failure is logged and not retried.
int RecordCancellation(CWorkContext& context, const Request& request);

}  // namespace helvar
