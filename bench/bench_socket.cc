#include "bench/bench_socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace nvo_bench {
namespace {

sockaddr_in socketAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  sa.sin_port = htons(port);
  return sa;
}

[[noreturn]] void fail(const char* call) {
  throw std::runtime_error(std::string("listenOn: ") + call + " failed: " + std::strerror(errno));
}

// Repeats `call(offset)` (one recv or send from that offset on) until `size` bytes went
// through; interrupted calls are repeated, anything else that moves no byte ends it.
template <class Call>
bool transferAll(std::size_t size, Call call) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = call(done);
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

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    reset(other.release());
  }
  return *this;
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  fd_ = fd;
}

Fd listenOn(uint32_t address, uint16_t port, int backlog, bool nonBlocking) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
  if (!fd.valid()) {
    fail("socket");
  }
  const int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    fail("setsockopt");
  }
  const sockaddr_in sa = socketAddress(address, port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    fail("bind");
  }
  if (::listen(fd.get(), backlog) != 0) {
    fail("listen");
  }
  return fd;
}

uint16_t boundPort(int fd) {
  sockaddr_in sa{};
  socklen_t size = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
    return 0;
  }
  return ntohs(sa.sin_port);
}

void setTimeouts(int fd, std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

Fd connectTo(uint32_t address, uint16_t port, std::chrono::milliseconds timeout) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    return fd;
  }
  // SO_SNDTIMEO also bounds a blocking connect.
  setTimeouts(fd.get(), timeout);
  const sockaddr_in sa = socketAddress(address, port);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int saved = errno;
    fd.reset();
    errno = saved;
  }
  return fd;
}

void closeWithReset(Fd& fd) {
  if (fd.valid()) {
    const linger reset{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    fd.reset();
  }
}

bool readExact(int fd, std::span<uint8_t> buffer) {
  return transferAll(buffer.size(), [&](std::size_t done) {
    return ::recv(fd, buffer.data() + done, buffer.size() - done, 0);
  });
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
  return transferAll(bytes.size(), [&](std::size_t done) {
    return ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
  });
}

std::string addressText(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
         std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

}  // namespace nvo_bench
