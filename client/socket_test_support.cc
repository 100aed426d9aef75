#include "client/socket_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vokra::testing {
namespace {

sockaddr_in loopbackEnd(uint16_t port) {
  sockaddr_in end{};
  end.sin_family = AF_INET;
  end.sin_addr.s_addr = loopbackAddress();
  end.sin_port = htons(port);
  return end;
}

// A TCP socket bound to 127.0.0.1 with a system-chosen port; `port` receives it (host order).
OwnedFd boundSocket(uint16_t& port) {
  OwnedFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in end = loopbackEnd(0);
  socklen_t size = sizeof end;
  if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&end), sizeof end) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&end), &size) != 0) {
    throw std::runtime_error("cannot bind a loopback socket");
  }
  port = ntohs(end.sin_port);
  return fd;
}

void ignoreSignal(int) {}

}  // namespace

uint32_t loopbackAddress() {
  return htonl(INADDR_LOOPBACK);
}

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

OwnedFd::~OwnedFd() {
  reset();
}

int OwnedFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void OwnedFd::reset() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  fd_ = -1;
}

Listener::Listener(int backlog) {
  fd_ = boundSocket(port_);
  if (::listen(fd_.get(), backlog) != 0) {
    throw std::runtime_error("cannot listen on a loopback socket");
  }
}

OwnedFd Listener::accept(int seconds) {
  pollfd entry{fd_.get(), POLLIN, 0};
  if (::poll(&entry, 1, seconds * 1000) != 1) {
    return OwnedFd();
  }
  return OwnedFd(::accept(fd_.get(), nullptr, nullptr));
}

RefusingPort::RefusingPort() {
  fd_ = boundSocket(port_);
}

OwnedFd connectRaw(uint16_t port) {
  OwnedFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  const sockaddr_in end = loopbackEnd(port);
  if (fd.get() < 0 || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&end), sizeof end)) {
    throw std::runtime_error("cannot connect to the loopback listener");
  }
  return fd;
}

int lowestFreeDescriptor() {
  const int fd = ::fcntl(0, F_DUPFD, 0);
  if (fd >= 0) {
    ::close(fd);
  }
  return fd;
}

std::string readSome(int fd, std::size_t length) {
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, 1000) != 1) {
    return "";
  }
  std::vector<char> buffer(length);
  const ssize_t count = ::read(fd, buffer.data(), buffer.size());
  return count > 0 ? std::string(buffer.data(), static_cast<std::size_t>(count)) : "";
}

Interrupter::Interrupter() : target_(::pthread_self()) {
  struct sigaction action {};
  action.sa_handler = ignoreSignal;  // no SA_RESTART: interrupted calls fail with EINTR
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGUSR1, &action, nullptr);
  thread_ = std::thread([this] {
    for (int round = 0; round < 500 && !stop_.load(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!stop_.load()) {
        ::pthread_kill(target_, SIGUSR1);
      }
    }
  });
}

Interrupter::~Interrupter() {
  stop_.store(true);
  thread_.join();
}

}  // namespace vokra::testing
