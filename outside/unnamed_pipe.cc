#include "outside/unnamed_pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace teska {

// Signal handlers load writeFd_; only lock-free atomics are async-signal-safe.
static_assert(std::atomic<int>::is_always_lock_free);
// One int fits into a single atomic pipe write, so readers never see values interleaved.
static_assert(sizeof(int) <= PIPE_BUF);

UnNamedPipe::UnNamedPipe(bool nonBlocking) : nonBlocking_(nonBlocking) {}

UnNamedPipe::~UnNamedPipe() {
  close();
}

bool UnNamedPipe::open() {
  if (isOpen()) {
    return true;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return false;
  }
  // The write end never blocks (see write()); the read end blocks unless asked otherwise.
  if (::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0 ||
      (nonBlocking_ && ::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0)) {
    const int saved = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    errno = saved;
    return false;
  }
  readFd_.store(fds[0]);
  writeFd_.store(fds[1]);
  return true;
}

void UnNamedPipe::close() {
  // The write end goes first, so a late writer finds -1 rather than a descriptor being closed.
  const int writeFd = writeFd_.exchange(-1);
  if (writeFd >= 0) {
    ::close(writeFd);
  }
  const int readFd = readFd_.exchange(-1);
  if (readFd >= 0) {
    ::close(readFd);
  }
}

bool UnNamedPipe::isOpen() const {
  return readFd_.load() >= 0;
}

bool UnNamedPipe::write(int value) {
  const int saved = errno;
  const int fd = writeFd_.load();
  bool written = false;
  if (fd >= 0) {
    written = ::write(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
  }
  errno = saved;
  return written;
}

int UnNamedPipe::read(int* value) {
  const int fd = readFd_.load();
  if (fd < 0 || value == nullptr) {
    errno = EBADF;
    return -1;
  }
  unsigned char bytes[sizeof(int)];
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t n = ::read(fd, bytes + have, sizeof bytes - have);
    if (n > 0) {
      have += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      errno = EPIPE;  // every write end closed: nothing will ever come
      return -1;
    }
    if (have == 0) {
      return -1;  // interrupted or (non-blocking) empty: the caller reads again
    }
    // Part of a value is in: finish it, or the next read would start in the middle of one.
    if (errno == EAGAIN) {
      pollfd wait{fd, POLLIN, 0};
      ::poll(&wait, 1, -1);
    } else if (errno != EINTR) {
      return -1;
    }
  }
  std::memcpy(value, bytes, sizeof bytes);
  return 0;
}

}  // namespace teska
