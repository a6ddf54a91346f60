#include "helvar/pos_sale.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "helvar/cancel_transaction.h"
#include "helvar/helvar_log.h"
#include "helvar/pos_items.h"
#include "helvar/reply_writer.h"
#include "helvar/work_context.h"
#include "protocol/frame.h"
#include "retalo/ordella_retalo.h"

namespace helvar {
namespace {

// Sale record fields.
constexpr size_t kPrescriptionCountField = 0, kPrescriptionsField = 1, kGoodsField = 2,
                 kSaleCountField = 3, kCardDataField = 4, kApprovalField = 5,
                 kPrescriptionAmountField = 6, kOtcAmountField = 7, kOtcTaxField = 8,
                 kDiscountField = 10, kInstalmentField = 11, kPaymentKindField = 15;

// A prescription record: 20 characters, the serial at 6-19.
constexpr size_t kPrescriptionRecord = 20;
constexpr size_t kSerialAt = 6, kSerialWidth = 14;
constexpr int kPrescriptionFields = 5;

constexpr int kSellerListRoom = 100000;
constexpr int kSellerFields = 4;
constexpr int kSellerListCode = 816;

// Display customers: k records of 20 characters from data position 7, 14 characters shown.
constexpr size_t kDisplayRecordsAt = 7, kDisplayRecord = 20, kDisplaySerial = 14;

std::string Joined(const std::vector<std::string_view>& fields) {
  std::string text;
  for (std::string_view field : fields) {
    text += field;
    text += kParamSep;
  }
  return text;
}

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[80];
  std::snprintf(text, sizeof text, "%d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

// The payment's prescriptions: the serial of each record F0 counts, then four empty fields.
// F1 shorter than F0 claims: the records present are taken, the count says how many, and the
// shortfall is logged, so no serial is made up.
std::string PrescriptionPart(std::string_view count_text, std::string_view records,
                             std::string* count_written) {
  const int claimed = std::atoi(std::string(count_text).c_str());
  const int present = static_cast<int>((records.size() + kPrescriptionRecord - 1) /
                                       kPrescriptionRecord);
  const int count = std::min(claimed, present);
  *count_written = count == claimed ? std::string(count_text) : std::to_string(count);
  if (count != claimed) {
    WriteLog("SaveSaleData szSunab",
             "prescription count " + std::string(count_text) + ", records " + std::to_string(present));
  }
  if (count <= 0) return std::string(kParamSep) + std::string(kParamSep) +
                         std::string(kParamSep) + std::string(kParamSep) + std::string(kParamSep);
  std::string part;
  for (int i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(i) * kPrescriptionRecord + kSerialAt;
    part += at < records.size() ? records.substr(at, kSerialWidth) : std::string_view();
    for (int field = 0; field < kPrescriptionFields; ++field) part += kParamSep;
  }
  return part;
}

}  // namespace

SaleTexts BuildSaleTexts(std::string_view record, std::string_view approved_at) {
  auto field = [&](size_t index) { return SaleRecordField(record, index); };
  SaleTexts texts;

  // The goods: each item ends with GS; an empty one (a list of a single GS) is no item.
  const std::string goods = field(kGoodsField);
  std::string items;
  size_t start = 0;
  for (size_t end = goods.find(protocol::kGs); end != std::string::npos;
       start = end + 1, end = goods.find(protocol::kGs, start)) {
    if (end == start) continue;
    const TerminalItem item = ReadTerminalItem(std::string_view(goods).substr(start, end - start));
    items += Joined({item.barcode, item.sale_price, item.purchase_price, item.quantity, ""});
    ++texts.goods_count;
  }
  texts.sale = Joined({field(kSaleCountField), "", field(kOtcAmountField), field(kOtcTaxField),
                       field(kDiscountField), std::to_string(texts.goods_count)}) +
               items;

  std::string count_written;
  const std::string prescriptions =
      PrescriptionPart(field(kPrescriptionCountField), field(kPrescriptionsField), &count_written);
  texts.payment = Joined({field(kOtcAmountField), field(kOtcTaxField),
                          field(kPrescriptionAmountField), field(kPaymentKindField),
                          field(kApprovalField), "", field(kCardDataField),
                          field(kInstalmentField), approved_at, count_written}) +
                  prescriptions;
  return texts;
}

int RecordSale(CWorkContext& context, const Request& request) {
  const SaleTexts texts = BuildSaleTexts(request.data, LocalTimeText());
  if (CustomerDisplayOn()) ClearScreen();
  const int result =
      texts.goods_count < 1
          ? SavePresData(texts.payment.c_str())
          : SaveSaleData(texts.sale.c_str(), texts.payment.c_str(), context.settings().price_update);
  if (result != kRetaloOk) {
    WriteLog("Error Code", "[ " + std::to_string(result) + " ]");
    WriteLog("SaveSaleData szSave", texts.sale);
    WriteLog("SaveSaleData szSunab", texts.payment);
  }
  return HandlerResultOf(result);
}

std::string SellerListReply(int count, std::string_view sellers) {
  char head[8];
  std::snprintf(head, sizeof head, "%02d", count);
  std::string text = std::string("C") + protocol::kFs + head + protocol::kFs;
  const protocol::Fields<kSellerFields * 100> fields =
      protocol::SplitFields<kSellerFields * 100>(sellers, '|');
  for (int seller = 0; seller < count; ++seller) {
    char name[64];
    std::snprintf(name, sizeof name, "%-10s",
                  std::string(fields[static_cast<size_t>(seller) * kSellerFields]).c_str());
    text += name;
    text += 'A';
    text += protocol::kFs;
  }
  const std::array<std::string_view, 1> body_fields = {text};
  const std::optional<std::string> body = protocol::MessageBody(kSellerListCode, body_fields);
  std::optional<std::string> frame =
      protocol::BuildFrame(*body, protocol::LengthRule::kSellerList, protocol::kTerminalShape,
                           text.size());
  if (!frame) return std::string();
  frame->push_back('\0');
  return *frame;
}

int SendSellerList(CWorkContext& /*context*/, const Request& request) {
  std::string sellers(kSellerListRoom, '\0');
  const int count = LoadSellerList(sellers.data(), kSellerListRoom);
  if (count < 0) {
    WriteLog("PM2000_Service_SaleSawon", Cp949("에러코드 = ") + std::to_string(count));
    return kHandlerFailed;
  }
  sellers.resize(count > 0 ? strnlen(sellers.data(), sellers.size()) : 0);
  const std::string reply = SellerListReply(count, sellers);
  if (reply.empty()) {
    WriteLog("PM2000_Service_SaleSawon", "seller list too long for one frame");
    return kHandlerFailed;
  }
  WriteReply(reply, request.code);
  return kHandlerDone;
}

int ClearCustomerDisplay(CWorkContext& /*context*/, const Request& /*request*/) {
  if (CustomerDisplayOn()) ClearScreen();
  return kHandlerDone;
}

int ShowDisplayCustomers(CWorkContext& /*context*/, const Request& request) {
  if (!CustomerDisplayOn() || request.data.empty()) return kHandlerDone;
  const char first = request.data[0];
  const int count = first >= '0' && first <= '9' ? first - '0' : 0;
  for (int i = 0; i < count; ++i) {
    const size_t at = kDisplayRecordsAt + static_cast<size_t>(i) * kDisplayRecord;
    if (at >= request.data.size()) break;  // fewer records than the count says
    std::array<char, kDisplayRecord> serial{};
    request.data.copy(serial.data(), kDisplaySerial, at);
    AddScreenCust(serial.data());
  }
  return kHandlerDone;
}

}  // namespace helvar
