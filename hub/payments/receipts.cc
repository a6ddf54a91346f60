#include "hub/payments/receipts.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <string>
#include <utility>

#include "protocol/frame.h"
#include "hub/core/module_state.h"
#include "hub/payments/print_entries.h"
#include "hub/payments/print_texts.h"
#include "hub/payments/receipt_fields.h"
#include "hub/payments/signature.h"

namespace hub::payments {

using namespace protocol;
namespace {

namespace t = texts;

constexpr const char* kLogTag = "ReceiptPrint";
constexpr size_t kNameColumns = 15;  // owner and registration number on the card receipt
constexpr std::string_view kThreeSpaces = "   ";
constexpr std::string_view kCardExpiry = "**/**";
constexpr std::string_view kSignPadVoucher = "0000";
constexpr std::string_view kCopyLabelIndent = "            ";  // twelve spaces
constexpr std::string_view kCashCopyIndent = "\t\t\t     ";    // three TABs, five spaces

// Lines of a receipt, each ended by LF.
class ReceiptText {
 public:
  ReceiptText& Line(std::string_view text = {}) {
    text_.append(text);
    text_.push_back(kLf);
    return *this;
  }
  ReceiptText& Line(std::string_view label, std::string_view value) {
    text_.append(label);
    return Line(value);
  }
  ReceiptText& Raw(std::string_view lines) {
    text_.append(lines);
    return *this;
  }
  std::string Text() { return std::move(text_); }

