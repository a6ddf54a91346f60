#include "hub/payments/receipt_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "hub/payments/test_support.h"

namespace hub::payments {
namespace {

using testing::Amounts;
using testing::Cp;
using testing::Readable;

TEST(AmountTextTest, GroupsDigitsAndAlignsTheField) {
  struct Case {
    long long amount;
    bool cancellation;
    const char* text;
    const char* field;
  };
  const Case cases[] = {
      {1234567, false, "1,234,567", "<    1,234,567원>"},
      {5000, true, "5,000", "<      -5,000원>"},
      {0, false, "0", "<            0원>"},
      {999, false, "999", "<          999원>"},
      {1000, false, "1,000", "<        1,000원>"},
      {-1234, false, "-1,234", "<       -1,234원>"},
      // Wider than the columns: nothing is cut.
      {1234567890123456, false, "1,234,567,890,123,456", "<1,234,567,890,123,456원>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.amount);
    EXPECT_EQ(AmountText(c.amount), c.text);
    EXPECT_EQ(Readable(AmountField(c.amount, c.cancellation)), c.field);
  }
}

TEST(AmountTextTest, ReadsPaymentFieldsLikeThePosSide) {
  EXPECT_EQ(AmountValue("9000"), 9000);
  EXPECT_EQ(AmountValue("  120won"), 120);
  EXPECT_EQ(AmountValue("-30"), -30);
  EXPECT_EQ(AmountValue(""), 0);
  EXPECT_EQ(AmountValue("abc"), 0);
  EXPECT_EQ(AmountValue("9999999999999999999"), 999999999999999999);  // 18 digits kept
}

TEST(AmountLinesTest, LaysOutEachKindOfRequest) {
  const PaymentFields payment = Amounts("9000", "1000", "1000");
  struct Case {
    int code;
    const char* lines;
  };
  const Case cases[] = {
      {161,
       "거 래  금 액 : <       10,000원>\n"
       "부   가   세 : <        1,000원>\n"
       "합        계 : <       11,000원>\n"},
      {181,
       "조제  의약품 : <        9,000원>\n"
       "일반  의약품 : <        1,000원>\n"
       "부   가   세 : <        1,000원>\n"
       "합        계 : <       11,000원>\n"},
      {51,
       "거 래  금 액 : <        9,000원>\n"
       "부   가   세 : <        1,000원>\n"
       "합        계 : <       10,000원>\n"},
      {71,
       "거 래  금 액 : <      -9,000원>\n"
       "부   가   세 : <      -1,000원>\n"
       "합        계 : <     -10,000원>\n"},
      {63,
       "조제  의약품 : <      -9,000원>\n"
       "일반  의약품 : <      -1,000원>\n"
       "부   가   세 : <      -1,000원>\n"
       "합        계 : <     -11,000원>\n"},
      {171,
       "거 래  금 액 : <     -10,000원>\n"
       "부   가   세 : <      -1,000원>\n"
       "합        계 : <     -11,000원>\n"},
      {151, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(Readable(AmountLines(c.code, payment)), std::string(c.lines) + "      \n");
  }
}

TEST(MaskedCardNumberTest, MasksTheMiddleAndGroupsByFour) {
  struct Case {
    const char* record;
    const char* printed;
  };
  const Case cases[] = {
      {"1234567890123456", "1234-56**-****-3456"},
      {"1234-5678-9012-3456 ", "1234-56**-****-3456"},
      {"123456789012345", "1234-56**-****-345"},
      {"123456789012", "1234-56**-****"},
      {"4321 0987 6543 2109", "4321-09**-****-2109"},
      // Too short to keep anything hidden: masked whole.
      {"12345678901", "****-****-***"},
      {"1234", "****"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    EXPECT_EQ(MaskedCardNumber(c.record), c.printed);
  }
}

TEST(IdentificationNumberTest, MasksThenFormatsAsTelephoneOrCard) {
  struct Case {
    const char* received;
    const char* printed;
  };
  const Case cases[] = {
      {"01012345678", "010-1***-*678"},
      {"010-1234-5678", "010-1***-*678"},
      {"0212345678", "021-***-*678"},
      {"1234567890123456", "1234-5678-9***-*456"},
      // A business number whose third digit is 0, 1, 6, 7 or 9 is laid out like a telephone.
      {"1201234567", "120-***-*567"},
      {"1231234567", "123*-***567"},  // laid out as a card number
      // Track data: cut before "=" when longer than 15.
      {"1234567890123456=2512", "1234-5678-9***-*456"},
      {"1234567", "****567"},  // seven characters: masked, too short for dashes
      {"12345", "*****"},      // too short to mask: masked whole
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.received);
    EXPECT_EQ(FormattedIdentificationNumber(c.received), c.printed);
  }
}

TEST(PaymentFieldsTest, CutsOverlongTextsToTheirRoom) {
  PaymentFields payment;
  EXPECT_TRUE(payment.amount1.Set("1234"));
  EXPECT_FALSE(payment.amount1.Set(std::string(25, '9')));
  EXPECT_EQ(payment.amount1.view(), std::string(19, '9'));
  // A two-byte character is never split.
  EXPECT_FALSE(payment.installment_months.Set("1" + Cp("가")));
  EXPECT_EQ(payment.installment_months.view(), "1");
}

}  // namespace
}  // namespace hub::payments
