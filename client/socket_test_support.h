// Loopback helpers for the socket layer's tests: a listening socket on 127.0.0.1 with a
// system-chosen port, a port that refuses connections, a descriptor owner, and a thread that
// interrupts a blocking call with signals. Nothing here reaches beyond 127.0.0.1.
#ifndef CLIENT_SOCKET_TEST_SUPPORT_H_
#define CLIENT_SOCKET_TEST_SUPPORT_H_

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vokra::testing {

// 127.0.0.1 in network byte order.
uint32_t loopbackAddress();

// Owns one descriptor; closes it on destruction. Move-only.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept;
  ~OwnedFd();
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd_; }
  int release();
  void reset();

 private:
  int fd_ = -1;
};

// A TCP socket listening on 127.0.0.1 with a port the system chose.
class Listener {
 public:
  explicit Listener(int backlog = 16);
  uint16_t port() const { return port_; }  // host order
  // Waits at most `seconds` for a connection; an empty OwnedFd when none came.
  OwnedFd accept(int seconds = 1);
  int descriptor() const { return fd_.get(); }

 private:
  OwnedFd fd_;
  uint16_t port_ = 0;
};

// A TCP socket bound to a 127.0.0.1 port but not listening: connections to that port are
// refused for as long as the object lives, and no other program can take the port meanwhile.
class RefusingPort {
 public:
  RefusingPort();
  uint16_t port() const { return port_; }  // host order

 private:
  OwnedFd fd_;
  uint16_t port_ = 0;
};

// A blocking client connection to 127.0.0.1:`port`, made without the code under test.
OwnedFd connectRaw(uint16_t port);

// The number the next socket(), dup() or open() would get; equal numbers before and after an
// operation show that it left no descriptor open.
int lowestFreeDescriptor();

// Reads up to `length` bytes from `fd`, waiting at most 1 s; the bytes read ("" at end of
// file or on time-out).
std::string readSome(int fd, std::size_t length);

// While it lives, sends SIGUSR1 (whose handler does nothing and does not restart calls) to the
// thread that created it every 10 ms, at most 500 times, so that a blocking call in that
// thread fails with EINTR.
class Interrupter {
 public:
  Interrupter();
  ~Interrupter();
  Interrupter(const Interrupter&) = delete;
  Interrupter& operator=(const Interrupter&) = delete;

 private:
  pthread_t target_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vokra::testing

#endif  // CLIENT_SOCKET_TEST_SUPPORT_H_
