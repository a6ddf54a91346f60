#include "hub/payments/receipt_fields.h"

#include <string>

#include "hub/core/module_state.h"
#include "hub/payments/print_texts.h"

namespace hub::payments {
namespace {

constexpr const char* kLogTag = "ReceiptLayout";

constexpr size_t kAmountColumns = 13;
constexpr size_t kCancelledAmountColumns = 12;

// Card numbers: characters 6 to 11 are masked, and fewer than 12 leave nothing to mask safely.
constexpr size_t kCardMaskFrom = 6;
constexpr size_t kCardMaskTo = 11;
// Identification numbers: the 4th to 7th characters from the end are masked.
constexpr size_t kIdMaskFromEnd = 7;
constexpr size_t kIdMaskToEnd = 4;
constexpr size_t kTrackCutAbove = 15;

std::string RightAligned(std::string_view text, size_t columns) {
  std::string out;
  if (text.size() < columns) out.assign(columns - text.size(), ' ');
  out.append(text);
  return out;
}

// Inserts "-" after every group of four: at 4, then every five characters (the dash counted),
// while the groups inserted stay below a quarter of the growing length.
std::string GroupedByFour(std::string text) {
  if (text.size() / 4 <= 1) return text;
  size_t position = 4;
  size_t groups = 1;
  do {
    if (position > text.size()) break;
    text.insert(position, 1, '-');
    position += 5;
    ++groups;
  } while (groups < text.size() / 4);
  return text;
}

std::string AllMasked(size_t length) { return std::string(length, '*'); }

std::string AmountLine(std::string_view label, long long amount, bool cancellation) {
  std::string line(label);
  line.append(AmountField(amount, cancellation));
  line.push_back(kLf);
  return line;
}

}  // namespace

std::string Without(std::string_view text, std::string_view removed) {
  std::string out;
  for (char c : text) {
    if (removed.find(c) == std::string_view::npos) out.push_back(c);
  }
  return out;
}

std::string AmountText(long long amount) {
  const bool negative = amount < 0;
  // Digits of the magnitude, taken without overflowing on the smallest value.
  std::string digits;
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(amount)
                                          : static_cast<unsigned long long>(amount);
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  std::string out = negative ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string AmountField(long long amount, bool cancellation) {
  std::string field(1, kSo);
  field.append(cancellation ? RightAligned("-" + AmountText(amount), kCancelledAmountColumns)
                            : RightAligned(AmountText(amount), kAmountColumns));
  field.append(texts::kWon);
  field.push_back(kSi);
  return field;
}

long long AmountValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  // A payment field holds at most 19 characters; 18 digits always fit.
  for (int digits = 0; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 18;
       ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

bool IsCancellation(int request_code) {
  return request_code == 71 || request_code == 63 || request_code == 171 || request_code == 183;
}

std::string AmountLines(int request_code, const PaymentFields& payment) {
  const long long amount1 = AmountValue(payment.amount1.view());
  const long long amount2 = AmountValue(payment.amount2.view());
  const long long amount3 = AmountValue(payment.amount3.view());
  const bool cancel = IsCancellation(request_code);
  std::string lines;
  switch (request_code) {
    case 61:
    case 63:
    case 181:
    case 183:
      lines += AmountLine(texts::kLabelPrescribed, amount1, cancel);
      lines += AmountLine(texts::kLabelOverTheCounter, amount2, cancel);
      lines += AmountLine(texts::kLabelTax, amount3, cancel);
      lines += AmountLine(texts::kLabelTotal, amount1 + amount2 + amount3, cancel);
      break;
    case 51:
    case 71:
      lines += AmountLine(texts::kLabelSale, amount1, cancel);
      lines += AmountLine(texts::kLabelTax, amount3, cancel);
      lines += AmountLine(texts::kLabelTotal, amount1 + amount3, cancel);
      break;
    case 161:
    case 171: {
      const long long total = amount1 + amount2 + amount3;
      lines += AmountLine(texts::kLabelSale, total - amount3, cancel);
      lines += AmountLine(texts::kLabelTax, amount3, cancel);
      lines += AmountLine(texts::kLabelTotal, total, cancel);
      break;
    }
    default:
      break;
  }
  lines.append(kSixSpaces);
  lines.push_back(kLf);
  return lines;
}

std::string MaskedCardNumber(std::string_view record_card_number) {
  std::string number = Without(record_card_number, "- ");
  if (number.size() <= kCardMaskTo) {
    WriteModuleLog(kLogTag, "card number shorter than 12 characters: printed masked whole");
    return GroupedByFour(AllMasked(number.size()));
  }
  for (size_t i = kCardMaskFrom; i <= kCardMaskTo; ++i) number[i] = '*';
  return GroupedByFour(std::move(number));
}

std::string FormattedIdentificationNumber(std::string_view received) {
  if (received.empty()) return {};
  std::string number = Without(received, "- ");
  if (number.size() > kTrackCutAbove) {
    const size_t separator = number.find('=', 1);
    if (separator != std::string::npos) number.resize(separator);
  }
  if (number.size() < kIdMaskFromEnd) {
    WriteModuleLog(kLogTag,
                   "identification number shorter than 7 characters: printed masked whole");
    number = AllMasked(number.size());
  } else {
    for (size_t i = number.size() - kIdMaskFromEnd; i <= number.size() - kIdMaskToEnd; ++i) {
      number[i] = '*';
    }
  }

  const bool telephone = received.substr(0, 2) == "01" ||
                         (received.size() > 2 &&
                          std::string_view("01679").find(received[2]) != std::string_view::npos);
  if (telephone) {
    if (number.size() == 10) {
      number.insert(3, 1, '-');
      number.insert(7, 1, '-');
    } else if (number.size() == 11) {
      number.insert(3, 1, '-');
      number.insert(8, 1, '-');
    }
    return number;
  }
  if (number.size() >= 8 && number.size() <= 16) return GroupedByFour(std::move(number));
  return number;
}

}  // namespace hub::payments
