// ListenSocket: a listening IPv4 TCP socket for the listener tool, the end the event daemon
// connects to for PING probes and NOTIFY packets.
//
// Owns its descriptor (closed by the destructor); neither copyable nor movable. One thread
// uses it at a time.
#ifndef CLIENT_TOOLS_LISTEN_SOCKET_H_
#define CLIENT_TOOLS_LISTEN_SOCKET_H_

#include <cstdint>

namespace vokra {

class ListenSocket {
 public:
  // Binds `address` (network order; 0 for every local address) and `port` (host order; 0 lets
  // the system choose) and listens. Throws vokra::SocketException(errno, "ListenSocket",
  // "socket" / "bind" / "listen" / "getsockname") on failure.
  ListenSocket(uint32_t address, uint16_t port);
  ~ListenSocket();
  ListenSocket(const ListenSocket&) = delete;
  ListenSocket& operator=(const ListenSocket&) = delete;

  int descriptor() const { return fd_; }
  // The bound port, host order.
  uint16_t port() const { return port_; }

  // Accepts one pending connection without blocking: its descriptor (owned by the caller), or
  // -1 with errno set when none is pending or accepting failed.
  int acceptConnection();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace vokra

#endif  // CLIENT_TOOLS_LISTEN_SOCKET_H_
