// Signaler: the thread that delivers signalled events to their registered listeners.
//
// The service thread queues each SIGNAL here (after answering it); the Signaler takes the
// queued signals one at a time in arrival order, builds one NOTIFY packet per signal and sends
// it to every listener registered for the event, each over a new connection, holding the
// event database lock for the whole fan-out. The stagger type decides the pacing:
//   2 (sequential): wait for the listener's 4-byte acknowledgement before the next one, at
//                   most the connection's time-out (10 s);
//   1 (timed):      pause stagger parameter milliseconds after each listener (when > 0);
//   other:          neither.
// A listener that refuses the connection, or cannot be reached in time, loses its registration
// for that event; one that accepts but fails later keeps it, and so does every listener when
// this daemon lacks a descriptor for the attempt. The listeners come, in the order of the
// event's records, from the database's index in memory (the file is walked only when the index
// cannot say); the registrations of the gone ones are deleted in one walk when the fan-out ends
// and flushed to the file once (before the lock is released), not one flush per listener: a
// hundred gone listeners cost one disk flush, not a hundred. A database failure during a
// fan-out ends that signal's delivery: it is logged and dropped, and the lock released.
//
// Owns its queue of PendingSignal objects. queueSignal() may be called from any thread; the
// other members belong to the thread that created the object. The destructor stops the thread
// and discards what is still queued.
#ifndef TOLMD_SIGNALER_H_
#define TOLMD_SIGNALER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

#include "outside/event.h"
#include "outside/mutex.h"
#include "outside/qrstring.h"
#include "outside/thread.h"
#include "tolmd/event_db.h"
#include "tolmd/pending_signal.h"

namespace tolmd {

// Connection time-out of every delivery, and the bound on a sequential acknowledgement.
inline constexpr int kNotifyTimeoutSeconds = 10;

class Signaler : public teska::Thread {
 public:
  // `db` must outlive the Signaler. `timeoutSeconds` bounds connect, write and acknowledgement.
  explicit Signaler(EventDb& db, int timeoutSeconds = kNotifyTimeoutSeconds);
  ~Signaler() override;

  // Whether queueSignal() wakes the thread itself, or leaves that to a later wake() (the
  // daemon answers its client first, so that the answer never waits on the wake-up).
  enum class Wake { kNow, kLater };

  // Queues a signal (copying name and payload) and, with Wake::kNow, wakes the thread, unless a
  // queued signal that is not yet being delivered has the same name, payload and stagger type:
  // then the new one is absorbed by it. Thread safe.
  void queueSignal(const teska::QRstring& eventName, std::span<const uint8_t> payload,
                   int32_t staggerType, int32_t staggerParam, Wake wake = Wake::kNow);
  // Wakes the thread to work off the queue. Thread safe.
  void wake();
  // Signals queued or being delivered. Thread safe.
  std::size_t pendingCount() const;

  void run() override;
  // Stops the thread (a delivery in progress ends after its current listener), waits for it,
  // and discards the queue. Safe to call more than once.
  void shutdown();

 private:
  bool queueEmpty() const;
  // Delivers the first queued signal and removes it from the queue.
  void doSignal();
  // Builds the signal's NOTIFY packet and sends it to every listener of its event.
  void deliver(const PendingSignal& signal);
  // Notifies each registration of the event, holding the database lock; counts successes and
  // failures.
  void fanOut(const PendingSignal& signal, std::span<const uint8_t> packet, int& success,
              int& fail);
  // The same, walking the event's records in the file: when the index cannot say.
  void walkRecords(const PendingSignal& signal, std::span<const uint8_t> packet, int& success,
                   int& fail);
  // One listener's turn in a fan-out: notifies it, counts the outcome and pauses as the stagger
  // type says. True when the listener is unreachable and loses its registration.
  bool visit(uint32_t address, uint16_t port, const PendingSignal& signal,
             std::span<const uint8_t> packet, int& success, int& fail);
  // Sends the packet to one listener (address and port in network order); true when delivered.
  // Sets `unreachable` when the listener could not be connected to and loses its registration.
  bool notifyClient(uint32_t address, uint16_t port, std::span<const uint8_t> packet,
                    int32_t staggerType, bool& unreachable);
  // Sleeps `milliseconds`, or less when shutdown() is called meanwhile.
  void pause(int32_t milliseconds);

  EventDb& db_;
  const int timeoutSeconds_;
  std::deque<std::unique_ptr<PendingSignal>> queue_;
  mutable teska::Mutex queueMutex_{true};
  teska::Event wakeUp_;
  teska::Event stopped_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
};

}  // namespace tolmd

#endif  // TOLMD_SIGNALER_H_
