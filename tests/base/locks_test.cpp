#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "FXMutex.h"
#include "MutexProbe.h"

TEST(FXMutexTest, RecursiveHoldsAreCountedAndOwned) {
  FXMutex mutex;
  EXPECT_EQ(0u, mutex.GetOwnerThreadId());
  mutex.Lock();
  mutex.Lock();
  mutex.Unlock();
  EXPECT_EQ(1, mutex.GetLockCount());
  EXPECT_EQ(GetCurrentThreadId(), mutex.GetOwnerThreadId());
  mutex.Unlock();
  EXPECT_EQ(0, mutex.GetLockCount());
  EXPECT_EQ(0u, mutex.GetOwnerThreadId());
  // An extra Unlock leaves the count at 0.
  mutex.Unlock();
  EXPECT_EQ(0, mutex.GetLockCount());
}

TEST(FXMutexTest, UnlockByAnotherThreadChangesNothing) {
  FXMutex mutex;
  mutex.Lock();
  mutex.Lock();
  uint32_t owner = mutex.GetOwnerThreadId();
  std::thread stranger([&] { mutex.Unlock(); });
  stranger.join();
  EXPECT_EQ(2, mutex.GetLockCount());
  EXPECT_EQ(owner, mutex.GetOwnerThreadId());
  // The holder still holds it: another thread cannot take it.
  bool taken = true;
  std::chrono::steady_clock::duration waited{};
  std::thread other([&] {
    const auto start = std::chrono::steady_clock::now();
    taken = mutex.TryLock(CTimeInterval(1000));
    waited = std::chrono::steady_clock::now() - start;
  });
  other.join();
  EXPECT_FALSE(taken);
  // The interval is not waited: the answer comes at once.
  EXPECT_LT(waited, std::chrono::milliseconds(500));
  mutex.Unlock();
  mutex.Unlock();
  std::thread later([&] {
    taken = mutex.TryLock();
    if (taken) mutex.Unlock();
  });
  later.join();
  EXPECT_TRUE(taken);
}

TEST(FXMutexTest, StrangerUnlocksNeverDisturbTheHolder) {
  // A stranger's Unlock that lands while the mutex is free must not lower
  // the count of a thread that locks right after it.
  FXMutex mutex;
  std::atomic<bool> done(false);
  std::thread stranger([&] {
    while (!done.load()) mutex.Unlock();
  });
  const uint32_t self = GetCurrentThreadId();
  int wrong = 0;
  for (int round = 0; round < 200000; ++round) {
    mutex.Lock();
    if (mutex.GetLockCount() != 1 || mutex.GetOwnerThreadId() != self) ++wrong;
    mutex.Unlock();
  }
  done = true;
  stranger.join();
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(0, mutex.GetLockCount());
  EXPECT_EQ(0u, mutex.GetOwnerThreadId());
}

TEST(FXMutexTest, DestructorReleasesTheHoldsOfTheDestroyingThread) {
  // A destroyed object cannot be read (UBSan rightly objects, and the
  // compiler may drop the destructor's stores): watch its POSIX calls.
  std::unique_ptr<FXMutex> mutex(new FXMutex);
  MutexProbe::Watch(mutex.get(), sizeof(FXMutex));
  mutex->Lock();
  mutex->Lock();
  const int held = MutexProbe::Holds();
  mutex.reset();  // must not hang
  const int left = MutexProbe::Holds();
  MutexProbe::Stop();
  ASSERT_EQ(2, held) << "the probe does not see the library's calls";
  EXPECT_EQ(0, left);
}

TEST(FXMutexTest, ExcludesOtherThreads) {
  FXMutex mutex;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        auto_lock hold(&mutex, true);
        auto_lock again(&mutex, true);  // recursion inside one scope
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(40000, counter);
  EXPECT_EQ(0, mutex.GetLockCount());
}

TEST(AutoLockTest, ReleaseFollowsTheScope) {
  FXMutex mutex;
  {
    auto_lock hold(&mutex, false);
    EXPECT_EQ(0, mutex.GetLockCount());
    hold.Lock();
    hold.Lock();  // already held: no second hold
    EXPECT_EQ(1, mutex.GetLockCount());
    hold.Unlock();
    EXPECT_EQ(0, mutex.GetLockCount());
  }  // released early: no second unlock at the end
  EXPECT_EQ(0, mutex.GetLockCount());
  {
    auto_lock hold(&mutex, true);
    EXPECT_EQ(1, mutex.GetLockCount());
  }
  EXPECT_EQ(0, mutex.GetLockCount());
  auto_lock none(nullptr, true);
  none.Unlock();
}
