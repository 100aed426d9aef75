#include "outside/mutex.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace teska {
namespace {

// tryAcquire from a thread of its own, so a plain mutex is never tried by its holder.
bool tryFromOtherThread(Mutex& mutex) {
  bool acquired = false;
  std::thread other([&] {
    acquired = mutex.tryAcquire();
    if (acquired) {
      mutex.release();
    }
  });
  other.join();
  return acquired;
}

TEST(MutexTest, PlainMutexExcludesOtherThreadsUntilReleased) {
  Mutex mutex(false);
  mutex.acquire();
  EXPECT_FALSE(tryFromOtherThread(mutex));
  mutex.release();
  EXPECT_TRUE(tryFromOtherThread(mutex));
}

TEST(MutexTest, RecursiveMutexLetsHolderAcquireAgain) {
  Mutex mutex(true);
  mutex.acquire();
  mutex.acquire();
  ASSERT_TRUE(mutex.tryAcquire());
  mutex.release();
  mutex.release();
  EXPECT_FALSE(tryFromOtherThread(mutex));  // still held once
  mutex.release();
  EXPECT_TRUE(tryFromOtherThread(mutex));
}

TEST(MutexTest, MutexLockReleasesAtScopeEndAndOnlyWhatItAcquired) {
  Mutex mutex(false);
  {
    MutexLock lock(mutex, true);
    EXPECT_FALSE(tryFromOtherThread(mutex));
  }
  EXPECT_TRUE(tryFromOtherThread(mutex));
  {
    MutexLock notHeld(mutex, false);
    EXPECT_TRUE(tryFromOtherThread(mutex));
  }
  EXPECT_TRUE(tryFromOtherThread(mutex));
}

TEST(MutexTest, CountersUnderLockLoseNoIncrement) {
  for (bool recursive : {false, true}) {
    Mutex mutex(recursive);
    long counter = 0;
    constexpr int kThreads = 4;
    constexpr int kIncrements = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kIncrements; ++i) {
          MutexLock lock(mutex);
          counter = counter + 1;
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(counter, long{kThreads} * kIncrements) << "recursive " << recursive;
  }
}

}  // namespace
}  // namespace teska
