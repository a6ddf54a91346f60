#include "platform/deadline.h"

#include <climits>

namespace platform {
using SteadyClock = std::chrono::steady_clock;

Deadline Deadline::After(int timeout_ms) {
  return After(std::chrono::milliseconds(timeout_ms));
}

Deadline Deadline::After(std::chrono::milliseconds timeout) {
  Deadline deadline;
  if (timeout.count() >= 0) deadline.at_ = SteadyClock::now() + timeout;
  return deadline;
}

int Deadline::PollTimeout() const {
  if (!at_) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*at_ - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

bool Deadline::Passed() const { return at_ && SteadyClock::now() >= *at_; }

}  // namespace platform
