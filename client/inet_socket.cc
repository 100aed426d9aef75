#include "client/inet_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <istream>
#include <ostream>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "client/fd_stream_buf.h"
#include "client/socket_error.h"
#include "client/socket_util.h"

namespace vokra {
namespace {

constexpr const char* kConnectWhere = "InetSocket::connect";

// Owns a descriptor until release(); closes it on every other path out of a scope.
class DescriptorGuard {
 public:
  explicit DescriptorGuard(int fd) : fd_(fd) {}
  ~DescriptorGuard() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  DescriptorGuard(const DescriptorGuard&) = delete;
  DescriptorGuard& operator=(const DescriptorGuard&) = delete;

  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The first IPv4 address of `host` (network order) by the system's host-name lookup, which
// also accepts a dotted address. The reentrant form keeps concurrent lookups from sharing one
// static result.
bool lookUpHost(const std::string& host, uint32_t& address) {
  std::vector<char> work(1024);
  constexpr int kMaxAttempts = 8;  // 1 KiB doubled up to 128 KiB of lookup work space
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    hostent entry{};
    hostent* result = nullptr;
    int hostError = 0;
    const int rc =
        ::gethostbyname_r(host.c_str(), &entry, work.data(), work.size(), &result, &hostError);
    if (rc == ERANGE) {
      work.resize(work.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr || result->h_addrtype != AF_INET ||
        result->h_length != static_cast<int>(sizeof address) || result->h_addr_list[0] == nullptr) {
      return false;
    }
    std::copy_n(result->h_addr_list[0], sizeof address, reinterpret_cast<char*>(&address));
    return true;
  }
  return false;
}

// Finishes a non-blocking connect within `seconds`. Returns 0 once connected, otherwise the
// error number to report: 110 when the time ran out or the connect failed during the wait, or
// the errno of a wait that itself failed (an interrupted wait is not taken as success).
int finishTimedConnect(int fd, int seconds) {
  pollfd entry{};
  entry.fd = fd;
  entry.events = POLLIN | POLLOUT;
  constexpr int kMaxSeconds = INT_MAX / 1000;  // poll() counts milliseconds in an int
  const int ready = ::poll(&entry, 1, (seconds > kMaxSeconds ? kMaxSeconds : seconds) * 1000);
  if (ready < 0) {
    return errno;
  }
  if (ready == 0 || (entry.revents & (POLLIN | POLLOUT | POLLERR | POLLHUP)) == 0) {
    return ETIMEDOUT;
  }
  if ((entry.revents & (POLLERR | POLLHUP)) == 0) {
    return 0;  // writable without error or hang-up: the connect went through
  }
  int pending = 0;
  socklen_t size = sizeof pending;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0) {
    return ETIMEDOUT;
  }
  return 0;
}

// Outcome of a connect attempt: error number 0 when connected, otherwise the number and the
// call to report.
struct ConnectResult {
  int error = 0;
  const char* what = "connect";
};

ConnectResult connectBlocking(int fd, const sockaddr_in& peer) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    return {errno};
  }
  return {};
}

// A connect that waits at most `seconds` on a descriptor created non-blocking; once connected
// the descriptor blocks again (a fresh socket has no other status flag to keep).
ConnectResult connectTimed(int fd, const sockaddr_in& peer, int seconds) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS) {
      return {errno};  // refused or failed at once: the call's own error number
    }
    const int result = finishTimedConnect(fd, seconds);
    if (result != 0) {
      return {result};
    }
  }
  if (::fcntl(fd, F_SETFL, 0) != 0) {
    return {errno, "fcntl"};
  }
  return {};
}

