// InetSocket: one IPv4 TCP client connection with optional time-outs (whole seconds) for
// connecting, reading and writing.
//
// Owns its descriptor and the stream objects over it; both are released by disconnect() and by
// the destructor. Move-only in spirit: neither copyable nor movable, because stream objects
// point at the descriptor. One thread uses one InetSocket at a time; no locking.
//
// Failures throw the SocketException of the library the socket layer is linked into (see
// client/socket_error.h): vokra::SocketException in libvokra, teska::SocketException in the
// daemons. Addresses are IPv4 in network byte order; which ports are in network order is said
// per operation.
#ifndef CLIENT_INET_SOCKET_H_
#define CLIENT_INET_SOCKET_H_

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "client/vokra_export.h"

struct sockaddr_in;

namespace vokra {

class VOKRA_API InetSocket {
 public:
  // Unconnected: descriptor -1, every address, port and time-out 0, no streams.
  InetSocket();
  // Adopts an already connected descriptor (for example from accept): connected, both ends
  // recorded by fillAddrParms(); the descriptor is closed by disconnect(). Ownership passes in
  // every case: when fillAddrParms() throws, the descriptor is closed before the exception
  // leaves the constructor.
  explicit InetSocket(int descriptor);
  // Adopts a descriptor accept() returned together with the peer's address: connected, the
  // peer recorded as given, the local end looked up when first asked. Ownership passes.
  InetSocket(int descriptor, const sockaddr_in& peer);
  // Unconnected, then connect(host, port); `port` in host order.
  InetSocket(const std::string& host, unsigned short port);
  // Unconnected, then connect(inetAddrToString(address), port); both in network order.
  InetSocket(uint32_t address, unsigned short port);
  // Calls disconnect().
  ~InetSocket();

  InetSocket(const InetSocket&) = delete;
  InetSocket& operator=(const InetSocket&) = delete;

  // Resolves `host` (a name or a dotted address) with gethostbyname and connects to its first
  // address; `port` in host order. An unknown host throws SocketException(22,
  // "InetSocket::connect", "gethostbyname").
  void connect(const std::string& host, unsigned short port);
  // Connects to `address` (network order) and `port` (host order), first disconnecting an
  // existing connection. With a connect time-out above 0 the connect is non-blocking and waits
  // at most that many seconds. The peer's address and port are those connected to; the local
  // end is looked up when first asked for. Failure throws SocketException (errno, or 110 for a
  // time-out or a pending error after the timed wait, or 9 when no socket could be created) with
  // where "InetSocket::connect"; the socket is then unconnected and holds no descriptor.
  void connect(uint32_t address, unsigned short port);
  // Closes the descriptor and destroys the streams; does nothing when not connected.
  void disconnect();
  // Records the local and peer address and port (getsockname, getpeername); a failure throws
  // SocketException(errno, "InetSocket::fillAddrParms", "getsockname" or "getpeername").
  void fillAddrParms();

  // "a.b.c.d:port" of the local end. Where the constructor or connect did not record it, the
  // first call of this or localAddress()/localPort() looks it up (getsockname); should that
  // fail, address and port read 0.
  std::string localAddrString() const;
  std::string peerAddrString() const;  // "a.b.c.d:port" of the peer

  // One write (read) of `length` bytes. With a write (read) time-out above 0 the call waits
  // at most that many seconds for the socket to take (deliver) bytes; without one it blocks.
  // Returns the count transferred: a read returns what has arrived (0: the peer closed); a
  // write without time-out sends everything, a timed one what the socket took within the time
  // (all of it unless the peer stops reading). Otherwise -1 with errno set: 9 when not
  // connected, 110 when the wait timed out, or the failed call's errno. With `throwOnError` true a
  // failure throws SocketException(errno, "InetSocket::write" / "InetSocket::read", "write" /
  // "read") instead. A negative `length` fails with 22 without a call. Writing to a peer that has
  // gone fails with EPIPE (or ECONNRESET) and never raises SIGPIPE.
  int write(const void* buffer, int length, bool throwOnError);
  int read(void* buffer, int length, bool throwOnError);

  // waitForIO on the descriptor; true when ready. -1 waits without limit.
  bool waitForInput(int seconds);
  bool waitForOutput(int seconds);

  // Sets the read, write and connect time-outs to `seconds` (0 or less: no limit).
  void setTimeouts(int seconds);
  void setReadTimeout(int seconds) { readTimeout_ = seconds; }
  void setWriteTimeout(int seconds) { writeTimeout_ = seconds; }
  void setConnectTimeout(int seconds) { connectTimeout_ = seconds; }

  // Creates the input, output and input/output streams over the connected descriptor (the
  // input stream tied to the output stream); streams that exist already are kept. The three
  // share one buffer, which sends pending output before it reads and when the streams are
  // destroyed by disconnect(), before the descriptor is closed. Stream reads and writes wait
  // without time-out. Not connected: SocketException(9, "InetSocket::getStreams", "NONE").
  void getStreams();
  std::istream& getInputStream();
  std::ostream& getOutputStream();
  std::iostream& getIOStream();

  int descriptor() const { return fd_; }
  bool isConnected() const { return connected_; }
  uint32_t localAddress() const;                         // network order
  uint16_t localPort() const;                            // network order
  uint32_t peerAddress() const { return peerAddress_; }  // network order
  uint16_t peerPort() const { return peerPort_; }        // network order

 private:
  struct Streams;

  // Records the local end with getsockname() unless known; leaves it 0 when that fails.
  void learnLocalEnd() const;

  int fd_ = -1;
  // The local end is filled in on first use where it was not recorded at once: a cache, so
  // const readers may fill it (one thread at a time uses one InetSocket).
  mutable uint32_t localAddress_ = 0;
  mutable uint16_t localPort_ = 0;
  mutable bool localKnown_ = false;
  uint32_t peerAddress_ = 0;
  uint16_t peerPort_ = 0;
  bool connected_ = false;
  // Bytes were written since the last read: the next read waits for its answer at once.
  bool replyAwaited_ = false;
  std::unique_ptr<Streams> streams_;
  int readTimeout_ = 0;
  int writeTimeout_ = 0;
  int connectTimeout_ = 0;
};

}  // namespace vokra

#endif  // CLIENT_INET_SOCKET_H_
