// UnNamedPipe: a pipe that carries int values, written from signal handlers and other threads,
// read by the main loop. Owns both descriptors (close-on-exec); closed by close() and by the
// destructor.
#ifndef OUTSIDE_UNNAMED_PIPE_H_
#define OUTSIDE_UNNAMED_PIPE_H_

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

  // Writes one int. Async-signal-safe (a single write(2), errno preserved); false when the
  // pipe is closed or full.
  bool write(int value);
  // Blocks until one whole int has been read into *value; 0 on success, -1 on failure (for
  // example interrupted); the caller reads again.
  int read(int* value);

 private:
  bool nonBlocking_;
  int readFd_ = -1;
  int writeFd_ = -1;
};

}  // namespace teska

#endif  // OUTSIDE_UNNAMED_PIPE_H_