// The rules that read and write share: not connected gives 9; a time-out above 0 means the
// call may wait at most that long for readiness, and a failed or expired wait gives its error
// number; otherwise the count of the transfer is returned as it is, partial or 0. A failure
// sets errno and returns -1, or throws when `throwOnError` is true.
//
// `call(offset, flags)` transfers from `offset` on with the extra send/recv `flags`. With a
// time-out and `tryFirst`, the first attempt does not wait (MSG_DONTWAIT): the request's bytes,
// or the room for an answer, are nearly always there already, so the readiness wait is made
// only when the attempt finds nothing to do. A write that went through only in part waits once
// for room and sends what then fits.
template <class Call>
int transferOnce(int fd, bool connected, int length, int timeoutSeconds, bool forInput,
                 bool tryFirst, bool throwOnError, Call call) {
  ssize_t done = 0;
  int error = 0;
  if (!connected) {
    error = EBADF;
  } else if (length < 0) {
    error = EINVAL;
  } else {
    const bool timed = timeoutSeconds > 0;
    bool finished = false;
    if (timed && length > 0 && tryFirst) {
      const ssize_t first = call(0, MSG_DONTWAIT);
      if (first >= 0) {
        done = first;
        finished = forInput || first == length;
      } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        error = errno;
        finished = true;
      }
    }
    if (!finished) {
      error = timed ? waitForSockIO(fd, timeoutSeconds, forInput) : 0;
      if (error == 0) {
        // A timed write takes only what fits once the socket is writable: a blocking send of
        // the rest would wait on a peer that stopped reading for as long as it likes.
        const ssize_t more =
            call(static_cast<std::size_t>(done), timed && !forInput ? MSG_DONTWAIT : 0);
        error = more < 0 ? errno : 0;
        done += more < 0 ? 0 : more;
      }
    }
  }
  if (error != 0 && done == 0) {  // a write that sent a part reports that part, like send()
    errno = error;
    if (throwOnError) {
      throwSocketException(error, forInput ? "InetSocket::read" : "InetSocket::write",
                           forInput ? "read" : "write");
    }
    return -1;
  }
  return static_cast<int>(done);
}

}  // namespace

// The stream objects share one buffer over the descriptor, so they see one read position and
// one pending output whichever of them is used.
struct InetSocket::Streams {
  explicit Streams(int fd) : buffer(fd), input(&buffer), output(&buffer), inputOutput(&buffer) {
    input.tie(&output);
  }

  FdStreamBuf buffer;
  std::istream input;
  std::ostream output;
  std::iostream inputOutput;
};

InetSocket::InetSocket() = default;

// Delegating constructors: once InetSocket() has run, a throw from the body still runs the
// destructor, which closes an adopted or connected descriptor.
InetSocket::InetSocket(int descriptor) : InetSocket() {
  fd_ = descriptor;
  connected_ = true;
  fillAddrParms();
}

InetSocket::InetSocket(int descriptor, const sockaddr_in& peer) : InetSocket() {
  fd_ = descriptor;
  connected_ = true;
  peerAddress_ = peer.sin_addr.s_addr;
  peerPort_ = peer.sin_port;
}

InetSocket::InetSocket(const std::string& host, unsigned short port) : InetSocket() {
  connect(host, port);
}

InetSocket::InetSocket(uint32_t address, unsigned short port) : InetSocket() {
  connect(inetAddrToString(address), ntohs(port));
}

InetSocket::~InetSocket() {
  disconnect();
}

void InetSocket::connect(const std::string& host, unsigned short port) {
  uint32_t address = 0;
  if (!lookUpHost(host, address)) {
    throwSocketException(EINVAL, kConnectWhere, "gethostbyname");
  }
  connect(address, port);
}

