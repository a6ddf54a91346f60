#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/address_wait.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {

using testing::ChildProcess;
using testing::StartPeer;

// Long enough never to pass in a healthy run; a broken wake-up fails instead of hanging.
constexpr int kPatienceMs = 30000;
constexpr char kEventName[] = "UPDATE_ORDELLA_EVENT";

class NamedEventTest : public ::testing::Test {
 protected:
  testing::TempPrefix prefix_;
};

TEST_F(NamedEventTest, ManualResetEventStaysSetUntilReset) {
  std::unique_ptr<NamedEvent> event = NamedEvent::CreateOrOpen(kEventName);
  ASSERT_NE(event, nullptr);
  std::unique_ptr<NamedEvent> other = NamedEvent::OpenExisting(kEventName);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(other->IsSet());
  EXPECT_FALSE(other->Wait(0));
  EXPECT_FALSE(other->Wait(20));

  event->Set();
  EXPECT_TRUE(other->IsSet());
  EXPECT_TRUE(other->Wait(0));
  EXPECT_TRUE(other->Wait(0)) << "a manual-reset event is not consumed by a wait";

  other->Reset();
  EXPECT_FALSE(event->IsSet());
  EXPECT_FALSE(event->Wait(20));
}

TEST_F(NamedEventTest, SetWakesEveryWaiter) {
  std::unique_ptr<NamedEvent> event = NamedEvent::CreateOrOpen(kEventName);
  ASSERT_NE(event, nullptr);
  std::vector<std::thread> waiters;
  std::vector<int> woke(3, 0);
  for (size_t i = 0; i < woke.size(); ++i) {
    waiters.emplace_back([&, i] {
      std::unique_ptr<NamedEvent> mine = NamedEvent::OpenExisting(kEventName);
      woke[i] = mine != nullptr && mine->Wait(kPatienceMs);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let them block
  event->Set();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(woke, std::vector<int>(3, 1));
}

TEST_F(NamedEventTest, SignalNobodyHeldIsNotSeenByTheNextRun) {
  {
    std::unique_ptr<NamedEvent> closing = NamedEvent::CreateOrOpen(kEventName);
    ASSERT_NE(closing, nullptr);
    closing->Set();  // the module closed while the service was not running
  }
  EXPECT_EQ(NamedEvent::OpenExisting(kEventName), nullptr);
  std::unique_ptr<NamedEvent> next = NamedEvent::CreateOrOpen(kEventName);
  ASSERT_NE(next, nullptr);
  EXPECT_FALSE(next->IsSet()) << "the next service start would close at once";
}

TEST_F(NamedEventTest, SetInOneProcessWakesAWaitInTheOther) {
  std::unique_ptr<NamedEvent> event = NamedEvent::CreateOrOpen(kEventName);
  ASSERT_NE(event, nullptr);
  std::unique_ptr<ChildProcess> setter = StartPeer({"set-event", kEventName});
  ASSERT_NE(setter, nullptr);
  EXPECT_TRUE(event->Wait(kPatienceMs));
  EXPECT_EQ(setter->Wait(), 0);

  event->Reset();
  std::unique_ptr<ChildProcess> waiter =
      StartPeer({"wait-event", kEventName, std::to_string(kPatienceMs)});
  ASSERT_NE(waiter, nullptr);
  ASSERT_EQ(waiter->ReadLine(), "waiting");
  event->Set();
  EXPECT_EQ(waiter->Wait(kPatienceMs), 0);
}

TEST_F(NamedEventTest, AWaitWithoutLimitEndsWhenItsStopWordIsWoken) {
  std::unique_ptr<NamedEvent> event = NamedEvent::CreateOrOpen(kEventName);
  ASSERT_NE(event, nullptr);
  alignas(std::atomic_ref<uint32_t>::required_alignment) uint32_t stop = 0;
  std::promise<bool> result;
  std::future<bool> waited = result.get_future();
  std::thread waiter([&] { result.set_value(event->WaitUnlessStopped(-1, &stop)); });
  std::atomic_ref<uint32_t>(stop).store(1, std::memory_order_release);
  WakeByAddressAll(&stop);
  const bool ended = waited.wait_for(std::chrono::milliseconds(kPatienceMs)) ==
                     std::future_status::ready;
  if (!ended) event->Set();  // lets the waiter go, so that the test can end
  waiter.join();
  ASSERT_TRUE(ended) << "the stop word's wake was missed";
  EXPECT_FALSE(waited.get()) << "the event was never set";

  // A stop given before the wait ends it at once; a set event still wins.
  EXPECT_FALSE(event->WaitUnlessStopped(-1, &stop));
  event->Set();
  EXPECT_TRUE(event->WaitUnlessStopped(-1, &stop));
}

class NamedMutexTest : public ::testing::Test {
 protected:
  testing::TempPrefix prefix_;
};

TEST_F(NamedMutexTest, ObjectsOfOneNameExcludeEachOtherInOneProcess) {
  std::unique_ptr<NamedMutex> first = NamedMutex::Open("DATABASE SYNC");
  std::unique_ptr<NamedMutex> second = NamedMutex::Open("DATABASE SYNC");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(first->Lock(0));
  EXPECT_FALSE(second->Lock(0));
  EXPECT_FALSE(second->Lock(30));

  EXPECT_TRUE(first->Lock(0)) << "the owner may lock again";
  first->Unlock();
  EXPECT_FALSE(second->Lock(0)) << "still owned once";
  first->Unlock();
  EXPECT_TRUE(second->Lock(0));
  EXPECT_FALSE(first->Lock(0));
}

TEST_F(NamedMutexTest, ThreadsSharingOneObjectExcludeEachOther) {
  std::unique_ptr<NamedMutex> shared = NamedMutex::Open("DATABASE SYNC");
  ASSERT_NE(shared, nullptr);
  ASSERT_TRUE(shared->Lock(0));
  bool other_got_it = true;
  std::thread([&] {
    other_got_it = shared->Lock(0);
    shared->Unlock();  // not the owner: does nothing
  }).join();
  EXPECT_FALSE(other_got_it);
  std::unique_ptr<NamedMutex> probe = NamedMutex::Open("DATABASE SYNC");
  EXPECT_FALSE(probe->Lock(0)) << "a stranger's Unlock released the owner's lock";

  shared->Unlock();
  std::thread([&] {
    other_got_it = shared->Lock(0);
    if (other_got_it) shared->Unlock();
  }).join();
  EXPECT_TRUE(other_got_it);
}

TEST_F(NamedMutexTest, TimedLockTakesTheMutexReleasedDuringTheWait) {
  std::unique_ptr<NamedMutex> holder = NamedMutex::Open("DATABASE SYNC");
  std::unique_ptr<NamedMutex> waiter = NamedMutex::Open("DATABASE SYNC");
  ASSERT_TRUE(holder->Lock(0));
  bool got_it = false;
  std::thread waiting([&] {
    got_it = waiter->Lock(kPatienceMs);
    if (got_it) waiter->Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it start waiting
  holder->Unlock();
  waiting.join();
  EXPECT_TRUE(got_it);
}

TEST_F(NamedMutexTest, SecondInstanceIsRefusedUntilTheFirstEnds) {
  std::unique_ptr<ChildProcess> first = StartPeer({"hold-mutex", "Helvar", "60"});
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->ReadLine(), "held");
  EXPECT_EQ(ClaimSingleInstance("Helvar"), nullptr);

  first->Kill();  // a crashed instance releases its claim too
  std::unique_ptr<NamedMutex> claim = ClaimSingleInstance("Helvar");
  ASSERT_NE(claim, nullptr);

  std::unique_ptr<ChildProcess> second = StartPeer({"hold-mutex", "Helvar", "60"});
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->ReadLine(), "refused");
  EXPECT_EQ(second->Wait(), 1);
}

}  // namespace
}  // namespace platform
