#include "platform/clock.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>

#include "platform/system_info.h"

namespace platform {
namespace {

class MachineClock final : public Clock {
 public:
  uint32_t Now() override { return GetTickCount(); }
  void Sleep(uint32_t ms) override { SleepMs(ms); }

  bool SleepUnlessWoken(uint32_t ms, const WakeEvent& wake) override {
    const uint32_t start = Now();
    for (;;) {
      const uint32_t waited = Now() - start;
      const uint32_t left = waited >= ms ? 0 : ms - waited;
      pollfd watched{wake.fd(), POLLIN, 0};
      const int ready = poll(&watched, 1, static_cast<int>(std::min<uint32_t>(left, INT_MAX)));
      if (ready > 0) return true;
      if (ready == 0 && left == 0) return false;
      if (ready == 0 || errno == EINTR) continue;  // early by rounding, or a signal
      Sleep(left);                                 // a wake that cannot be watched: the full pause
      return false;
    }
  }

  std::string LocalDate() override {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    return std::string(text, std::strftime(text, sizeof text, "%Y%m%d", &local));
  }
};

}  // namespace

int64_t Clock::WallTimeMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Clock& SystemClock() {
  static MachineClock clock;
  return clock;
}

void ManualClock::Sleep(uint32_t ms) {
  Advance(ms);
  if (on_sleep_) on_sleep_(ms);
}

bool ManualClock::SleepUnlessWoken(uint32_t ms, const WakeEvent& wake) {
  if (wake.Signalled()) return true;
  Sleep(ms);
  return false;
}

std::string ManualClock::LocalDate() {
  std::lock_guard<std::mutex> lock(mutex_);
  return date_;
}

void ManualClock::SetLocalDate(std::string date) {
  std::lock_guard<std::mutex> lock(mutex_);
  date_ = std::move(date);
}

}  // namespace platform
