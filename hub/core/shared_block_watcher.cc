#include "hub/core/shared_block_watcher.h"

#include <system_error>
#include <utility>

#include "platform/clock.h"

namespace hub {

SharedBlockWatcher::SharedBlockWatcher(const SharedBlock& block, int terminal,
                                       std::function<void()> wake)
    : block_(block), terminal_(terminal), wake_(std::move(wake)) {
  try {
    thread_ = std::thread(&SharedBlockWatcher::Watch, this);
  } catch (const std::system_error&) {
    watching_.store(false, std::memory_order_release);
  }
}

SharedBlockWatcher::~SharedBlockWatcher() {
  if (!thread_.joinable()) return;
  watching_.store(false, std::memory_order_release);
  // A wake given just before the watcher went to sleep would be lost: wake until it has ended.
  do {
    block_.WakeStatusWaiters();
    Looked();
  } while (!platform::SystemClock().SleepUnlessWoken(kWatcherEndCheckMs, ended_));
  thread_.join();
}

void SharedBlockWatcher::Looked() {
  looks_.fetch_add(1, std::memory_order_acq_rel);
  looks_.notify_all();
}

// Sleeps on the block's status word and wakes the loop when the status names this terminal. It
// then waits for the loop to have looked at the block before it reads the status again: a reply
// taken and followed by the next one with the same status, all before this thread slept on the
// word, would leave it asleep on an unchanged value whose wake has already been given.
void SharedBlockWatcher::Watch() {
  while (watching_.load(std::memory_order_acquire)) {
    const int32_t seen = block_.status();
    if (SharedBlock::RoutedTo(seen, terminal_)) {
      const uint32_t looks = looks_.load(std::memory_order_acquire);
      wake_();
      looks_.wait(looks, std::memory_order_acquire);
      continue;
    }
    block_.WaitWhileStatus(seen, -1);
  }
  ended_.Signal();
}

}  // namespace hub
