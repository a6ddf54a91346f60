#include "hub/payments/bill_rewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "hub/payments/test_support.h"

namespace hub::payments {
namespace {

using testing::Cp;
using testing::Readable;

PharmacySettings Pharmacy(int program_index) {
  PharmacySettings settings;
  settings.business_number = "123-45-67890";
  settings.trade_name = Cp("행복약국");
  settings.owner_name = Cp("김약사");
  settings.program_index = program_index;
  return settings;
}

// The identity block of Pharmacy(), readable: RS and US shown as [ and ].
constexpr std::string_view kBlock =
    "[17사업자번호 : 123-45-67890    \n"
    "상      호 : 행복약국\n"
    "성      명 : 김약사 \n"
    "   ]";

std::string Rewritten(int program_index, std::string_view utf8_bill) {
  return Readable(RewriteBill(Cp(utf8_bill), Pharmacy(program_index)));
}

TEST(BillRewriteTest, ReplacesTheIdentityLinesOfEachProgram) {
  const std::string block(kBlock);
  struct Case {
    const char* what;
    int index;
    const char* bill;
    std::string expected;
  };
  const Case cases[] = {
      {"index 0", 0,
       "약제비 계산서\n상      호 : 옛약국\n사업자등록번호 : 999\n성      명 : 홍길동\n"
       "사업장소재지 : 서울",
       "약제비 계산서\n" + block + "\n사업장소재지 : 서울\n"},
      {"a line both dropped and marked is dropped", 1,
       "상      호 : 옛약국 사업장소재지\n사업장소재지 : 서울", block + "\n사업장소재지 : 서울\n"},
      {"index 5 keeps the patient's name", 5,
       "상호 : 옛약국\n사업자등록번호 : 999\n환자성명 : 이환자\n성명 : 홍길동\n사업장  소재지 : "
       "서울",
       "환자성명 : 이환자\n" + block + "\n사업장  소재지 : 서울\n"},
      {"index 6", 6, "상          호 : 옛약국\n대    표    자 : 홍\n사업장  소재지 : 서울",
       block + "\n사업장  소재지 : 서울\n"},
      {"index 7: two spaces in the address label", 7,
       "성          명 : 홍\n사업장 소재지 : 서울\n사업장  소재지 : 부산",
       "사업장 소재지 : 서울\n" + block + "\n사업장  소재지 : 부산\n"},
      {"index 13: one space", 13, "사업장 소재지 : 서울\n사업장  소재지 : 부산",
       block + "\n사업장 소재지 : 서울\n사업장  소재지 : 부산\n"},
      {"index 8", 8, "약국명 : 옛약국\n약사명 : 홍\n사업장소재지 : 서울",
       block + "\n사업장소재지 : 서울\n"},
      {"index 11 puts the block in the owner's place", 11,
       "상호           : 옛약국\n성명           : 홍길동\n주소 : 서울", block + "\n주소 : 서울\n"},
      {"index 12 closes up the patient's name", 12,
       "사업자번호 : 999\n* 환 자 성 명 : 홍 길 동 님\n사업장주소 : 서울",
       "* 환 자 성 명 : 홍길동님\n" + block + "\n사업장주소 : 서울\n"},
      {"index 15", 15, "상      호 : 옛약국\n소  재  지 : 서울", block + "\n소  재  지 : 서울\n"},
      {"index 16 keeps the owner's line", 16, "상          호 : 옛약국\n성          명 : 홍",
       block + "\n성          명 : 홍\n"},
      {"an index without rules uses index 3's", 42,
       "상  호 : 옛약국\n대표자 : 홍\n사업장소재지 : 서울\n", block + "\n사업장소재지 : 서울\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Rewritten(c.index, c.bill), c.expected);
  }
}

TEST(BillRewriteTest, IndexTwoHighlightsTheTitleAndWritesTheBlockOnce) {
  const std::string bill =
      "  [약제비 계산서] 영수증\n"
      "상        호 : 옛약국\n"
      "성        명 : 홍길동\n"
      "발   행   일 : 2026-12-10\n"
      "사업장소재지 : 서울";
  EXPECT_EQ(Rewritten(2, bill),
            "<약제비 계산서] 영수증>\n"
            "          \n" +
                std::string(kBlock) +
                "\n"
                "발   행   일 : 2026-12-10\n"
                "\n"
                "사업장소재지 : 서울\n");
}

TEST(BillRewriteTest, ABillWithoutIdentityLinesIsPrintedAsReceived) {
  for (int index : {0, 2, 3, 11, 12}) {
    SCOPED_TRACE(index);
    const std::string bill = Cp("처방전\n약품명 : 타이레놀\n\n");
    EXPECT_EQ(RewriteBill(bill, Pharmacy(index)), bill);
  }
  EXPECT_EQ(RewriteBill("", Pharmacy(0)), "");
}

TEST(BillRewriteTest, IdentityLinesWithoutAPlaceForTheBlockArePrintedAsReceived) {
  // The address line the block goes before is missing, or spelt otherwise than the program's
  // rules say: dropping the identity lines would leave a bill that names no pharmacy.
  const struct {
    int index;
    const char* bill;
  } cases[] = {
      {0, "상      호 : 옛약국\n성      명 : 홍길동\n"},
      {6, "상          호 : 옛약국\n대    표    자 : 홍\n사업장소재지 : 서울"},
      {5, "상호 : 옛약국\n성명 : 홍길동\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    const std::string bill = Cp(c.bill);
    EXPECT_EQ(RewriteBill(bill, Pharmacy(c.index)), bill);
  }
}

TEST(BillRewriteTest, TheNameLineIsCutToThirtyFourBytesBetweenCharacters) {
  PharmacySettings settings = Pharmacy(0);
  // "상      호 : " is 13 bytes; eleven two-byte characters would end at byte 35.
  settings.trade_name = Cp("가나다라마바사아자차카");
  EXPECT_EQ(Readable(IdentityBlock(settings)),
            "[17사업자번호 : 123-45-67890    \n"
            "상      호 : 가나다라마바사아자차\n"
            "성      명 : 김약사 \n"
            "   ]");
}

}  // namespace
}  // namespace hub::payments
