// Wakes a loop when the shared block holds something for its terminal. The block's writers
// (Helvar in its own process, the hub's dispatcher for the TCP terminal) wake whoever sleeps on
// its status word; a loop sleeps on its own wake event, so this thread sleeps on the word for it
// and passes the wake on. The terminal loops and the remote relay peer loop each keep one beside
// their shared-block view.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "hub/core/helvar_bridge.h"
#include "platform/wake_event.h"

namespace hub {

// How often the watcher's end wakes it again until it has ended.
inline constexpr uint32_t kWatcherEndCheckMs = 1;

class SharedBlockWatcher {
 public:
  // Starts the thread; `wake` is called whenever the block's status is routed to `terminal`.
  // Without a thread (the system refused one) running() is false and nothing wakes the loop:
  // its own longest wait then bounds how late a reply is taken.
  SharedBlockWatcher(const SharedBlock& block, int terminal, std::function<void()> wake);
  // Ends the thread and waits for it. REQUIRES: the block outlives this call.
  ~SharedBlockWatcher();
  SharedBlockWatcher(const SharedBlockWatcher&) = delete;
  SharedBlockWatcher& operator=(const SharedBlockWatcher&) = delete;

  // The loop has looked at the block (and taken what was there): the watcher reads the status
  // again. Until then it does not, so a status left in place (a busy VAN module) does not make
  // it wake the loop over and over.
  void Looked();

  bool running() const { return thread_.joinable(); }

 private:
  void Watch();

  const SharedBlock& block_;
  const int terminal_;
  const std::function<void()> wake_;
  std::atomic<bool> watching_{true};
  std::atomic<uint32_t> looks_{0};
  platform::WakeEvent ended_;
  std::thread thread_;
};

}  // namespace hub
