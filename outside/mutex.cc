#include "outside/mutex.h"

namespace teska {

Mutex::Mutex(bool recursive) : recursive_(recursive) {}

void Mutex::acquire() {
  if (recursive_) {
    recursiveMutex_.lock();
  } else {
    plain_.lock();
  }
}

bool Mutex::tryAcquire() {
  return recursive_ ? recursiveMutex_.try_lock() : plain_.try_lock();
}

void Mutex::release() {
  if (recursive_) {
    recursiveMutex_.unlock();
  } else {
    plain_.unlock();
  }
}

MutexLock::MutexLock(Mutex& mutex, bool acquireNow) : mutex_(mutex), held_(acquireNow) {
  if (held_) {
    mutex_.acquire();
  }
}

MutexLock::~MutexLock() {
  if (held_) {
    mutex_.release();
  }
}

}  // namespace teska
