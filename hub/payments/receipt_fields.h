// The pieces of a receipt that are formatted rather than copied: amounts, the amount lines of a
// request, the masked card number and the identification number of a cash receipt.
#pragma once

#include <string>
#include <string_view>

#include "hub/core/relay_slot.h"

namespace hub::payments {

// `text` without any of the bytes in `removed` (ASCII: never a half of a two-byte character).
std::string Without(std::string_view text, std::string_view removed);

// An amount in decimal with a "," before every third digit from the right that has digits to its
// left: 1234567 -> "1,234,567", 0 -> "0", -5000 -> "-5,000".
std::string AmountText(long long amount);

// The highlighted amount of an amount line: SO, the amount text right-aligned in 13 columns, "원",
// SI. A cancellation puts "-" in front of the text and right-aligns it in 12 columns.
std::string AmountField(long long amount, bool cancellation);

// A decimal text of a payment field read as an integer the way the POS side's numbers are read:
// leading spaces, an optional sign, then digits up to the first other character; 0 when none.
long long AmountValue(std::string_view text);

// True for the request codes that cancel (card 71 and 63, cash 171 and 183).
bool IsCancellation(int request_code);

// The amount lines of a request (each ended by LF), then the line of six spaces:
//   split (61, 181; cancelled 63, 183): prescription drugs, over the counter, tax, their sum
//   plain card (51; cancelled 71):      amount 1, tax, their sum
//   plain cash (161; cancelled 171):    the total less tax, tax, the total (all three amounts)
// Another code gives the line of six spaces alone.
std::string AmountLines(int request_code, const PaymentFields& payment);

// The card number of a receipt, from the approval record's 20-character field: dashes and spaces
// removed, characters 6 to 11 (from 0) replaced by "*", then grouped by four with "-"
// (1234567890123456 -> 1234-56**-****-3456). A number shorter than 12 characters cannot be
// masked that way and would show its digits: it is shown as "*" throughout, grouped the same way.
std::string MaskedCardNumber(std::string_view record_card_number);

// The identification number of a cash receipt as printed: dashes and spaces removed; a longer
// than 15 character card text cut before its "=" (track data); the 4th to 7th characters from
// the end masked; then dashes as a telephone number (it begins "01" or its third character is 0,
// 1, 6, 7 or 9 as received: 10 characters 3-3-4, 11 characters 3-4-4) or else as a card number
// (8 to 16 characters, groups of four). Empty stays empty. A number shorter than 7 characters
// cannot keep anything hidden and is shown as "*" throughout.
std::string FormattedIdentificationNumber(std::string_view received);

}  // namespace hub::payments
