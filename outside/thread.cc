#include "outside/thread.h"

#include <pthread.h>
#include <signal.h>
#include <syslog.h>

#include <chrono>
#include <exception>

namespace teska {

Thread::Thread(bool /*detached*/) {}

Thread::~Thread() {
  if (!thread_.joinable()) {
    return;
  }
  // An owner deleting the object from inside run() must not join itself; the thread then
  // simply runs out on its own.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void Thread::start() {
  if (thread_.joinable()) {
    thread_.join();
  }
  const bool deleteAfterRun = postRunDeleteCheck();
  running_.store(true);
  std::thread thread;
  try {
    thread = std::thread(&Thread::body, this, deleteAfterRun);
  } catch (...) {
    running_.store(false);
    throw;
  }
  if (deleteAfterRun) {
    // The thread owns the object now and may already have deleted it: touch no member.
    thread.detach();
    return;
  }
  thread_ = std::move(thread);
}

// The thread entry: nothing may escape it, since an exception leaving a std::thread ends the
// process. Derived classes handle their own failures; what still arrives here is logged.
void Thread::body(bool deleteAfterRun) {
  try {
    run();
  } catch (const std::exception& e) {
    syslog(LOG_CRIT, "Thread::body caught exception: %s", e.what());
  } catch (...) {
    syslog(LOG_CRIT, "Thread::body caught unknown exception");
  }
  if (deleteAfterRun) {
    delete this;
    return;
  }
  // The last touch of the object by this thread: an owner waiting for !isRunning() may delete
  // it right after.
  running_.store(false);
}

void Thread::blockSignal(int signo) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signo);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void Thread::usleep(unsigned microseconds) {
  std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

void Thread::yield() {
  std::this_thread::yield();
}

}  // namespace teska