 private:
  std::string text_;
};

std::string Highlighted(std::string_view text) {
  std::string out(1, kSo);
  out.append(text);
  out.push_back(kSi);
  return out;
}

std::string LeftAligned(std::string_view text, size_t columns) {
  std::string out(text);
  if (out.size() < columns) out.append(columns - out.size(), ' ');
  return out;
}

std::string_view Part(std::string_view text, size_t from, size_t count) {
  return from < text.size() ? text.substr(from, count) : std::string_view();
}

// "20YY/MM/DD    hh:mm:ss" of the record's date-time field (two digits each from its start).
std::string TransactionDateTime(std::string_view stamp) {
  std::string out = "20";
  out.append(Part(stamp, 0, 2)).append("/").append(Part(stamp, 2, 2)).append("/");
  out.append(Part(stamp, 4, 2)).append("    ");
  out.append(Part(stamp, 6, 2)).append(":").append(Part(stamp, 8, 2)).append(":");
  out.append(Part(stamp, 10, 2));
  return out;
}

std::string OriginalDate(std::string_view date) {
  if (date.size() == 8) {
    return std::string(Part(date, 0, 4)) + "/" + std::string(Part(date, 4, 2)) + "/" +
           std::string(Part(date, 6, 2));
  }
  if (date.size() == 6) {
    return "20" + std::string(Part(date, 0, 2)) + "/" + std::string(Part(date, 2, 2)) + "/" +
           std::string(Part(date, 4, 2));
  }
  return std::string(date);
}

std::string_view InstallmentText(std::string_view months) {
  if (months == "00" || months.empty() || months == "  " || months == " ") return t::kLumpSum;
  return months;
}

std::string CashTitle(int request_code, std::string_view usage_code) {
  if (IsCancellation(request_code)) return std::string(t::kCashCancelled);
  return std::string(usage_code == "00" ? t::kCashDeduction : t::kCashExpense);
}

std::string CardTitle(int request_code, CardReceiptLayout layout) {
  std::string title(layout == CardReceiptLayout::kSignPad ? 7 : 6, ' ');
  title.append(IsCancellation(request_code) ? t::kCardCancel : t::kCardPurchase);
  return title;
}

std::optional<std::string> CopyFrame(std::string_view receipt, std::string_view label,
                                     CardReceiptLayout layout) {
  std::string body = PrintMessageBody(receipt);
  body.push_back(kSo);
  body.append(kCopyLabelIndent).append(label);
  body.push_back(kSi);
  body.push_back(kLf);
  if (layout == CardReceiptLayout::kSignPad) {
    body.append(Highlighted(t::kSignature));
    body.push_back(kLf);
    body.push_back(kLf);
  }
  return BuildFrame(body, LengthRule::kReceiptCopy, kTerminalShape);
}

}  // namespace

std::string CashReceiptText(std::string_view approval_number, int request_code,
                            const PaymentFields& payment, const std::tm& now) {
  std::array<char, 32> stamp{};
  std::strftime(stamp.data(), stamp.size(), "%Y/%m/%d  %H:%M:%S", &now);
  std::string identification = FormattedIdentificationNumber(payment.identification.view());
  if (!identification.empty()) identification.append(kThreeSpaces);

  ReceiptText receipt;
  receipt.Line(Highlighted(CashTitle(request_code, payment.cash_usage_code.view())))
      .Line(kSixSpaces)
      .Line(t::kLabelIdentification, identification)
      .Line(t::kLabelDateTime, stamp.data())
      .Line(kSixSpaces)
      .Raw(AmountLines(request_code, payment))
      .Line(t::kLabelApproval, Highlighted(approval_number))
      .Line(t::kLabelNotice)
      .Line(t::kHelpDesk)
      .Line(kCashReceiptServiceAddress)
      .Line(kSixSpaces)
      .Line(Highlighted(std::string(kCashCopyIndent) + std::string(t::kMemberCopyCash)));
  return receipt.Text();
}

int BuildCashReceipt(RelaySlot& slot, std::string_view approval_number, int request_code) {
  const std::time_t seconds = std::time(nullptr);
  std::tm now{};
  localtime_r(&seconds, &now);
  return PlaceCashReceipt(slot, CashReceiptText(approval_number, request_code, slot.payment, now))
             ? 1
             : 0;
}

CardReceiptLayout LayoutForPaymentPath(int payment_path) {
  return payment_path == kSignPadObjectsPath ? CardReceiptLayout::kSignPad
                                             : CardReceiptLayout::kModule;
}

std::string CardReceiptText(const ApprovalRecord& record, int request_code,
                            const PaymentFields& payment, const PharmacySettings& settings,
                            CardReceiptLayout layout) {
  const bool sign_pad = layout == CardReceiptLayout::kSignPad;
  const std::string_view stamp = RecordText(record, kTransactionDateTime);

  ReceiptText receipt;
  receipt.Line(Highlighted(CardTitle(request_code, layout)));
  if (sign_pad) receipt.Line();
  receipt.Line(t::kLabelMerchant, settings.trade_name)
      .Line(t::kLabelOwnerPhone, LeftAligned(settings.owner_name, kNameColumns) +
                                     settings.area_code + "-" + settings.telephone)
      .Line(t::kLabelBusinessTerminal,
            LeftAligned(settings.business_number, kNameColumns) + settings.terminal_id)
      .Line(t::kLabelMerchantNumber, RecordText(record, kMerchantNumber))
      .Line(t::kLabelAddress, settings.business_address)
      .Line(kSixSpaces)
      .Line(Highlighted(RecordText(record, kIssuerName)))
      .Line(kSixSpaces)
      .Line(t::kLabelCardNumber, MaskedCardNumber(RecordText(record, kCardNumber)) +
                                     std::string(kThreeSpaces) + std::string(kCardExpiry))
      .Line(t::kLabelDateTime,
            TransactionDateTime(sign_pad ? Without(stamp, " ") : std::string(stamp)))
      .Line(t::kLabelInstallment, InstallmentText(payment.installment_months.view()))
      .Raw(AmountLines(request_code, payment));
  if (request_code == 71 || request_code == 63) {
    receipt.Line(t::kLabelOriginalDate, OriginalDate(payment.original_date.view()));
  }
  receipt.Line(t::kLabelApproval, Highlighted(RecordText(record, kApprovalNumber)))
      .Line(t::kLabelVoucher, sign_pad ? kSignPadVoucher : RecordText(record, kVoucherNumber));
  if (sign_pad) {
    receipt.Line(t::kSignPadAcquirer).Line().Line();
  } else {
    receipt.Line(t::kLabelAcquirer, RecordText(record, kAcquirerName))
        .Line(t::kLabelNotice, Highlighted(t::kElectronicSlip));
  }
  return receipt.Text();
}

std::optional<CardReceiptCopies> CardReceiptFrames(std::string_view receipt,
                                                   CardReceiptLayout layout) {
  std::optional<std::string> customer = CopyFrame(receipt, t::kCustomerCopy, layout);
  std::optional<std::string> merchant = CopyFrame(receipt, t::kMerchantCopy, layout);
  if (!customer || !merchant) return std::nullopt;
  return CardReceiptCopies{std::move(*customer), std::move(*merchant)};
}

int FillPrintCopyBuffers(RelaySlot& slot, const CardReceiptCopies& copies,
                         const std::optional<std::string>& signature_frame) {
  slot.customer_copy.count = 0;
  slot.merchant_copy.count = 0;
  const size_t largest_copy = std::max(copies.customer.size(), copies.merchant.size());
  if (largest_copy > slot.customer_copy.room()) {
    WriteModuleLog(kLogTag, "card receipt larger than a print copy buffer: not printed");
    return 0;
  }
  if (signature_frame) {
    if (signature_frame->size() + largest_copy <= slot.customer_copy.room()) {
      slot.customer_copy.Append(*signature_frame);
      slot.merchant_copy.Append(*signature_frame);
    } else {
      WriteModuleLog(kLogTag, "signature of " + std::to_string(signature_frame->size()) +
                                  " bytes leaves no room for the receipt: printed without it");
    }
  }
  slot.customer_copy.Append(copies.customer);
  slot.merchant_copy.Append(copies.merchant);
  return 1;
}

int BuildCardReceipt(RelaySlot& slot, const ApprovalRecord& record,
                     const PharmacySettings& settings) {
  const CardReceiptLayout layout = LayoutForPaymentPath(settings.payment_path);
  const int request_code = slot.pending_request_code.load(std::memory_order_relaxed);
  const std::string receipt = CardReceiptText(record, request_code, slot.payment, settings, layout);
  const std::optional<CardReceiptCopies> copies = CardReceiptFrames(receipt, layout);
  if (!copies) {
    WriteModuleLog(kLogTag, "card receipt too long for a print frame: not printed");
    return 0;
  }
  return FillPrintCopyBuffers(slot, *copies,
                              ReadSignatureFrame(SignatureFilesIn(settings.install_dir)));
}

}  // namespace hub::payments
