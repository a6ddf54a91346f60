// For the hub core's tests: a host window that collects the host notifications the module posts
// to it, and the diagnostic records written below a folder.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hub/core/module_state.h"
#include "platform/testing/temp_prefix.h"
#include "platform/window.h"

namespace hub::testing {

using Notification = std::pair<uint64_t, int64_t>;  // event code, lParam

class TestHostWindow {
 public:
  TestHostWindow() {
    window_ = platform::WindowEndpoint::Create("", "", [this](const platform::WindowMessage& m) {
      if (m.msg == protocol::kHostNotifyMessage) {
        std::lock_guard<std::mutex> lock(mutex_);
        notifications_.emplace_back(m.wparam, m.lparam);
        changed_.notify_all();
      }
      return int64_t{0};
    });
  }
  bool ok() const { return window_ != nullptr; }
  platform::WindowHandle handle() const { return window_->handle(); }
  uint32_t hwnd() const { return window_->hwnd(); }

  // Every notification posted so far: a send is handled after every post queued before it.
  std::vector<Notification> Notifications() {
    platform::SendCopyData(window_->handle(), 0, 0, "fence", nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    return notifications_;
  }

  // True once `count` notifications have arrived, within 30 s.
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return notifications_.size() >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> notifications_;
  // Last, so that it goes first: its thread may be handling a post while the test ends, and the
  // handler uses the members above.
  std::unique_ptr<platform::WindowEndpoint> window_;
};

using platform::testing::ReadFilesBelow;

}  // namespace hub::testing
