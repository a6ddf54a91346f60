// The bill header rewrite: the identity lines that the pharmacy program printed on its bill (trade
// name, registration number, owner) are dropped and the pharmacy's identity block from the
// property map is printed in their place, ahead of the bill's address line. Which lines are whose
// depends on the pharmacy program (property offset 2396): each program labels them with its own
// spacing.
#pragma once

#include <string>
#include <string_view>

#include "hub/payments/pharmacy_settings.h"

namespace hub::payments {

// The identity block, one text:
//   RS "17" "사업자번호 : " <registration number> 4 spaces LF
//   the first display line (34 bytes) of "상      호 : " <trade name>, LF
//   "성      명 : " <owner> 1 space LF
//   3 spaces US
std::string IdentityBlock(const PharmacySettings& settings);

// The bill with its identity lines rewritten for the settings' program index. The text is taken
// line by line (LF); every line written is followed by LF. An index without rules of its own
// (above 16, or below 0) uses the rules of index 3.
//
// A bill in which no line matches a rule of its index (no identity line to drop, no line to put
// the block before) is returned as it came, and a diagnostic record says so: it is printed as
// the pharmacy program wrote it. So is a bill whose identity lines would be dropped while no line
// takes the block (its address line is missing): it would name no pharmacy at all. The text may
// be of any length; what fits a print frame is the print entry's concern.
std::string RewriteBill(std::string_view bill, const PharmacySettings& settings);

}  // namespace hub::payments
