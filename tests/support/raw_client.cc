#include "tests/support/raw_client.h"

#include <unistd.h>

#include <ios>
#include <stdexcept>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "protocol/tolm_wire.h"
#include "tests/support/fd_io.h"

namespace nvo_test {

RawConnection::RawConnection(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    closeFd(fd_);
    throw std::runtime_error("RawConnection: cannot connect to 127.0.0.1:" + std::to_string(port));
  }
}

RawConnection::~RawConnection() {
  close();
}

bool RawConnection::send(std::span<const uint8_t> bytes) {
  return writeAll(fd_, bytes.data(), bytes.size(), deadlineIn(std::chrono::seconds(10)));
}

void RawConnection::shutdownWrite() {
  ::shutdown(fd_, SHUT_WR);
}

std::vector<uint8_t> RawConnection::read(std::size_t length, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> bytes(length);
  bytes.resize(readUpTo(fd_, bytes.data(), length, deadlineIn(timeout)));
  return bytes;
}

bool RawConnection::peerClosed(std::chrono::milliseconds timeout) {
  char byte;
  return waitReadable(fd_, deadlineIn(timeout)) && ::recv(fd_, &byte, 1, MSG_PEEK) == 0;
}

void RawConnection::close() {
  closeFd(fd_);
}

std::ostream& operator<<(std::ostream& out, const Answer& answer) {
  std::ios_base::fmtflags flags = out.flags();
  out << "(0x" << std::hex << answer.version << ", 0x" << answer.code << ", " << std::dec
      << answer.result << ")";
  out.flags(flags);
  return out;
}

std::optional<Answer> exchange(uint16_t port, std::span<const uint8_t> request,
                               std::chrono::milliseconds timeout) {
  RawConnection connection(port);
  connection.send(request);
  connection.shutdownWrite();
  std::vector<uint8_t> bytes = connection.read(tolm::kHeaderSize, timeout);
  if (bytes.size() != tolm::kHeaderSize) {
    return std::nullopt;
  }
  tolm::Header header =
      tolm::decodeHeader(std::span<const uint8_t, tolm::kHeaderSize>(bytes.data(), 12));
  return Answer{header.version, header.function, header.length};
}

}  // namespace nvo_test
