// For the payments tests: CP949 texts written in readable UTF-8 and printed texts read back.
#pragma once

#include <string>
#include <string_view>

#include "hub/core/relay_slot.h"
#include "hub/payments/print_texts.h"
#include "platform/text.h"

namespace hub::payments::testing {

inline std::string Cp(std::string_view utf8) { return platform::Utf8ToCp949(utf8).value(); }

// A printed text made readable: UTF-8, with SO and SI shown as < and >, RS and US as [ and ],
// FS as | and ESC as ^.
inline std::string Readable(std::string_view cp949) {
  std::string text = platform::Cp949ToUtf8(cp949).value();
  for (char& c : text) {
    switch (c) {
      case kSo:
        c = '<';
        break;
      case kSi:
        c = '>';
        break;
      case kRs:
        c = '[';
        break;
      case kUs:
        c = ']';
        break;
      case 0x1C:
        c = '|';
        break;
      case kEsc:
        c = '^';
        break;
      default:
        break;
    }
  }
  return text;
}

// Payment fields holding the three amounts.
inline PaymentFields Amounts(std::string_view amount1, std::string_view amount2,
                             std::string_view amount3) {
  PaymentFields payment;
  payment.amount1.Set(amount1);
  payment.amount2.Set(amount2);
  payment.amount3.Set(amount3);
  return payment;
}

}  // namespace hub::payments::testing
