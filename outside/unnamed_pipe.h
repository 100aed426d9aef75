// UnNamedPipe: a pipe that carries int values, written from signal handlers and other threads,
// read by the main loop. Owns both descriptors (close-on-exec); closed by close() and by the
// destructor. open() and close() belong to the owning thread; write() may run in any thread or
// signal handler, read() in one reading thread. The descriptors are atomics so a handler never
// sees a half-updated value; close() while handlers may still write is the caller's race to
// avoid (uninstall or ignore the handlers first).
#ifndef OUTSIDE_UNNAMED_PIPE_H_
#define OUTSIDE_UNNAMED_PIPE_H_

#include <atomic>

namespace teska {

class UnNamedPipe {
 public:
  // `nonBlocking` makes read() return -1 at once when nothing is there; callers pass false.
  explicit UnNamedPipe(bool nonBlocking = false);
  ~UnNamedPipe();
  UnNamedPipe(const UnNamedPipe&) = delete;
  UnNamedPipe& operator=(const UnNamedPipe&) = delete;

  // Creates the pipe; false (errno set) when that fails. Opening an open pipe does nothing.
  bool open();
  void close();
  bool isOpen() const;
  // The read end's descriptor (-1 when closed), for a loop that waits on several at once.
  int readDescriptor() const { return readFd_.load(); }

  // Writes one int. Async-signal-safe (a single write(2) on a non-blocking descriptor, errno
  // preserved); false when the pipe is closed or full. Never blocks, so a handler that
  // interrupts the reading thread cannot stall it.
  bool write(int value);
  // Blocks until one whole int has been read into *value; 0 on success, -1 on failure (for
  // example interrupted); the caller reads again.
  int read(int* value);

 private:
  bool nonBlocking_;
  std::atomic<int> readFd_{-1};
  std::atomic<int> writeFd_{-1};
};

}  // namespace teska

#endif  // OUTSIDE_UNNAMED_PIPE_H_
