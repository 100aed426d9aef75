// Event: a manual-reset wake-up flag. signal() sets it and wakes every waiter; it stays set
// until reset(). Thread safe. A waiter whose wait returned true may destroy the event at once,
// even while the signalling thread is still returning from signal().
#ifndef OUTSIDE_EVENT_H_
#define OUTSIDE_EVENT_H_

#include <condition_variable>
#include <mutex>

namespace teska {

class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void signal();
  void reset();
  // Waits until the event is set: at most `milliseconds`, or without limit when 0 (or
  // negative). Returns true when the event is set, false when the time ran out. Does not reset
  // the event.
  bool waitForSignal(long milliseconds);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

}  // namespace teska

#endif  // OUTSIDE_EVENT_H_
