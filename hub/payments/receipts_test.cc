#include "hub/payments/receipts.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "protocol/frame.h"
#include "hub/payments/print_entries.h"
#include "hub/payments/test_support.h"

namespace hub::payments {

using namespace protocol;
namespace {

using testing::Amounts;
using testing::Cp;
using testing::Readable;

std::tm Now() {
  std::tm now{};
  now.tm_year = 2026 - 1900;
  now.tm_mon = 11;
  now.tm_mday = 10;
  now.tm_hour = 9;
  now.tm_min = 5;
  now.tm_sec = 3;
  return now;
}

TEST(CashReceiptTest, LaysOutThePrintout) {
  PaymentFields payment = Amounts("9000", "1000", "1000");
  payment.cash_usage_code.Set("00");
  payment.identification.Set("01012345678");
  EXPECT_EQ(Readable(CashReceiptText("12345678", 161, payment, Now())),
            "<현금(소득공제)>\n"
            "      \n"
            "식별    번호 : 010-1***-*678   \n"
            "거 래  일 시 : 2026/12/10  09:05:03\n"
            "      \n"
            "거 래  금 액 : <       10,000원>\n"
            "부   가   세 : <        1,000원>\n"
            "합        계 : <       11,000원>\n"
            "      \n"
            "승 인  번 호 : <12345678>\n"
            "알        림 : \n"
            "상담센터 : Tel.126\n"
            "https://www.hometax.go.kr\n"
            "      \n"
            "<\t\t\t     [회원용]>\n");
}

TEST(CashReceiptTest, TitleAndIdentificationFollowTheRequest) {
  struct Case {
    int code;
    const char* usage;
    const char* identification;
    const char* title;
    const char* identification_line;
  };
  const Case cases[] = {
      {181, "01", "0212345678", "<현금(지출증빙)>", "식별    번호 : 021-***-*678   "},
      {171, "00", "", "<현금 결제 취소>", "식별    번호 : "},
      {183, "01", "", "<현금 결제 취소>", "식별    번호 : "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    PaymentFields payment = Amounts("1", "2", "3");
    payment.cash_usage_code.Set(c.usage);
    payment.identification.Set(c.identification);
    const std::string text = Readable(CashReceiptText("1", c.code, payment, Now()));
    EXPECT_EQ(text.substr(0, text.find('\n')), c.title);
    EXPECT_NE(text.find(std::string("\n") + c.identification_line + "\n"), std::string::npos);
  }
}

TEST(CashReceiptTest, BuildPlacesThePrintoutInTheSendBuffer) {
  auto slot = std::make_unique<RelaySlot>();
  slot->payment = Amounts("9000", "1000", "1000");
  slot->payment.cash_usage_code.Set("00");
  ASSERT_EQ(BuildCashReceipt(*slot, "777", 161), 1);
  EXPECT_EQ(slot->byte_count.load(), 0);
  const std::string placed = Readable(PlacedCashReceipt(*slot));
  EXPECT_EQ(placed.substr(0, placed.find('\n')), "<현금(소득공제)>");
  EXPECT_NE(placed.find("승 인  번 호 : <777>\n"), std::string::npos);
}

PharmacySettings Pharmacy(int payment_path) {
  PharmacySettings settings;
  settings.trade_name = Cp("행복약국");
  settings.owner_name = Cp("김약사");
  settings.area_code = "02";
  settings.telephone = "123-4567";
  settings.business_number = "123-45-67890";
  settings.terminal_id = "T0001";
  settings.business_address = Cp("서울시 중구");
  settings.payment_path = payment_path;
  return settings;
}

ApprovalRecord Approved(std::string_view stamp) {
  ApprovalRecord record{};
  SetRecordText(record, kResponseCode, "0000");
  SetRecordText(record, kVoucherNumber, "0042");
  SetRecordText(record, kTransactionDateTime, stamp);
  SetRecordText(record, kApprovalNumber, "30012345");
  SetRecordText(record, kIssuerName, Cp("신한카드"));
  SetRecordText(record, kMerchantNumber, "0012345678");
  SetRecordText(record, kAcquirerName, Cp("신한카드"));
  SetRecordText(record, kCardNumber, "1234-5678-9012-3456");
  return record;
}

// The lines the two layouts share, between the header and the installment line.
constexpr std::string_view kPharmacyLines =
    "가 맹 점 명 : 행복약국\n"
    "대표자/전화 : 김약사         02-123-4567\n"
    "사업자/단말 : 123-45-67890   T0001\n"
    "가 맹 번 호 : 0012345678\n"
    "주 소 : 서울시 중구\n"
    "      \n"
    "<신한카드>\n"
    "      \n"
    "카드    번호 : 1234-56**-****-3456   **/**\n";

TEST(CardReceiptTest, SignPadLayoutOfAPayment) {
  PaymentFields payment = Amounts("9000", "", "1000");
  payment.installment_months.Set("00");
  const PharmacySettings settings = Pharmacy(2);
  const std::string text = CardReceiptText(Approved("2612 10143015"), 51, payment, settings,
                                           LayoutForPaymentPath(settings.payment_path));
  EXPECT_EQ(Readable(text),
            "<       [신용구매]>\n"
            "\n" +
                std::string(kPharmacyLines) +
                "거 래  일 시 : 2026/12/10    14:30:15\n"
                "할 부  개 월 : 일시불\n"
                "거 래  금 액 : <        9,000원>\n"
                "부   가   세 : <        1,000원>\n"
                "합        계 : <       10,000원>\n"
                "      \n"
                "승 인  번 호 : <30012345>\n"
                "전 표  번 호 : 0000\n"
                "매   입   처 : DESC 전자서명거래\n"
                "\n"
                "\n");
}

TEST(CardReceiptTest, ModuleLayoutOfACancellation) {
  PaymentFields payment = Amounts("9000", "", "1000");
  payment.installment_months.Set("03");
  payment.original_date.Set("261201");
  const std::string text =
      CardReceiptText(Approved("261210143015 "), 71, payment, Pharmacy(1), LayoutForPaymentPath(1));
  EXPECT_EQ(Readable(text), "<      [신용취소]>\n" + std::string(kPharmacyLines) +
                                "거 래  일 시 : 2026/12/10    14:30:15\n"
                                "할 부  개 월 : 03\n"
                                "거 래  금 액 : <      -9,000원>\n"
                                "부   가   세 : <      -1,000원>\n"
                                "합        계 : <     -10,000원>\n"
                                "      \n"
                                "원 거래 일자 : 2026/12/01\n"
                                "승 인  번 호 : <30012345>\n"
                                "전 표  번 호 : 0042\n"
                                "매   입   사 : 신한카드\n"
                                "알        림 : <전자전표>\n");
}

TEST(CardReceiptTest, InstallmentAndOriginalDateEdges) {
  struct Case {
    const char* months;
    const char* date;
    const char* months_line;
    const char* date_line;
  };
  const Case cases[] = {
      {"", "20261201", "할 부  개 월 : 일시불", "원 거래 일자 : 2026/12/01"},
      {" ", "261201", "할 부  개 월 : 일시불", "원 거래 일자 : 2026/12/01"},
      {"  ", "1201", "할 부  개 월 : 일시불", "원 거래 일자 : 1201"},
      {"12", "", "할 부  개 월 : 12", "원 거래 일자 : "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    PaymentFields payment = Amounts("1", "", "0");
    payment.installment_months.Set(c.months);
    payment.original_date.Set(c.date);
    for (CardReceiptLayout layout : {CardReceiptLayout::kSignPad, CardReceiptLayout::kModule}) {
      const std::string text =
          Readable(CardReceiptText(Approved("261210143015"), 63, payment, Pharmacy(0), layout));
      EXPECT_NE(text.find(std::string("\n") + c.months_line + "\n"), std::string::npos);
      EXPECT_NE(text.find(std::string("\n") + c.date_line + "\n"), std::string::npos);
    }
  }
}

TEST(CardReceiptCopiesTest, FramesEachCopyWithItsLabel) {
  struct Case {
    CardReceiptLayout layout;
    std::string tail;
  };
  const Case cases[] = {
      {CardReceiptLayout::kModule, ""},
      {CardReceiptLayout::kSignPad, "<서명>\n\n"},
  };
  for (const Case& c : cases) {
    const std::optional<CardReceiptCopies> copies = CardReceiptFrames("R\n", c.layout);
    ASSERT_TRUE(copies);
    const std::pair<std::string, const char*> expected[] = {{copies->customer, "[ 회원용 ]"},
                                                            {copies->merchant, "[가맹점용]"}};
    for (const auto& [frame, label] : expected) {
      SCOPED_TRACE(label);
      const std::string body = "151\x1c\x1c\x1cPRINTR\n" + std::string(1, kSo) + "            " +
                               Cp(label) + std::string(1, kSi) + "\n" + Cp(c.tail);
      const std::string body_readable = Readable(body);
      ASSERT_EQ(frame.size(), body.size() + 26);
      EXPECT_EQ(frame.substr(0, 17), "\x02TavenorGatewayXX");
      EXPECT_EQ(ReadLengthField(frame), static_cast<int>(body.size() + 23));
      EXPECT_EQ(Readable(frame.substr(24, body.size())), body_readable);
      EXPECT_EQ(frame[frame.size() - 2], kEtx);
      EXPECT_EQ(frame.back(), CheckByte(std::string_view(frame).substr(1, body.size() + 24)));
    }
  }
}

TEST(CardReceiptCopiesTest, FillsBothBuffersSignatureFirst) {
  const CardReceiptCopies copies{"customer-frame", "merchant-frame!"};
  auto slot = std::make_unique<RelaySlot>();
  ASSERT_EQ(FillPrintCopyBuffers(*slot, copies, std::string("SIG")), 1);
  EXPECT_EQ(slot->customer_copy.view(), "SIGcustomer-frame");
  EXPECT_EQ(slot->merchant_copy.view(), "SIGmerchant-frame!");
  EXPECT_EQ(slot->customer_copy.bytes[slot->customer_copy.count], 0);

  ASSERT_EQ(FillPrintCopyBuffers(*slot, copies, std::nullopt), 1);
  EXPECT_EQ(slot->customer_copy.view(), "customer-frame");
  EXPECT_EQ(slot->merchant_copy.view(), "merchant-frame!");

  // A signature that leaves no room for the larger copy and its zero byte is left out of both.
  const size_t room = PrintCopyBuffer::kSize - 1 - copies.merchant.size();
  ASSERT_EQ(FillPrintCopyBuffers(*slot, copies, std::string(room, 's')), 1);
  EXPECT_EQ(slot->merchant_copy.count, PrintCopyBuffer::kSize - 1);
  ASSERT_EQ(FillPrintCopyBuffers(*slot, copies, std::string(room + 1, 's')), 1);
  EXPECT_EQ(slot->customer_copy.view(), "customer-frame");
  EXPECT_EQ(slot->merchant_copy.view(), "merchant-frame!");

  // A copy that does not fit a buffer at all: nothing is filled.
  const CardReceiptCopies huge{std::string(PrintCopyBuffer::kSize, 'c'), "m"};
  EXPECT_EQ(FillPrintCopyBuffers(*slot, huge, std::nullopt), 0);
  EXPECT_EQ(slot->customer_copy.count, 0);
  EXPECT_EQ(slot->merchant_copy.count, 0);
}

}  // namespace
}  // namespace hub::payments
