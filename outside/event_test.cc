#include "outside/event.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace teska {
namespace {

TEST(EventTest, WaitReturnsFalseWhenTimeRunsOut) {
  Event event;
  EXPECT_FALSE(event.waitForSignal(10));
}

TEST(EventTest, StaysSetUntilReset) {
  Event event;
  event.signal();
  EXPECT_TRUE(event.waitForSignal(1));
  EXPECT_TRUE(event.waitForSignal(0));  // waiting does not consume the signal
  event.reset();
  EXPECT_FALSE(event.waitForSignal(1));
}

TEST(EventTest, SignalFromAnotherThreadWakesUnlimitedWaiter) {
  Event event;
  std::atomic<bool> signalled{false};
  std::thread signaller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    signalled.store(true);
    event.signal();
  });
  EXPECT_TRUE(event.waitForSignal(0));
  EXPECT_TRUE(signalled.load());
  signaller.join();
}

TEST(EventTest, OneSignalWakesEveryWaiter) {
  Event event;
  constexpr int kWaiters = 4;
  std::atomic<int> woken{0};
  std::atomic<int> waiting{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      waiting.fetch_add(1);
      if (event.waitForSignal(5000)) {
        woken.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 5000 && waiting.load() < kWaiters; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  event.signal();
  for (std::thread& waiter : waiters) {
    waiter.join();
  }
  EXPECT_EQ(woken.load(), kWaiters);
}

// A thread's last act is to signal that it is done, and the waiter frees the event as soon as
// it hears: signal() must not touch the event once a waiter can see it set (the thread sanitizer
// and the address sanitizer report it when it does).
TEST(EventTest, WaiterMayDestroyTheEventAsSoonAsItsWaitReturns) {
  for (int round = 0; round < 50; ++round) {
    auto event = std::make_unique<Event>();
    std::thread signaller([done = event.get()] { done->signal(); });
    const bool signalled = event->waitForSignal(5000);
    if (signalled) {
      event.reset();
    }
    signaller.join();
    ASSERT_TRUE(signalled) << "round " << round;
  }
}

TEST(EventTest, ResetEventMakesNextTimedWaitExpire) {
  Event event;
  std::thread signaller([&] { event.signal(); });
  EXPECT_TRUE(event.waitForSignal(5000));
  signaller.join();
  event.reset();
  EXPECT_FALSE(event.waitForSignal(20));
}

}  // namespace
}  // namespace teska
