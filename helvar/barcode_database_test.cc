#include "helvar/barcode_database.h"

#include <gtest/gtest.h>

#include <string>

namespace helvar {
namespace {

using std::string_literals::operator""s;

TEST(BarcodeBuildAnswerTest, CarriesTheChunkCountUnderItsFixedLength) {
  EXPECT_EQ(BarcodeBuildAnswer(1),
            "\x02TavenorGatewayXX0027TRM817\x1C"
            "1\x03\x73\0"s);
  const std::string answer = BarcodeBuildAnswer(12);
  EXPECT_EQ(answer.substr(17, 4), "0027");  // the length field does not follow the count
  EXPECT_EQ(answer.substr(28, 3), "12\x03");
  EXPECT_EQ(answer.back(), '\0');
}

}  // namespace
}  // namespace helvar
