#include "outside/thread.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include <gtest/gtest.h>

#include "outside/event.h"

namespace teska {
namespace {

// Polls `condition` for at most five seconds.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 5000; ++i) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

// Counts its runs; each run waits until the test lets it finish.
class CountingThread : public Thread {
 public:
  void run() override {
    runs.fetch_add(1);
    started.signal();
    mayFinish.waitForSignal(5000);
  }

  std::atomic<int> runs{0};
  Event started;
  Event mayFinish;
};

TEST(ThreadTest, RunsAgainAfterRunHasEnded) {
  CountingThread thread;
  EXPECT_FALSE(thread.isRunning());
  thread.start();
  ASSERT_TRUE(thread.started.waitForSignal(5000));
  EXPECT_TRUE(thread.isRunning());
  thread.mayFinish.signal();
  ASSERT_TRUE(eventually([&] { return !thread.isRunning(); }));

  thread.started.reset();
  thread.start();
  ASSERT_TRUE(thread.started.waitForSignal(5000));
  ASSERT_TRUE(eventually([&] { return !thread.isRunning(); }));
  EXPECT_EQ(thread.runs.load(), 2);
}

Event selfDeletingGone;

// Deletes itself after run(); its destructor reports that it ran.
class SelfDeletingThread : public Thread {
 public:
  ~SelfDeletingThread() override { selfDeletingGone.signal(); }
  void run() override { blockSignal(SIGINT); }
  bool postRunDeleteCheck() override { return true; }
};

TEST(ThreadTest, SelfDeletingThreadIsDeletedAfterRun) {
  selfDeletingGone.reset();
  // Several in a row, so a race between start() and the deletion has chances to show (under
  // the address sanitizer as a use after free).
  for (int i = 0; i < 20; ++i) {
    selfDeletingGone.reset();
    (new SelfDeletingThread)->start();
    ASSERT_TRUE(selfDeletingGone.waitForSignal(5000)) << "round " << i;
  }
}

class ThrowingThread : public Thread {
 public:
  void run() override { throw std::runtime_error("ThrowingThread::run failed"); }
};

TEST(ThreadTest, ExceptionLeavingRunEndsOnlyThatThread) {
  ThrowingThread thread;
  thread.start();
  EXPECT_TRUE(eventually([&] { return !thread.isRunning(); }));
}

// Reports whether `signo` is blocked in the thread that runs it.
class MaskProbeThread : public Thread {
 public:
  void run() override {
    blockSignal(SIGUSR2);
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    blockedHere = sigismember(&mask, SIGUSR2) == 1;
  }
  std::atomic<bool> blockedHere{false};
};

TEST(ThreadTest, BlockSignalAffectsOnlyTheCallingThread) {
  MaskProbeThread thread;
  thread.start();
  ASSERT_TRUE(eventually([&] { return !thread.isRunning(); }));
  EXPECT_TRUE(thread.blockedHere.load());
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_EQ(sigismember(&mask, SIGUSR2), 0);
}

TEST(ThreadTest, UsleepPausesAtLeastTheGivenTime) {
  const auto before = std::chrono::steady_clock::now();
  Thread::usleep(20000);
  Thread::yield();
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace teska
