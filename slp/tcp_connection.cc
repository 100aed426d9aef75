#include "slp/tcp_connection.h"

#include <algorithm>

#include "slp/codec.h"

namespace vslp {

TcpConnection::TcpConnection(UniqueFd fd, Endpoint peer, uint32_t localAddress, bool local,
                             Clock::time_point now)
    : fd_(std::move(fd)),
      peer_(peer),
      localAddress_(localAddress),
      local_(local),
      lastActivity_(now) {}

bool TcpConnection::receive(Clock::time_point now) {
  uint8_t buf[4096];
  // Read at most one buffer per call; poll() reports the rest.
  size_t room = kMaxTcpRequest + sizeof buf - input_.size();
  if (room == 0) {
    return true;  // a whole message is buffered; it is taken before reading on
  }
  long n;
  try {
    n = readSome(fd_.get(), buf, std::min(sizeof buf, room));
  } catch (const SocketError&) {
    return false;
  }
  if (n == 0) {
    return false;
  }
  if (n > 0) {
    input_.insert(input_.end(), buf, buf + n);
    lastActivity_ = now;
  }
  if (input_.size() >= 5) {
    auto length = peekLength(input_);
    if (!length || *length < kHeaderFixedSize || *length > kMaxTcpRequest) {
      return false;
    }
  }
  return true;
}

std::optional<std::vector<uint8_t>> TcpConnection::takeMessage() {
  if (!output_.empty() || last_ || input_.size() < 5) {
    return std::nullopt;
  }
  auto length = peekLength(input_);
  if (!length || input_.size() < *length) {
    return std::nullopt;
  }
  std::vector<uint8_t> message(input_.begin(), input_.begin() + *length);
  input_.erase(input_.begin(), input_.begin() + *length);
  return message;
}

void TcpConnection::queueReply(std::vector<uint8_t> reply, bool last) {
  output_ = std::move(reply);
  written_ = 0;
  last_ = last;
}

bool TcpConnection::flush(Clock::time_point now) {
  while (written_ < output_.size()) {
    long n;
    try {
      n = writeSome(fd_.get(), output_.data() + written_, output_.size() - written_);
    } catch (const SocketError&) {
      return false;
    }
    if (n < 0) {
      return true;
    }
    written_ += static_cast<size_t>(n);
    lastActivity_ = now;
  }
  output_.clear();
  written_ = 0;
  return true;
}

}  // namespace vslp
