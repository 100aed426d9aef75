#include "slp/socket_ops.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace vslp {

void throwErrno(const std::string& where) {
  throw SocketError(errno, where);
}

UniqueFd::~UniqueFd() {
  reset();
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

sockaddr_in Endpoint::sockaddr() const {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  sa.sin_port = htons(port);
  return sa;
}

Endpoint Endpoint::from(const sockaddr_in& sa) {
  return Endpoint{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

std::string addressText(uint32_t addr) {
  in_addr a{htonl(addr)};
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

std::optional<uint32_t> parseAddress(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) {
    return std::nullopt;
  }
  return ntohl(a.s_addr);
}

bool isLoopbackAddress(uint32_t addr) {
  return (addr >> 24) == 127;
}

bool isMulticastAddress(uint32_t addr) {
  return (addr >> 28) == 0xe;
}

UniqueFd openSocket(int type) {
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throwErrno("socket");
  }
  return UniqueFd(fd);
}

void setReuseAddress(int fd) {
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    throwErrno("setsockopt(SO_REUSEADDR)");
  }
}

void bindTo(int fd, Endpoint local) {
  sockaddr_in sa = local.sockaddr();
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    throwErrno("bind to port " + std::to_string(local.port));
  }
}

void listenOn(int fd, int backlog) {
  if (::listen(fd, backlog) != 0) {
    throwErrno("listen");
  }
}

Endpoint localEndpoint(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    throwErrno("getsockname");
  }
  return Endpoint::from(sa);
}

void enablePacketInfo(int fd) {
  int on = 1;
  if (::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
    throwErrno("setsockopt(IP_PKTINFO)");
  }
}

std::optional<Datagram> receiveDatagram(int fd, size_t maxSize) {
  Datagram d;
  d.data.resize(maxSize);
  sockaddr_in from{};
  iovec iov{d.data.data(), d.data.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = ::recvmsg(fd, &msg, MSG_TRUNC);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return std::nullopt;
    }
    throwErrno("recvmsg");
  }
  d.truncated = static_cast<size_t>(n) > maxSize || (msg.msg_flags & MSG_TRUNC) != 0;
  d.data.resize(std::min(static_cast<size_t>(n), maxSize));
  d.from = Endpoint::from(from);
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      d.destination = ntohl(info.ipi_addr.s_addr);
      d.localAddress = ntohl(info.ipi_spec_dst.s_addr);
      d.interfaceIndex = info.ipi_ifindex;
    }
  }
  return d;
}

bool sendDatagram(int fd, std::span<const uint8_t> data, Endpoint to, uint32_t source) {
  sockaddr_in dest = to.sockaddr();
  iovec iov{const_cast<uint8_t*>(data.data()), data.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr msg{};
  msg.msg_name = &dest;
  msg.msg_namelen = sizeof dest;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  if (source != 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(source);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  return ::sendmsg(fd, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

bool joinGroup(int fd, uint32_t group, int ifIndex) {
  ip_mreqn req{};
  req.imr_multiaddr.s_addr = htonl(group);
  req.imr_ifindex = ifIndex;
  return ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) == 0 ||
         errno == EADDRINUSE;
}

void setMulticastTtl(int fd, int ttl) {
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
    throwErrno("setsockopt(IP_MULTICAST_TTL)");
  }
}

void setMulticastLoop(int fd, bool on) {
  int v = on ? 1 : 0;
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &v, sizeof v) != 0) {
    throwErrno("setsockopt(IP_MULTICAST_LOOP)");
  }
}

bool setMulticastInterface(int fd, uint32_t ifAddress) {
  in_addr a{htonl(ifAddress)};
  return ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) == 0;
}

bool startConnect(int fd, Endpoint to) {
  sockaddr_in sa = to.sockaddr();
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    return true;
  }
  if (errno == EINPROGRESS) {
    return false;
  }
  throwErrno("connect to " + addressText(to.addr) + ":" + std::to_string(to.port));
}

int pendingError(int fd) {
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
    return errno;
  }
  return error;
}

std::optional<UniqueFd> acceptConnection(int listenFd, Endpoint& peer) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd =
      ::accept4(listenFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED ||
        errno == EPROTO) {
      return std::nullopt;
    }
    throwErrno("accept");
  }
  peer = Endpoint::from(sa);
  return UniqueFd(fd);
}

long readSome(int fd, uint8_t* buf, size_t size) {
  ssize_t n = ::recv(fd, buf, size, 0);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return -1;
    }
    throwErrno("recv");
  }
  return n;
}

long writeSome(int fd, const uint8_t* buf, size_t size) {
  ssize_t n = ::send(fd, buf, size, MSG_NOSIGNAL);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return -1;
    }
    throwErrno("send");
  }
  return n;
}

int pollFor(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) {
  long ms = std::clamp<long>(static_cast<long>(timeout.count()), 0, 3600L * 1000);
  int n = ::poll(fds.data(), fds.size(), static_cast<int>(ms));
  if (n < 0) {
    if (errno == EINTR) {
      return 0;
    }
    throwErrno("poll");
  }
  return n;
}

}  // namespace vslp
