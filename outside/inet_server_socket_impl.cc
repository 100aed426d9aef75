#include "outside/inet_server_socket_impl.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "client/socket_error.h"
#include "outside/socket_exception.h"

namespace teska {
namespace {

constexpr char kListenWhere[] = "InetServerSocketImpl::doListen";
constexpr char kAcceptWhere[] = "InetServerSocketImpl::accept";

using Clock = std::chrono::steady_clock;

// Closes a descriptor unless released; keeps errno for the exception being built.
class DescriptorGuard {
 public:
  explicit DescriptorGuard(int fd) : fd_(fd) {}
  ~DescriptorGuard() {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }
  DescriptorGuard(const DescriptorGuard&) = delete;
  DescriptorGuard& operator=(const DescriptorGuard&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Failures of accept() that concern only the connection being taken (it was reset, or the
// network under it went away) or a spurious wake-up: the listening socket is fine, so they
// count as "no connection yet". Everything else (EMFILE, ENFILE, ENOBUFS, ENOMEM, EBADF, ...)
// is the caller's to see.
bool isTransientAcceptError(int error) {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

// Hands the accepted descriptor, with the peer address accept() reported, to a connection
// object. Since C++17 the allocation happens before the argument is evaluated, so the guard
// lets go only once memory is there; from then on InetSocket owns the descriptor.
Reference<InetSocketImpl> adopt(DescriptorGuard& connection, const sockaddr_in& peer) {
  return Reference<InetSocketImpl>(new InetSocketImpl(connection.release(), peer));
}

// Milliseconds left until `deadline` for poll(), rounded up so a wait never ends early.
int remainingMilliseconds(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

}  // namespace

InetServerSocketImpl::InetServerSocketImpl() = default;

InetServerSocketImpl::InetServerSocketImpl(unsigned short port, int backlog, bool reuseAddress,
                                           bool closeOnExec) {
  doListen(port, backlog, reuseAddress, closeOnExec);
}

InetServerSocketImpl::~InetServerSocketImpl() {
  close();
}

void InetServerSocketImpl::doListen(unsigned short port, int backlog, bool reuseAddress,
                                    bool closeOnExec) {
  close();
  const int flags = SOCK_STREAM | SOCK_NONBLOCK | (closeOnExec ? SOCK_CLOEXEC : 0);
  DescriptorGuard fd(::socket(AF_INET, flags, 0));
  if (fd.get() < 0) {
    vokra::throwSocketException(errno, kListenWhere, "socket");
  }
  const int on = 1;
  if (reuseAddress && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    vokra::throwSocketException(errno, kListenWhere, "setsockopt");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    vokra::throwSocketException(errno, kListenWhere, "bind");
  }
  if (::listen(fd.get(), backlog) != 0) {
    vokra::throwSocketException(errno, kListenWhere, "listen");
  }
  socklen_t length = sizeof address;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    vokra::throwSocketException(errno, kListenWhere, "getsockname");
  }
  port_ = address.sin_port;
  closeOnExec_ = closeOnExec;
  fd_.store(fd.release());
}

Reference<InetSocketImpl> InetServerSocketImpl::accept(int seconds, bool waitFirst) {
  const int fd = fd_.load();
  if (fd < 0) {
    vokra::throwSocketException(EBADF, kAcceptWhere, "accept");
  }
  const bool unlimited = seconds < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(unlimited ? 0 : seconds);
  // The listening descriptor is non-blocking: a connection that is already waiting is taken
  // at once, and the readiness wait is made only when there is none (or, with `waitFirst`,
  // first).
  for (bool waitNow = waitFirst;; waitNow = false) {
    if (!waitNow) {
      sockaddr_in peer{};
      socklen_t peerSize = sizeof peer;
      DescriptorGuard connection(::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize,
                                           closeOnExec_ ? SOCK_CLOEXEC : 0));
      if (connection.get() >= 0) {
        return adopt(connection, peer);
      }
      if (!isTransientAcceptError(errno)) {
        vokra::throwSocketException(errno, kAcceptWhere, "accept");
      }
    }
    if (waitNow || errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd wait{fd, POLLIN, 0};
      const int timeLeft = unlimited ? -1 : remainingMilliseconds(deadline);
      const int ready = timeLeft == 0 ? 0 : ::poll(&wait, 1, timeLeft);
      if (ready < 0 && errno != EINTR) {
        vokra::throwSocketException(errno, kAcceptWhere, "poll");
      }
      if (ready == 0) {
        return {};
      }
    } else if (!unlimited && remainingMilliseconds(deadline) == 0) {
      return {};
    }
  }
}

std::string InetServerSocketImpl::addrString() const {
  return "0.0.0.0:" + std::to_string(ntohs(port_));
}

void InetServerSocketImpl::close() {
  const int fd = fd_.exchange(-1);
  if (fd >= 0) {
    ::close(fd);
  }
  port_ = 0;
}

}  // namespace teska
