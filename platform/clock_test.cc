#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(ClockTest, ManualTimeMovesOnlyBySleepsAndAdvances) {
  ManualClock clock(UINT32_MAX - 5);
  const uint32_t start = clock.Now();
  clock.Sleep(4);
  clock.Advance(6);
  EXPECT_EQ(static_cast<uint32_t>(clock.Now() - start), 10u);     // across the wrap, as tick counts
  EXPECT_EQ(clock.WallTimeMs(), ManualClock::kWallStartMs + 10);  // no wrap on the wall clock

  WakeEvent wake;
  EXPECT_FALSE(clock.SleepUnlessWoken(30, wake));
  EXPECT_EQ(static_cast<uint32_t>(clock.Now() - start), 40u);
  wake.Signal();
  EXPECT_TRUE(clock.SleepUnlessWoken(30, wake));  // woken at once: no time passes
  EXPECT_EQ(static_cast<uint32_t>(clock.Now() - start), 40u);
  wake.Clear();
  EXPECT_FALSE(clock.SleepUnlessWoken(0, wake));

  std::vector<uint32_t> pauses;
  clock.OnSleep([&](uint32_t ms) { pauses.push_back(ms); });
  clock.Sleep(7);
  clock.Advance(1);
  EXPECT_FALSE(clock.SleepUnlessWoken(9, wake));
  EXPECT_EQ(pauses, (std::vector<uint32_t>{7, 9}));  // the pauses, not the advances

  EXPECT_EQ(clock.LocalDate(), "20300101");
  clock.SetLocalDate("20300102");
  EXPECT_EQ(clock.LocalDate(), "20300102");

  clock.SetWallTimeMs(5000);  // the machine's time set back: the ticks run on
  const uint32_t ticks = clock.Now();
  clock.Advance(3);
  EXPECT_EQ(clock.WallTimeMs(), 5003);
  EXPECT_EQ(clock.Now() - ticks, 3u);
}

TEST(ClockTest, TheSystemClocksPauseEndsWhenWoken) {
  WakeEvent wake;
  bool woken = false;
  std::thread sleeper([&] { woken = SystemClock().SleepUnlessWoken(60 * 60 * 1000, wake); });
  wake.Signal();
  sleeper.join();
  EXPECT_TRUE(woken);
  EXPECT_FALSE(SystemClock().SleepUnlessWoken(0, WakeEvent()));
}

}  // namespace
}  // namespace platform
