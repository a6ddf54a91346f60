#include "platform/sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/address_wait.h"
#include "platform/named_object.h"

namespace platform {
namespace {

using internal::SharedFile;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kEventKind = "events";
constexpr std::string_view kMutexKind = "mutexes";

// The event's shared state word, the first four bytes of its file.
constexpr uint32_t kNotSet = 0;
constexpr uint32_t kSet = 1;
constexpr size_t kEventFileSize = sizeof(uint32_t);

// How often a timed Lock tries the file lock again while another holder has it.
constexpr auto kLockRetry = std::chrono::milliseconds(2);

class PosixNamedEvent final : public NamedEvent {
 public:
  explicit PosixNamedEvent(std::unique_ptr<SharedFile> file) : file_(std::move(file)) {
    static_assert(std::atomic_ref<uint32_t>::is_always_lock_free);
  }

  void Set() override {
    State().store(kSet, std::memory_order_release);
    WakeByAddressAll(Word());  // the word lies in a shared file: waiters in other processes wake
  }

  void Reset() override { State().store(kNotSet, std::memory_order_release); }

  bool IsSet() const override { return State().load(std::memory_order_acquire) != kNotSet; }

  bool Wait(int timeout_ms) override { return WaitUnlessStopped(timeout_ms, nullptr); }

  bool WaitUnlessStopped(int timeout_ms, const uint32_t* stop) override {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!IsSet()) {
      if (stop != nullptr && __atomic_load_n(stop, __ATOMIC_ACQUIRE) != 0) return false;
      int left_ms = -1;
      if (timeout_ms >= 0) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        left_ms = static_cast<int>(std::min<int64_t>(left, INT_MAX));
      }
      // Sleeps only while the word still reads "not set" (and `stop` 0); Set wakes it.
      if (stop == nullptr) {
        WaitOnAddress(Word(), kNotSet, left_ms);
      } else {
        const WordWait words[] = {{Word(), kNotSet}, {stop, 0}};
        WaitOnAddresses(words, left_ms);
      }
    }
    return true;
  }

 private:
  uint32_t* Word() const { return reinterpret_cast<uint32_t*>(file_->data()); }
  std::atomic_ref<uint32_t> State() const { return std::atomic_ref<uint32_t>(*Word()); }

  std::unique_ptr<SharedFile> file_;
};

std::unique_ptr<NamedEvent> WrapEvent(std::unique_ptr<SharedFile> file) {
  if (!file) return nullptr;
  return std::make_unique<PosixNamedEvent>(std::move(file));
}

// Each object has its own open file description, so two objects of one name exclude each other
// even inside one process; `local_` orders the threads that share one object.
class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(UniqueFd fd) : fd_(std::move(fd)) {}

  ~PosixNamedMutex() override {
    while (owner_.load() == std::this_thread::get_id()) Unlock();
  }

  bool Lock(int timeout_ms) override {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    if (timeout_ms < 0) {
      local_.lock();
    } else if (!local_.try_lock_until(deadline)) {
      return false;
    }
    if (depth_ == 0 && !LockFile(timeout_ms, deadline)) {
      local_.unlock();
      return false;
    }
    ++depth_;
    owner_.store(std::this_thread::get_id());
    return true;
  }

  void Unlock() override {
    if (owner_.load() != std::this_thread::get_id()) return;
    if (--depth_ == 0) {
      owner_.store(std::thread::id());
      internal::FlockRetrying(fd_.get(), LOCK_UN);
    }
    local_.unlock();
  }

 private:
  // REQUIRES: local_ is held by the calling thread.
  bool LockFile(int timeout_ms, Clock::time_point deadline) {
    if (timeout_ms < 0) return internal::FlockRetrying(fd_.get(), LOCK_EX) == 0;
    while (internal::FlockRetrying(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return false;
      const Clock::time_point now = Clock::now();
      if (now >= deadline) return false;
      std::this_thread::sleep_for(std::min<Clock::duration>(kLockRetry, deadline - now));
    }
    return true;
  }

  UniqueFd fd_;
  std::recursive_timed_mutex local_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  // GUARDED_BY(local_)
};

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::CreateOrOpen(std::string_view name) {
  return WrapEvent(
      SharedFile::Open(kEventKind, name, kEventFileSize, SharedFile::Mode::kCreateOrOpen));
}

std::unique_ptr<NamedEvent> NamedEvent::OpenExisting(std::string_view name) {
  return WrapEvent(
      SharedFile::Open(kEventKind, name, kEventFileSize, SharedFile::Mode::kOpenExisting));
}

std::unique_ptr<NamedMutex> NamedMutex::Open(std::string_view name) {
  std::optional<std::filesystem::path> path = internal::ObjectPath(kMutexKind, name);
  if (!path) return nullptr;
  UniqueFd fd(open(path->c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return nullptr;
  return std::make_unique<PosixNamedMutex>(std::move(fd));
}

std::unique_ptr<NamedMutex> ClaimSingleInstance(std::string_view name) {
  std::unique_ptr<NamedMutex> mutex = NamedMutex::Open(name);
  if (!mutex || !mutex->Lock(0)) return nullptr;
  return mutex;
}

}  // namespace platform
