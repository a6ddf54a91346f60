#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace platform {
namespace {

// A SIGTERM sent to the process is taken through the descriptor instead of ending it.
TEST(StopSignalsTest, TermAndIntArriveAsReadableEvents) {
  std::unique_ptr<StopSignals> stop = StopSignals::Block();
  ASSERT_NE(stop, nullptr);
  EXPECT_FALSE(stop->Wait(0));
  EXPECT_EQ(stop->Take(), 0);
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_TRUE(stop->Wait(5000));
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  EXPECT_TRUE(stop->Wait(5000));
  EXPECT_FALSE(stop->Wait(0));
}

}  // namespace
}  // namespace platform
