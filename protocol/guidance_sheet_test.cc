#include "protocol/guidance_sheet.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace protocol::guidance {
namespace {

TEST(PictogramTable, PositionsOfTheRunsAndTheirEnds) {
  struct Case {
    int position;
    std::string_view code;  // empty: none there
  };
  const Case cases[] = {
      {0, ""},     {17, ""},    {18, "F01"}, {22, "F05"}, {23, "F07"}, {25, "F09"}, {26, "F10"},
      {31, "F15"}, {32, "F06"}, {33, "D02"}, {41, "D10"}, {42, "D01"}, {43, "C01"}, {44, "C08"},
      {45, "C09"}, {46, "C06"}, {47, "C07"}, {48, "C02"}, {51, "C05"}, {52, "P07"}, {53, "P01"},
      {58, "P06"}, {59, "S01"}, {60, "S03"}, {62, "S05"}, {63, "I01"}, {66, "I04"}, {67, "S02"},
      {68, ""},    {69, ""},    {70, "S06"}, {71, "P17"}, {78, "P10"}, {79, "P09"}, {80, "P08"},
      {81, "I06"}, {82, "I05"}, {83, "F16"}, {84, "E06"}, {89, "E01"}, {90, "D16"}, {95, "D11"},
      {96, "C18"}, {97, "C17"}, {98, "C16"}, {99, ""},    {-1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PictogramCode(c.position), c.code) << c.position;
    if (!c.code.empty()) {
      EXPECT_EQ(PictogramPosition(c.code), c.position) << c.code;
    }
  }
  EXPECT_EQ(PictogramPosition(""), std::nullopt);
  EXPECT_EQ(PictogramPosition("F17"), std::nullopt);
  EXPECT_EQ(PictogramPosition("f01"), std::nullopt);
}

TEST(PictogramTable, EveryCodeHasOnePosition) {
  std::set<std::string_view> codes;
  int filled = 0;
  for (int position = 0; position < kPictogramPositions; ++position) {
    const std::string_view code = PictogramCode(position);
    if (code.empty()) continue;
    ++filled;
    EXPECT_EQ(code.size(), kPictogramCodeSize) << position;
    EXPECT_TRUE(codes.insert(code).second) << code << " twice";
  }
  EXPECT_EQ(filled, 99 - 18 - 2);  // 0-17, 68 and 69 hold none
}

}  // namespace
}  // namespace protocol::guidance