void InetSocket::connect(uint32_t address, unsigned short port) {
  if (connected_) {
    disconnect();
  }
  const bool timed = connectTimeout_ > 0;
  DescriptorGuard guard(::socket(AF_INET, SOCK_STREAM | (timed ? SOCK_NONBLOCK : 0), 0));
  if (guard.get() < 0) {
    throwSocketException(EBADF, kConnectWhere, "socket");
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = htons(port);

  const ConnectResult result =
      timed ? connectTimed(guard.get(), peer, connectTimeout_) : connectBlocking(guard.get(), peer);
  if (result.error != 0) {
    throwSocketException(result.error, kConnectWhere, result.what);
  }
  fd_ = guard.release();
  connected_ = true;
  // The peer is the address just connected to; the local end is looked up when first asked.
  peerAddress_ = peer.sin_addr.s_addr;
  peerPort_ = peer.sin_port;
  localKnown_ = false;
}

void InetSocket::disconnect() {
  if (fd_ == -1 || !connected_) {
    return;
  }
  // The streams go first: their buffer sends pending output to this connection while the
  // descriptor is still open, never to whatever later reuses its number.
  streams_.reset();
  ::close(fd_);
  fd_ = -1;
  connected_ = false;
  replyAwaited_ = false;
}

void InetSocket::fillAddrParms() {
  sockaddr_in end{};
  socklen_t size = sizeof end;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&end), &size) != 0) {
    throwSocketException(errno, "InetSocket::fillAddrParms", "getsockname");
  }
  localAddress_ = end.sin_addr.s_addr;
  localPort_ = end.sin_port;
  localKnown_ = true;
  end = sockaddr_in{};
  size = sizeof end;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&end), &size) != 0) {
    throwSocketException(errno, "InetSocket::fillAddrParms", "getpeername");
  }
  peerAddress_ = end.sin_addr.s_addr;
  peerPort_ = end.sin_port;
}

void InetSocket::learnLocalEnd() const {
  if (localKnown_ || !connected_) {
    return;
  }
  sockaddr_in end{};
  socklen_t size = sizeof end;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&end), &size) == 0) {
    localAddress_ = end.sin_addr.s_addr;
    localPort_ = end.sin_port;
    localKnown_ = true;
  }
}

uint32_t InetSocket::localAddress() const {
  learnLocalEnd();
  return localAddress_;
}

uint16_t InetSocket::localPort() const {
  learnLocalEnd();
  return localPort_;
}

std::string InetSocket::localAddrString() const {
  learnLocalEnd();
  return inetAddrToString(localAddress_, localPort_);
}

std::string InetSocket::peerAddrString() const {
  return inetAddrToString(peerAddress_, peerPort_);
}

int InetSocket::write(const void* buffer, int length, bool throwOnError) {
  const auto* bytes = static_cast<const char*>(buffer);
  const int sent =
      transferOnce(fd_, connected_, length, writeTimeout_, false, true, throwOnError,
                   [&](std::size_t offset, int flags) {
                     return ::send(fd_, bytes + offset, static_cast<std::size_t>(length) - offset,
                                   MSG_NOSIGNAL | flags);
                   });
  replyAwaited_ = replyAwaited_ || sent > 0;
  return sent;
}

int InetSocket::read(void* buffer, int length, bool throwOnError) {
  auto* bytes = static_cast<char*>(buffer);
  // Right after a request went out its answer cannot be here yet: wait for it at once rather
  // than trying first.
  const bool tryFirst = !replyAwaited_;
  replyAwaited_ = false;
  return transferOnce(fd_, connected_, length, readTimeout_, true, tryFirst, throwOnError,
                      [&](std::size_t offset, int flags) {
                        return ::recv(fd_, bytes + offset,
                                      static_cast<std::size_t>(length) - offset, flags);
                      });
}

bool InetSocket::waitForInput(int seconds) {
  return waitForIO(fd_, seconds, true);
}

bool InetSocket::waitForOutput(int seconds) {
  return waitForIO(fd_, seconds, false);
}

void InetSocket::setTimeouts(int seconds) {
  readTimeout_ = seconds;
  writeTimeout_ = seconds;
  connectTimeout_ = seconds;
}

void InetSocket::getStreams() {
  if (!connected_) {
    throwSocketException(EBADF, "InetSocket::getStreams", "NONE");
  }
  if (!streams_) {
    streams_ = std::make_unique<Streams>(fd_);
  }
}

std::istream& InetSocket::getInputStream() {
  if (!streams_) {
    getStreams();
  }
  return streams_->input;
}

std::ostream& InetSocket::getOutputStream() {
  if (!streams_) {
    getStreams();
  }
  return streams_->output;
}

std::iostream& InetSocket::getIOStream() {
  if (!streams_) {
    getStreams();
  }
  return streams_->inputOutput;
}

}  // namespace vokra
