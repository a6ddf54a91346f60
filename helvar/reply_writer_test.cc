#include "helvar/reply_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "helvar/test_support.h"
#include "hub/core/helvar_bridge.h"
#include "platform/testing/temp_prefix.h"

namespace helvar {
namespace {

using testing::HubBlock;

class ReplyWriterTest : public ::testing::Test {
 protected:
  platform::testing::TempPrefix prefix_;
};

TEST_F(ReplyWriterTest, WritesLengthAndBytesAndTheStatusTheHubRoutes) {
  HubBlock block;
  ASSERT_TRUE(block.ok());
  const std::string reply("\x02TRM821\x1C\x00\x03", 10);
  ASSERT_EQ(WriteReply(reply, 301), 1);
  EXPECT_EQ(block.status(), 301);
  EXPECT_EQ(block.length_text(), "10");
  EXPECT_EQ(block.data(), reply);
}

TEST_F(ReplyWriterTest, WithoutTheBlockOrWithTooManyBytesNothingIsWritten) {
  EXPECT_EQ(WriteReply("abc", 301), 0);  // nobody holds the block
  HubBlock block;
  ASSERT_TRUE(block.ok());
  EXPECT_EQ(WriteReply(std::string(hub::kSharedDataRoom + 1, 'x'), 301), 0);
  EXPECT_EQ(block.status(), 0);
  EXPECT_EQ(block.length_text(), "");
}

TEST_F(ReplyWriterTest, WaitsForAReplyNotYetTakenThenOverwritesIt) {
  HubBlock block;
  ASSERT_TRUE(block.ok());
  ASSERT_EQ(WriteReply("first", 250), 1);
  int naps = 0;
  platform::ManualClock clock;
  clock.OnSleep([&naps](uint32_t) { ++naps; });
  ReplyWait wait;
  wait.clock = &clock;
  ASSERT_EQ(WriteReply("second", 302, wait), 1);
  EXPECT_EQ(naps, 100);
  EXPECT_EQ(block.status(), 302);
  EXPECT_EQ(block.data(), "second");
}

TEST_F(ReplyWriterTest, WritesAsSoonAsTheHubTakesThePreviousReply) {
  HubBlock block;
  ASSERT_TRUE(block.ok());
  block.set_status(300);
  int naps = 0;
  platform::ManualClock clock;
  clock.OnSleep([&](uint32_t) {
    if (++naps == 3) block.set_status(0);  // the terminal loop takes it
  });
  ReplyWait wait;
  wait.clock = &clock;
  ASSERT_EQ(WriteReply("next", 301, wait), 1);
  EXPECT_EQ(naps, 3);
  EXPECT_EQ(block.status(), 301);
  EXPECT_EQ(block.data(), "next");
}

}  // namespace
}  // namespace helvar
