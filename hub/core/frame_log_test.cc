#include "hub/core/frame_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/testing/temp_prefix.h"

namespace hub {
namespace {

TEST(FrameLogTest, WritesMaskedRecordsOnlyWhenLoggingIsOn) {
  platform::testing::TempPrefix prefix;
  const std::string dir = (prefix.path() / "logs").string();
  EXPECT_FALSE(WriteFrameLog({dir, 0}, "PosMessage812", "4111111111111111"));
  EXPECT_FALSE(WriteFrameLog({"", 1}, "PosMessage812", "4111111111111111"));
  EXPECT_FALSE(std::filesystem::exists(dir));
  EXPECT_TRUE(WriteFrameLog({dir, 1}, "PosMessage812", "4111111111111111"));
  EXPECT_TRUE(std::filesystem::exists(dir));
}

}  // namespace
}  // namespace hub
