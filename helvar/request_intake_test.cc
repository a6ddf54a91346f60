#include "helvar/request_intake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file_mapping.h"
#include "platform/testing/temp_prefix.h"

namespace helvar {
namespace {

struct IntakeCase {
  const char* what;
  uint64_t code;
  std::string payload;
  int32_t want_code;
  std::string want_data;
};

TEST(TakeCopyDataTest, ForwardedBarcodesAreNormalisedAndLookedUp) {
  const std::vector<IntakeCase> cases = {
      {"13 digits with 880", 5, "PM20008801234567890\r", 705, "8801234567890"},
      {"880 after a leading digit", 5, "PM200098801234567890\r", 705, "8801234567890"},
      {"880 beyond position 3", 5, "PM20001234880567\r", 705, "1234880567"},
      {"GS1 element string", 5, "PM2000010880123456789017250131102\r", 705, "8801234567890"},
      {"digits with letters", 5, "PM200012AB\r", 705, "12AB\r"},
      {"one digit", 5, "PM20007\r", 705, "7"},
      {"two digits", 5, "PM200088\r", 705, "88"},
      {"no carriage return", 5, "PM20008809876543210", 705, "8809876543210"},
      {"mark inside the data", 5, "xxPM2000880111\r", 705, "880111"},
      {"plain request", 301, "", 301, ""},
      {"bytes kept exactly", 800, std::string("a\0b\x1C", 4), 800, std::string("a\0b\x1C", 4)},
  };
  for (const IntakeCase& c : cases) {
    const Request request = TakeCopyData(c.code, c.payload);
    EXPECT_EQ(request.code, c.want_code) << c.what;
    EXPECT_EQ(request.data, c.want_data) << c.what;
  }
}

TEST(TakeCopyDataTest, CodeZeroReadsTheMemoryMapAndIsIgnoredWithoutIt) {
  platform::testing::TempPrefix prefix;
  EXPECT_EQ(TakeCopyData(0, "").code, 0);

  auto map = platform::FileMapping::CreateOrOpen(kMemoryMapName, kMemoryMapSize);
  ASSERT_NE(map, nullptr);
  const int32_t code = 301;
  std::memcpy(map->data(), &code, sizeof code);
  // A data field without its terminator is read up to its 20 bytes.
  std::memset(map->data() + kMemoryMapDataOffset, 'D', kMemoryMapDataRoom);
  std::memcpy(map->data() + kMemoryMapAuxOffset, "aux text", 9);
  const Request request = TakeCopyData(0, "ignored");
  EXPECT_EQ(request.code, 301);
  EXPECT_EQ(request.data, std::string(20, 'D'));
  EXPECT_EQ(request.aux2, "aux text");
}

}  // namespace
}  // namespace helvar
