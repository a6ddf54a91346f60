// The point-of-sale relay's sale record (codes 800-802) made into the database writer's two
// texts: the sale with its goods and the payment with its prescriptions.
//
// What must hold, for a record whose fields do not themselves hold the writer's separator:
//   - the goods counted are the record's non-empty GS-ended items of its goods field, and the
//     sale text has the six fields of its head and five for each of them;
//   - the payment has its ten head fields and five for each prescription written, never more
//     prescriptions than the record holds records of (a serial is never made up), and at least
//     the five empty ones;
//   - the texts are bounded by the record (each part of the record is written once).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "helvar/pos_items.h"
#include "helvar/pos_sale.h"
#include "protocol/frame.h"

namespace {

constexpr std::string_view kApprovedAt = "20261211093000";
constexpr size_t kGoodsField = 2, kPrescriptionsField = 1;
constexpr size_t kPrescriptionRecord = 20;

size_t Count(std::string_view text, std::string_view what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UsePrivatePrefix();  // the shortfall of prescriptions is logged below the prefix
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view record(reinterpret_cast<const char*>(data), size);
  const helvar::SaleTexts texts = helvar::BuildSaleTexts(record, kApprovedAt);
  FUZZ_CHECK(texts.goods_count >= 0);

  const size_t separator = helvar::kParamSep.size();
  const size_t fields = Count(record, std::string_view(&protocol::kFs, 1)) + 1;
  FUZZ_CHECK(texts.sale.size() <= (6 + 5 * static_cast<size_t>(texts.goods_count)) * separator +
                                      record.size() + 12 + 4 * static_cast<size_t>(texts.goods_count));
  if (record.find(helvar::kParamSep.substr(0, 1)) != std::string_view::npos ||
      record.find(helvar::kParamSep.substr(1, 1)) != std::string_view::npos) {
    return 0;
  }

  const auto split = protocol::SplitFields<16>(record, protocol::kFs);
  const std::string_view goods = fields > kGoodsField ? split[kGoodsField] : std::string_view();
  size_t items = 0;
  for (size_t start = 0, end = goods.find(protocol::kGs); end != std::string_view::npos;
       start = end + 1, end = goods.find(protocol::kGs, start)) {
    if (end != start) ++items;
  }
  FUZZ_CHECK(static_cast<size_t>(texts.goods_count) == items);
  FUZZ_CHECK(Count(texts.sale, helvar::kParamSep) == 6 + 5 * items);

  const size_t payment_fields = Count(texts.payment, helvar::kParamSep);
  FUZZ_CHECK(payment_fields >= 15 && (payment_fields - 10) % 5 == 0);
  const size_t written = (payment_fields - 10) / 5;
  const std::string_view records =
      fields > kPrescriptionsField ? split[kPrescriptionsField] : std::string_view();
  const size_t present = (records.size() + kPrescriptionRecord - 1) / kPrescriptionRecord;
  FUZZ_CHECK(written == 1 || written <= present);  // one: the five empty fields of none
  return 0;
}
