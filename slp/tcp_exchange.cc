#include "slp/tcp_exchange.h"

#include <poll.h>

#include <cerrno>

#include "slp/codec.h"

namespace vslp {

TcpExchange::TcpExchange(Endpoint to, std::vector<uint8_t> request)
    : fd_(openSocket(SOCK_STREAM)), peer_(to), output_(std::move(request)) {
  if (startConnect(fd_.get(), to)) {
    state_ = State::kSending;
  }
}

short TcpExchange::events() const {
  switch (state_) {
    case State::kConnecting:
    case State::kSending:
      return POLLOUT;
    case State::kReceiving:
      return POLLIN;
    default:
      return 0;
  }
}

void TcpExchange::fail(int error) {
  state_ = State::kFailed;
  error_ = error;
  fd_.reset();
}

void TcpExchange::onEvents(short revents) {
  if (finished() || revents == 0) {
    return;
  }
  if (state_ == State::kConnecting) {
    int error = pendingError(fd_.get());
    if (error != 0) {
      fail(error);
      return;
    }
    state_ = State::kSending;
  }
  if (state_ == State::kSending) {
    send();
  } else if (state_ == State::kReceiving && (revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    receive();
  }
}

void TcpExchange::send() {
  try {
    while (written_ < output_.size()) {
      long n = writeSome(fd_.get(), output_.data() + written_, output_.size() - written_);
      if (n < 0) {
        return;
      }
      written_ += static_cast<size_t>(n);
    }
  } catch (const SocketError& e) {
    fail(e.code().value());
    return;
  }
  state_ = State::kReceiving;
}

void TcpExchange::receive() {
  uint8_t buf[16384];
  try {
    // Bounded: each pass consumes data or stops; the reply is capped at kMaxTcpReply.
    for (int pass = 0; pass < 64; ++pass) {
      size_t want = sizeof buf;
      if (auto length = peekLength(input_)) {
        if (*length < kHeaderFixedSize || *length > kMaxTcpReply) {
          fail(EPROTO);
          return;
        }
        if (input_.size() >= *length) {
          input_.resize(*length);
          state_ = State::kDone;
          fd_.reset();
          return;
        }
        want = std::min(want, *length - input_.size());
      } else if (input_.size() >= 5) {
        fail(EPROTO);
        return;
      } else {
        want = 5 - input_.size();
      }
      long n = readSome(fd_.get(), buf, want);
      if (n < 0) {
        return;
      }
      if (n == 0) {
        fail(EPROTO);
        return;
      }
      input_.insert(input_.end(), buf, buf + n);
    }
  } catch (const SocketError& e) {
    fail(e.code().value());
  }
}

std::optional<std::vector<uint8_t>> TcpExchange::run(Endpoint to, std::vector<uint8_t> request,
                                                     std::chrono::milliseconds timeout,
                                                     int& error) {
  std::optional<TcpExchange> x;
  try {
    x.emplace(to, std::move(request));
  } catch (const SocketError& e) {
    error = e.code().value();
    return std::nullopt;
  }
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!x->finished()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error = ETIMEDOUT;
      return std::nullopt;
    }
    std::vector<pollfd> fds{{x->fd(), x->events(), 0}};
    pollFor(fds, left);
    x->onEvents(fds[0].revents);
  }
  if (x->state() == State::kFailed) {
    error = x->error();
    return std::nullopt;
  }
  error = 0;
  return x->reply();
}

}  // namespace vslp
