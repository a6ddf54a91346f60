#include "helvar/customer_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companions/util/ordella_util.h"
#include "helvar/test_support.h"

namespace helvar {
namespace {

using testing::Cp;

struct PackCase {
  std::string text;
  std::string packed;
};

TEST(PackDigitsTest, PacksPairsHighHalfFirstAndCountsOtherCharactersAsZero) {
  const std::vector<PackCase> cases = {
      {"1234", "\x12\x34"},
      {"  12", std::string("\x00\x12", 2)},
      {"AbF9", "\xAB\xF9"},
      {"G1-5", std::string("\x01\x05", 2)},
      {"123", std::string("\x12\x30", 2)},
  };
  for (const PackCase& c : cases) EXPECT_EQ(PackDigits(c.text), c.packed) << c.text;
}

TEST(CustomerRecordTest, ShortRecordPacksKeyDateAndNumberAndCutsTheName) {
  const std::string record =
      ShortCustomerRecord("202405020001", "HONGGILDONG", "8001011234567", "3500");
  const std::string expected = std::string("\x00\x00\x00\x00\x20\x24\x05\x02\x00\x01", 10) +
                               "HONGGILD" + std::string("\x80\x01\x01", 3) +
                               std::string("\x00\x00\x00\x00\x35\x00", 6) + "\x1C";
  EXPECT_EQ(record, expected);
}

TEST(CustomerRecordTest, NameIsPaddedAndNeverEndsInsideATwoByteCharacter) {
  struct NameCase {
    std::string name;
    std::string field;
  };
  const std::vector<NameCase> cases = {
      {"KIM", "KIM     "},
      {Cp("홍길동"), Cp("홍길동") + "  "},
      {Cp("a가나다라"), Cp("a가나다") + " "},
  };
  for (const NameCase& c : cases) {
    const std::string record = ShortCustomerRecord("1", c.name, "1", "1");
    ASSERT_EQ(record.size(), 28u);
    EXPECT_EQ(record.substr(10, 8), c.field);
  }
}

TEST(CustomerRecordTest, LongRecordCarriesTheFifthTextFilledWithF) {
  const std::string record =
      LongCustomerRecord("202405020002", "KIM", "9203152345678", "4200", "01012345678");
  ASSERT_EQ(record.size(), 56u);
  EXPECT_EQ(record.substr(0, 27),
            ShortCustomerRecord("202405020002", "KIM", "9203152345678", "4200").substr(0, 27));
  EXPECT_EQ(record.substr(27, 6), std::string(6, '\0'));
  EXPECT_EQ(record.substr(33, 12), std::string(6, '\xFF') + "\xF0\x10\x12\x34\x56\x78");
  EXPECT_EQ(record.substr(45, 10), std::string(10, '\0'));
  EXPECT_EQ(record.back(), '\x1C');
}

TEST(CheckByteTest, IsTheExclusiveOrWithBit0x20SetAndAgreesWithTheUtilityLibrary) {
  EXPECT_EQ(Pm2000CheckByte("AB\x03"), 0x20);
  EXPECT_EQ(Pm2000CheckByte("TRM821\x03"), ('T' ^ 'R' ^ 'M' ^ '8' ^ '2' ^ '1' ^ 0x03) | 0x20);
  const std::string frame =
      CustomerListFrame(821, {ShortCustomerRecord("9", "X", "1", "0")}, CheckKind::kPm2000);
  const std::string checked = frame.substr(1, frame.size() - 2);
  EXPECT_EQ(static_cast<unsigned char>(frame.back()),
            UtilCheckByte(reinterpret_cast<const unsigned char*>(checked.data()),
                          static_cast<int>(checked.size())));
}

// The frame's fixed parts: STX, routing, length of STX through ETX, code, count, ETX, check.
void ExpectFrame(const std::string& frame, const std::string& code, const std::string& body) {
  ASSERT_GT(frame.size(), 28u);
  EXPECT_EQ(frame.substr(0, 17), "\x02TavenorGatewayXX");
  EXPECT_EQ(frame.substr(17, 4), platform::ZeroPadded(static_cast<long long>(frame.size() - 1), 4));
  EXPECT_EQ(frame.substr(21, 7), "TRM" + code + "\x1C");
  EXPECT_EQ(frame.substr(28, frame.size() - 30), body);
  EXPECT_EQ(frame[frame.size() - 2], '\x03');
  EXPECT_EQ(static_cast<unsigned char>(frame.back()),
            Pm2000CheckByte(frame.substr(1, frame.size() - 2)));
}

TEST(CustomerListFrameTest, FramesRecordsAndTheFixedBodies) {
  const std::string a = ShortCustomerRecord("1", "A", "1", "0");
  const std::string b = ShortCustomerRecord("2", "B", "2", "0");
  ExpectFrame(CustomerListFrame(811, {a, b}, CheckKind::kPm2000), "811", "02\x1C" + a + b);
  ExpectFrame(NoCustomerFrame(821, CheckKind::kPm2000), "821",
              "00\x1C" + Cp("   선택가능한    고객이 없습니다.") + "\x1C");
  ExpectFrame(Pm2000FailureFrame(881), "881",
              "00\x1C" + Cp("   PM2000연동    장애 발생!  ") + "\x1C");
}

TEST(CustomerListFrameTest, CountFieldHoldsAtMost99Records) {
  const std::vector<std::string> records(120, ShortCustomerRecord("1", "A", "1", "0"));
  const std::string frame = CustomerListFrame(881, records, CheckKind::kPm2000);
  EXPECT_EQ(frame.substr(28, 3), "99\x1C");
  EXPECT_EQ(frame.size(), 31u + 99 * 28 + 2);
}

}  // namespace
}  // namespace helvar
