// Plain blocking TCP for the benchmark programs: the least a client or server of the event
// protocol can do, so that measurements of the daemon are compared with nothing but the
// socket work itself. Every descriptor gets send and receive time-outs (SO_SNDTIMEO,
// SO_RCVTIMEO), which bound each call without adding a call per read or write.
//
// Fd owns one descriptor. Free functions never throw unless they say so; addresses are IPv4
// in host byte order, ports in host order.
#ifndef BENCH_BENCH_SOCKET_H_
#define BENCH_BENCH_SOCKET_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace nvo_bench {

inline constexpr uint32_t kLoopback = 0x7f000001;  // 127.0.0.1, host order

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A listening socket on address:port (0: the system chooses) with SO_REUSEADDR. Throws
// std::runtime_error naming the failed call.
Fd listenOn(uint32_t address, uint16_t port, int backlog, bool nonBlocking);
// The bound port of a socket (host order); 0 on failure.
uint16_t boundPort(int fd);

// Connects to address:port; an invalid Fd when that fails (errno tells why). `timeout`
// bounds every later send and receive on the socket.
Fd connectTo(uint32_t address, uint16_t port, std::chrono::milliseconds timeout);
// Applies `timeout` to sends and receives of `fd`.
void setTimeouts(int fd, std::chrono::milliseconds timeout);
// Closes with a reset instead of the usual goodbye, so no TIME_WAIT state is left behind.
void closeWithReset(Fd& fd);

// Reads exactly buffer.size() bytes; false on end of stream, time-out or error.
bool readExact(int fd, std::span<uint8_t> buffer);
// Writes every byte; false on time-out or error. Never raises SIGPIPE.
bool writeAll(int fd, std::span<const uint8_t> bytes);

// "a.b.c.d" of a host-order address.
std::string addressText(uint32_t address);

}  // namespace nvo_bench

#endif  // BENCH_BENCH_SOCKET_H_
