#include "hub/payments/module_request.h"

#include "companions/kiccpad/kicc_protocol.h"
#include "hub/payments/receipt_fields.h"
#include "platform/text.h"

namespace hub::payments {
namespace {

constexpr int kPayment = 51;
constexpr int kSplitPayment = 61;
constexpr int kCancellation = 71;
constexpr int kSplitCancellation = 63;

constexpr char kCr = 0x0D;
constexpr size_t kProgramCodeWidth = 3;
constexpr size_t kSplitAmountWidth = 10;
constexpr std::string_view kAmountBlockGap = "       ";  // seven spaces
constexpr size_t kOriginalDateCut = 2;                   // "20251209" is sent as "251209"

// `text` right-aligned in `width` with zero fill ("%0<width>s"); a longer text stays whole.
std::string ZeroFilled(std::string_view text, size_t width) {
  std::string filled(text.size() < width ? width - text.size() : 0, '0');
  filled.append(text);
  return filled;
}

void Put(std::string& record, kicc::Field field, std::string_view text) {
  record.replace(field.offset, field.width, platform::FixedWidth(text, field.width));
}

std::string AmountBlock(bool split, const PaymentFields& payment) {
  std::string block(2, kCr);
  block.append(ZeroFilled(payment.program_code.view(), kProgramCodeWidth));
  block.append(kAmountBlockGap);
  if (split) {
    block.append(ZeroFilled(payment.amount1.view(), kSplitAmountWidth));
    block.append(ZeroFilled(payment.amount2.view(), kSplitAmountWidth));
  } else {
    block.append(2 * kSplitAmountWidth, '0');
  }
  return block;
}

}  // namespace

size_t ModuleSignatureLength(unsigned char high, unsigned char low) {
  const std::string digits =
      platform::ToHex(std::string{static_cast<char>(high), static_cast<char>(low)});
  size_t length = 0;
  for (const char digit : digits) {
    if (digit < '0' || digit > '9') break;
    length = length * 10 + static_cast<size_t>(digit - '0');
  }
  return length;
}

std::optional<ModuleSignature> ModuleSignatureIn(std::string_view frame) {
  const size_t tag = frame.find(kModuleSignatureTag);
  if (tag == std::string_view::npos) return std::nullopt;
  const std::string_view block = frame.substr(tag);
  if (block.size() < kModuleSignatureDataOffset) return std::nullopt;
  const size_t length =
      ModuleSignatureLength(static_cast<unsigned char>(block[kModuleSignatureLengthOffset]),
                            static_cast<unsigned char>(block[kModuleSignatureLengthOffset + 1]));
  if (block.size() - kModuleSignatureDataOffset < length) return std::nullopt;
  return ModuleSignature{block.substr(kModuleSeedOffset, kModuleSeedSize),
                         block.substr(kModuleSignatureDataOffset, length)};
}

std::optional<std::string_view> ModuleAnswerCode(int request_code) {
  switch (request_code) {
    case kPayment:
      return "052";
    case kSplitPayment:
      return "062";
    case kCancellation:
      return "072";
    case kSplitCancellation:
      return "064";
    default:
      return std::nullopt;
  }
}

std::optional<std::string> BuildModuleRequest(int request_code, const PaymentFields& payment) {
  if (!ModuleAnswerCode(request_code)) return std::nullopt;
  const long long total = AmountValue(payment.amount1.view()) +
                          AmountValue(payment.amount2.view()) + AmountValue(payment.amount3.view());
  const std::string total_text = std::to_string(total);
  if (total_text.size() > kicc::kTotal.width) return std::nullopt;

  const bool cancellation = IsCancellation(request_code);
  const bool split = request_code == kSplitPayment || request_code == kSplitCancellation;
  std::string_view original_date = payment.original_date.view();
  if (original_date.size() > kicc::kOriginalDate.width) {
    original_date.remove_prefix(kOriginalDateCut);
  }

  std::string record(kicc::kRequestRecordSize, ' ');
  Put(record, kicc::kRequestKind, cancellation ? kicc::kCancellationKind : kicc::kPaymentKind);
  Put(record, kicc::kKindSeparator, kicc::kKindSeparatorText);
  Put(record, kicc::kRecordVersion, kicc::kRecordVersionText);
  Put(record, kicc::kTerminalId, payment.terminal_id.view());
  Put(record, kicc::kEntryMode, kicc::kEntryModeText);
  Put(record, kicc::kCardData, payment.card_data.view());
  Put(record, kicc::kInstallmentMonths, payment.installment_months.view());
  Put(record, kicc::kTotal, total_text);
  Put(record, kicc::kOriginalApproval, payment.original_approval.view());
  Put(record, kicc::kOriginalDate, original_date);
  Put(record, kicc::kAmount3, payment.amount3.view());
  Put(record, kicc::kSignatureFlag, kicc::kSignatureFlagText);
  Put(record, kicc::kAmountBlock, AmountBlock(split, payment));
  return record;
}

}  // namespace hub::payments
