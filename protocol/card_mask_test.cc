#include "protocol/card_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace protocol {
namespace {

using std::string_literals::operator""s;

TEST(CardMaskTest, MasksCardNumbersAndTrackData) {
  struct Case {
    std::string bytes;
    std::string masked;
  };
  const Case cases[] = {
      // Card numbers of 13 to 19 digits keep their first 6 and last 4 digits.
      {"4111111111111111", "411111******1111"},
      {"4222222222222", "422222***2222"},
      {"6011000990139424123", "601100*********4123"},
      {"20240101123045", "202401****3045"},
      // Shorter and longer runs are not card numbers.
      {"000000150000", "000000150000"},
      {"88012345678901234567", "88012345678901234567"},
      // Track 2 (and its hexadecimal form) and track 1: everything after the separator goes,
      // up to the end sentinel or a control byte.
      {";4111111111111111=25121010000012345?", ";411111******1111=*****************?"},
      {"4111111111111111D2512101000001F\x1c"
       "1",
       "411111******1111D**************\x1c"
       "1"},
      {"%B4111111111111111^HONG/GILDONG^2512101?", "%B411111******1111^********************?"},
      // Inside a frame, among fields and binary bytes that stay as they are.
      {"\x02XX0051TRM810\x1c"
       "1\x1c"
       "5409123412341234\x1c\0\xb0\xa1\x1c"
       "00001500\x03\x7f"s,
       "\x02XX0051TRM810\x1c"
       "1\x1c"
       "540912******1234\x1c\0\xb0\xa1\x1c"
       "00001500\x03\x7f"s},
      {"1234567890123=", "123456***0123="},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MaskCardData(c.bytes), c.masked) << c.bytes;
  }
}

}  // namespace
}  // namespace protocol
