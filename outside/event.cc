#include "outside/event.h"

#include <chrono>

namespace teska {
namespace {

// Longer waits are cut to this: a steady-clock deadline in nanoseconds must not overflow, and
// ten years is "without limit" for every caller in practice.
constexpr long kMaxWaitMilliseconds = 10L * 366 * 24 * 3600 * 1000;

}  // namespace

// The waiters are woken while the lock is held: a waiter sees the flag only after the unlock,
// which is this call's last touch of the event, so it may destroy the event once its wait
// returns (a thread's last act often is to signal that it is done).
void Event::signal() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  changed_.notify_all();
}

void Event::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool Event::waitForSignal(long milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto isSet = [this] { return signalled_; };
  if (milliseconds <= 0) {
    changed_.wait(lock, isSet);
    return true;
  }
  if (milliseconds > kMaxWaitMilliseconds) {
    milliseconds = kMaxWaitMilliseconds;
  }
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), isSet);
}

}  // namespace teska
