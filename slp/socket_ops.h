// The one place where SLP code calls the BSD socket interface. Descriptors are owned by
// UniqueFd; failures become SocketError (errno and the failing call), thrown from
// throwErrno() only. IPv4 only. Any thread; each descriptor is used by one thread at a time.
#ifndef SLP_SOCKET_OPS_H_
#define SLP_SOCKET_OPS_H_

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include <netinet/in.h>

namespace vslp {

class SocketError : public std::system_error {
 public:
  SocketError(int error, const std::string& where)
      : std::system_error(error, std::generic_category(), where), where_(where) {}
  // The failing call and its object, e.g. "bind to port 427".
  const std::string& where() const { return where_; }

 private:
  std::string where_;
};

// Throws SocketError for the current errno and `where`.
[[noreturn]] void throwErrno(const std::string& where);

// Move-only owner of a file descriptor; closes it on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset();

 private:
  int fd_ = -1;
};

// An IPv4 address and port, both in host byte order.
struct Endpoint {
  uint32_t addr = 0;
  uint16_t port = 0;
  sockaddr_in sockaddr() const;
  static Endpoint from(const sockaddr_in& sa);
  bool operator==(const Endpoint&) const = default;
};

// Dotted-decimal text of a host-order address.
std::string addressText(uint32_t addr);
// Host-order address of dotted-decimal `text`; empty when malformed.
std::optional<uint32_t> parseAddress(const std::string& text);
bool isLoopbackAddress(uint32_t addr);
bool isMulticastAddress(uint32_t addr);

// A non-blocking, close-on-exec socket.
UniqueFd openSocket(int type);
void setReuseAddress(int fd);
void bindTo(int fd, Endpoint local);
void listenOn(int fd, int backlog);
Endpoint localEndpoint(int fd);

// Receiving side of UDP with IP_PKTINFO: the datagram, its sender, the interface it came in
// on and the address it was sent to.
struct Datagram {
  std::vector<uint8_t> data;
  bool truncated = false;  // larger than the buffer
  Endpoint from;
  uint32_t destination = 0;   // header destination address
  uint32_t localAddress = 0;  // address of the receiving interface (reply source)
  int interfaceIndex = 0;
};
void enablePacketInfo(int fd);
// One datagram, or empty when none is waiting.
std::optional<Datagram> receiveDatagram(int fd, size_t maxSize);
// Sends `data` to `to`, from `source` when non-zero. False when the kernel refused (the
// error is in errno); never throws for per-packet errors.
bool sendDatagram(int fd, std::span<const uint8_t> data, Endpoint to, uint32_t source);

// Multicast membership of `group` on the interface `ifIndex`. False (errno set) on failure.
bool joinGroup(int fd, uint32_t group, int ifIndex);
void setMulticastTtl(int fd, int ttl);
void setMulticastLoop(int fd, bool on);
// Selects the interface (by its address) for outgoing multicast. False on failure.
bool setMulticastInterface(int fd, uint32_t ifAddress);

// Starts a non-blocking connect. True when connected at once, false when in progress; throws
// on immediate failure (ECONNREFUSED and the like).
bool startConnect(int fd, Endpoint to);
// The pending error of a socket (SO_ERROR).
int pendingError(int fd);
// Accepts one connection; empty when none is pending (or it was aborted).
std::optional<UniqueFd> acceptConnection(int listenFd, Endpoint& peer);

// Reads up to `size` bytes; returns the count, 0 at end of stream, -1 when it would block.
// Throws on errors.
long readSome(int fd, uint8_t* buf, size_t size);
// Writes up to `size` bytes; returns the count or -1 when it would block. Throws on errors.
long writeSome(int fd, const uint8_t* buf, size_t size);

// poll() with a time-out clamped to [0, 1 hour]; EINTR counts as no event (returns 0).
int pollFor(std::vector<struct pollfd>& fds, std::chrono::milliseconds timeout);

}  // namespace vslp

#endif  // SLP_SOCKET_OPS_H_
