// Thread: a preemptive thread (std::thread) running the derived class's run().
//
// Lifecycle: start() runs run() on a new thread; a Thread may be started again after run() has
// ended (the earlier thread is joined first). When postRunDeleteCheck() returns true the thread
// is detached and the library deletes the object after run() ends; nobody else may then touch
// it. Otherwise the owner deletes it; the destructor joins a finished thread. A derived class
// whose run() may still be running must stop it in its own destructor (stop flag, wake-up,
// wait), since the base destructor runs after the derived parts are gone.
//
// isRunning() is true from start() until run() has returned; it is atomic, so any thread may
// poll it.
#ifndef OUTSIDE_THREAD_H_
#define OUTSIDE_THREAD_H_

#include <atomic>
#include <thread>

namespace teska {

class Thread {
 public:
  // `detached` is accepted for interface compatibility; callers pass false. Whether a thread is
  // detached is decided by postRunDeleteCheck().
  explicit Thread(bool detached = false);
  virtual ~Thread();

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts run() on a new thread. Throws std::system_error when no thread can be created.
  // Must not be called while run() is still executing.
  virtual void start();
  virtual void run() = 0;
  // True makes the library delete the object when run() has ended. Default false. Asked once
  // by start(), before the new thread exists, so the answer must be known by then; afterwards
  // the running thread calls no virtual function but run(), which keeps it clear of a derived
  // destructor that runs while the thread is finishing.
  virtual bool postRunDeleteCheck() { return false; }

  bool isRunning() const { return running_.load(); }

  // Blocks `signo` in the calling thread (called from run()).
  static void blockSignal(int signo);
  // Sleeps the calling thread for `microseconds`.
  static void usleep(unsigned microseconds);
  // Lets other threads run.
  static void yield();

 private:
  void body(bool deleteAfterRun);

  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace teska

#endif  // OUTSIDE_THREAD_H_
