#include "client/tools/listen_socket.h"

#include <errno.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "client/socket_exception.h"

namespace vokra {
namespace {

constexpr int kBacklog = 16;

}  // namespace

ListenSocket::ListenSocket(uint32_t address, uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    throw SocketException(errno, "ListenSocket", "socket");
  }
  const int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  local.sin_port = htons(port);
  socklen_t size = sizeof local;
  const char* step = nullptr;
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    step = "bind";
  } else if (::listen(fd_, kBacklog) != 0) {
    step = "listen";
  } else if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    step = "getsockname";
  }
  if (step != nullptr) {
    const int error = errno;
    ::close(fd_);
    throw SocketException(error, "ListenSocket", step);
  }
  port_ = ntohs(local.sin_port);
}

ListenSocket::~ListenSocket() {
  ::close(fd_);
}

int ListenSocket::acceptConnection() {
  // The accepted socket blocks; its reads and writes are bounded by InetSocket time-outs.
  return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

}  // namespace vokra
