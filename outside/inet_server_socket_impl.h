// InetServerSocketImpl: a listening IPv4 TCP socket on all interfaces, handing out accepted
// connections as counted shared handles.
//
// Owns the listening descriptor; close() and the destructor release it. accept() may be called
// by one thread while another thread calls close() only after the acceptor has been woken (the
// daemons wake it with a connection of their own).
#ifndef OUTSIDE_INET_SERVER_SOCKET_IMPL_H_
#define OUTSIDE_INET_SERVER_SOCKET_IMPL_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "client/inet_socket.h"

namespace teska {

// The support library's names for the socket layer's connection class and for a counted shared
// handle: the connection stays open while any holder keeps a Reference to it.
using InetSocketImpl = vokra::InetSocket;
template <class T>
using Reference = std::shared_ptr<T>;

class InetServerSocketImpl {
 public:
  // Not listening.
  InetServerSocketImpl();
  // doListen(port, backlog, reuseAddress, closeOnExec).
  InetServerSocketImpl(unsigned short port, int backlog, bool reuseAddress, bool closeOnExec);
  ~InetServerSocketImpl();
  InetServerSocketImpl(const InetServerSocketImpl&) = delete;
  InetServerSocketImpl& operator=(const InetServerSocketImpl&) = delete;

  // Binds `port` (host order; 0 lets the system choose) on every interface and listens with
  // `backlog`, first closing a socket this object already listens on. `reuseAddress` sets
  // SO_REUSEADDR; `closeOnExec` keeps the listening and the accepted descriptors from programs
  // the process executes. Failure throws SocketException with where
  // "InetServerSocketImpl::doListen" and what "socket", "setsockopt", "bind", "listen" or
  // "getsockname"; the object is then not listening.
  void doListen(unsigned short port, int backlog, bool reuseAddress, bool closeOnExec);

  // Waits for a connection: `seconds` -1 without limit, 0 not at all, otherwise at most that
  // long. Returns the connection, or an empty Reference when none arrived in time. A failing
  // wait or accept (for example EMFILE) throws SocketException with where
  // "InetServerSocketImpl::accept" and what "poll" or "accept" (EBADF when not listening);
  // callers back off before accepting again. Interrupted waits are retried, and a connection
  // that vanished between the wait and the accept counts as not yet arrived. Never blocks
  // beyond `seconds`: the listening descriptor is non-blocking. `waitFirst` is for a caller
  // that has just found nothing waiting (accept(0)): it waits before the first accept
  // instead of asking again at once.
  Reference<InetSocketImpl> accept(int seconds, bool waitFirst = false);

  // The bound port in network byte order (0 when not listening).
  uint16_t port() const { return port_; }
  int descriptor() const { return fd_.load(); }
  // "0.0.0.0:port" of the listening end.
  std::string addrString() const;
  void close();

 private:
  // Atomic so an acceptor that has just been woken and a closing thread never race on it.
  std::atomic<int> fd_{-1};
  uint16_t port_ = 0;
  bool closeOnExec_ = false;
};

}  // namespace teska

#endif  // OUTSIDE_INET_SERVER_SOCKET_IMPL_H_
