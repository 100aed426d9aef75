// The client side of the fuzz targets that feed a server's reading code over a real loopback
// TCP connection: a connection that survives libFuzzer's time-out alarm, sending, reading until
// the server closes, and running the server's step on a thread the alarm does not interrupt.
#ifndef FUZZ_LOOPBACK_CLIENT_H_
#define FUZZ_LOOPBACK_CLIENT_H_

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

#include "fuzz/fuzz_check.h"

namespace fuzz_loopback {

// poll() that resumes after a signal (libFuzzer's alarm); the count of ready entries.
inline int pollRetrying(pollfd& entry, int milliseconds) {
  int ready = -1;
  do {
    ready = ::poll(&entry, 1, milliseconds);
  } while (ready < 0 && errno == EINTR);
  return ready;
}

// A client socket connected to `address`.
inline int connectTo(const sockaddr_in& address) {
  const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  FUZZ_CHECK(client >= 0);
  if (::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // libFuzzer's time-out alarm may interrupt the call; the connection then completes on
    // its own.
    FUZZ_CHECK(errno == EINTR);
    pollfd entry{client, POLLOUT, 0};
    FUZZ_CHECK(pollRetrying(entry, 1000) == 1);
    int error = 0;
    socklen_t size = sizeof error;
    FUZZ_CHECK(::getsockopt(client, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0);
  }
  return client;
}

inline void sendAll(int fd, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    FUZZ_CHECK(n > 0);
    done += static_cast<std::size_t>(n);
  }
}

// Everything the client receives until the server's end is closed (or reset), waiting at most
// a second for each piece; more than `limit` bytes is a failed check.
inline std::vector<uint8_t> receiveUntilClosed(int fd, std::size_t limit) {
  std::vector<uint8_t> received;
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    FUZZ_CHECK(pollRetrying(entry, 1000) == 1);  // a closed end is always readable
    uint8_t buffer[512];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return received;
    }
    received.insert(received.end(), buffer, buffer + n);
    FUZZ_CHECK(received.size() <= limit);
  }
}

// Runs `step` on a thread that blocks SIGALRM. libFuzzer's time-out alarm would otherwise
// interrupt the server's waits (which, like the daemons' own threads, never expect a signal)
// and turn a good request into a "couldn't read" one. The alarm still reaches the fuzzing
// thread, which waits in join(), so a hang is still reported.
template <class Step>
void runWithoutAlarm(Step&& step) {
  sigset_t alarm;
  sigset_t previous;
  ::sigemptyset(&alarm);
  ::sigaddset(&alarm, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &alarm, &previous);
  std::thread worker(std::forward<Step>(step));
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  worker.join();
}

}  // namespace fuzz_loopback

#endif  // FUZZ_LOOPBACK_CLIENT_H_
