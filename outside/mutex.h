// Mutex and its scoped holder MutexLock.
#ifndef OUTSIDE_MUTEX_H_
#define OUTSIDE_MUTEX_H_

#include <mutex>

namespace teska {

// A lock that any thread may acquire and release. With `recursive` true the holder may
// acquire it again (and must release it as often); with false a second acquire by the holder
// deadlocks. Not copyable.
class Mutex {
 public:
  explicit Mutex(bool recursive = false);
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void acquire();
  // Acquires without waiting: true when acquired. On a plain mutex the holder must not call it.
  bool tryAcquire();
  // Precondition: the calling thread holds the mutex.
  void release();

 private:
  bool recursive_;
  std::mutex plain_;
  std::recursive_mutex recursiveMutex_;
};

// Acquires `mutex` at construction when `acquireNow` is true, and releases at destruction
// what it acquired.
class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex, bool acquireNow = true);
  ~MutexLock();
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
  bool held_;
};

}  // namespace teska

#endif  // OUTSIDE_MUTEX_H_
