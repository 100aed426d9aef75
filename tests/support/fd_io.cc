#include "tests/support/fd_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <sys/socket.h>

namespace nvo_test {
namespace {

int millisecondsUntil(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits for `events` on `fd`; false on deadline, failure or a readable stop descriptor.
bool waitFor(int fd, short events, Deadline deadline, int stopFd) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    int n = ::poll(fds, stopFd >= 0 ? 2 : 1, millisecondsUntil(deadline));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    if (stopFd >= 0 && fds[1].revents != 0) {
      return false;
    }
    return fds[0].revents != 0;
  }
}

}  // namespace

bool waitReadable(int fd, Deadline deadline, int stopFd) {
  return waitFor(fd, POLLIN, deadline, stopFd);
}

std::size_t readUpTo(int fd, void* buffer, std::size_t length, Deadline deadline, int stopFd) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    if (!waitFor(fd, POLLIN, deadline, stopFd)) {
      break;
    }
    ssize_t n = ::read(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool writeAll(int fd, const void* buffer, std::size_t length, Deadline deadline) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    if (!waitFor(fd, POLLOUT, deadline, -1)) {
      return false;
    }
    ssize_t n = ::send(fd, bytes + done, length - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void closeFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace nvo_test
