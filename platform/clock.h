// The one clock of the system: the tick count the loops measure with, their pauses, and the
// local date the day's files and rows are named by. The system's clock runs on its own; a
// manual clock moves only when someone sleeps on it or a test advances it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "platform/wake_event.h"

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since an arbitrary start, wrapping at 2^32 as GetTickCount does; measure
  // with unsigned differences.
  virtual uint32_t Now() = 0;
  // Pauses for `ms` milliseconds.
  virtual void Sleep(uint32_t ms) = 0;
  // Pauses for `ms` milliseconds or until `wake` is signalled, whichever comes first; true when
  // woken. The event stays signalled (Clear takes it back).
  virtual bool SleepUnlessWoken(uint32_t ms, const WakeEvent& wake) = 0;
  // Today's local date, "yyyymmdd".
  virtual std::string LocalDate() = 0;
  // Wall-clock time: milliseconds since 1970-01-01 00:00 UTC, for what must be compared across
  // a restart of the process or the machine (the tick count starts afresh). It steps when the
  // machine's time is set. By default the machine's own.
  virtual int64_t WallTimeMs();
};

// The machine's clock (CLOCK_MONOTONIC ticks, local time zone).
Clock& SystemClock();

// Time moves only when something sleeps on it or the test says so; thread-safe. A wake that is
// already signalled ends a pause without moving time. A test can act at each pause (what another
// thread or process does meanwhile) through OnSleep.
class ManualClock final : public Clock {
 public:
  // The wall time starts at 2030-01-01 00:00 UTC and moves with the tick count.
  static constexpr int64_t kWallStartMs = 1893456000000;

  explicit ManualClock(uint32_t now = 100000, std::string date = "20300101")
      : now_(now), date_(std::move(date)) {}

  uint32_t Now() override { return now_.load(std::memory_order_acquire); }
  void Sleep(uint32_t ms) override;
  bool SleepUnlessWoken(uint32_t ms, const WakeEvent& wake) override;
  std::string LocalDate() override;
  int64_t WallTimeMs() override { return wall_ms_.load(std::memory_order_acquire); }

  void Advance(uint32_t ms) {
    now_.fetch_add(ms, std::memory_order_acq_rel);
    wall_ms_.fetch_add(ms, std::memory_order_acq_rel);
  }
  void SetLocalDate(std::string date);
  // Sets the wall time alone, as when the machine's time is set (the tick count runs on).
  void SetWallTimeMs(int64_t ms) { wall_ms_.store(ms, std::memory_order_release); }
  // Called after time has moved for each pause, with its length. Set before the clock is used.
  void OnSleep(std::function<void(uint32_t ms)> step) { on_sleep_ = std::move(step); }

 private:
  std::atomic<uint32_t> now_;
  std::atomic<int64_t> wall_ms_{kWallStartMs};
  std::mutex mutex_;
  std::string date_;  // GUARDED_BY(mutex_)
  std::function<void(uint32_t ms)> on_sleep_;
};

}  // namespace platform
