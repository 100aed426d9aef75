#include "client/jni/unix_socket_ops.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>

namespace vokra {
namespace {

static_assert(sizeof(sockaddr_un::sun_path) == kMaxUnixPathLength + 1,
              "the socket path area must hold the longest path and its NUL");

// One poll of `fd` for `events`; `timeoutMs` -1 waits without limit. Returns 1 ready, 0 time
// ran out, -1 failed (errno set).
int pollOnce(int fd, short events, int timeoutMs) {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  pollfd entry{fd, events, 0};
  const int ready = poll(&entry, 1, timeoutMs);
  if (ready > 0 && (entry.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  return ready;
}

// A process whose SIGPIPE still has its default action would die on a write to a peer that
// went away; ignoring it turns that into an EPIPE error. A handler someone installed (the Java
// virtual machine installs one that ignores the signal) is left in place.
void ignoreSigpipe() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
      current.sa_handler != SIG_DFL) {
    return;
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace

bool readableNow(int fd) {
  return pollOnce(fd, POLLIN, 0) == 1;
}

bool waitReady(int fd, bool forInput) {
  const short events = forInput ? POLLIN : POLLOUT;
  for (;;) {
    const int ready = pollOnce(fd, events, -1);
    if (ready > 0) {
      return true;
    }
    if (ready < 0 && errno != EINTR) {
      return false;
    }
  }
}

UnixConnectResult connectUnix(const char* path, std::size_t length, int* fd) {
  if (length > kMaxUnixPathLength) {
    errno = ENAMETOOLONG;
    return UnixConnectResult::kConnectFailed;
  }
  const int descriptor = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) {
    return UnixConnectResult::kNoSocket;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path, length);
  ignoreSigpipe();
  const auto addressLength = static_cast<socklen_t>(sizeof(address.sun_family) + length);
  if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0) {
    const int saved = errno;
    close(descriptor);
    errno = saved;
    return UnixConnectResult::kConnectFailed;
  }
  *fd = descriptor;
  return UnixConnectResult::kConnected;
}

bool closeDescriptor(int fd) {
  return close(fd) == 0;
}

}  // namespace vokra
