#include "tests/support/many_clients.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace nvo_test {
namespace {

using Clock = std::chrono::steady_clock;

// A reply larger than this is no reply of a service under test: reading stops there.
constexpr std::size_t kMaxReplyBytes = 1 << 20;

sockaddr_in endpoint(const std::string& address, uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
    throw std::runtime_error("not an IPv4 address: " + address);
  }
  return peer;
}

void raiseDescriptorLimit(std::size_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) {
    return;
  }
  limit.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// One connection of exchangeAtOnce.
struct Client {
  enum class State { kConnecting, kSending, kReading, kDone };
  UniqueFd fd;
  State state = State::kDone;
  std::size_t sent = 0;
};

// Moves `client` on after poll reported `events`.
void advance(Client& client, short events, const std::vector<uint8_t>& request,
             std::vector<uint8_t>& reply) {
  const int fd = client.fd.get();
  if (client.state == Client::State::kConnecting) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      client.state = Client::State::kDone;
      return;
    }
    client.state = Client::State::kSending;
  }
  if (client.state == Client::State::kSending) {
    const ssize_t n =
        ::send(fd, request.data() + client.sent, request.size() - client.sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      client.state = Client::State::kDone;
      return;
    }
    client.sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    if (client.sent == request.size()) {
      ::shutdown(fd, SHUT_WR);  // the whole request is out: the server reads its end
      client.state = Client::State::kReading;
    }
    return;
  }
  if (client.state == Client::State::kReading && (events & (POLLIN | POLLHUP | POLLERR)) != 0) {
    uint8_t buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      reply.insert(reply.end(), buffer, buffer + n);
    }
    if ((n < 0 && errno != EAGAIN && errno != EINTR) || n == 0 || reply.size() >= kMaxReplyBytes) {
      client.state = Client::State::kDone;
    }
  }
}

}  // namespace

std::vector<std::vector<uint8_t>> exchangeAtOnce(const std::string& address, uint16_t port,
                                                 const std::vector<std::vector<uint8_t>>& requests,
                                                 std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const sockaddr_in peer = endpoint(address, port);
  raiseDescriptorLimit(requests.size() + 64);
  std::vector<Client> clients(requests.size());
  std::vector<std::vector<uint8_t>> replies(requests.size());
  for (Client& client : clients) {
    client.fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!client.fd.valid()) {
      continue;
    }
    if (::connect(client.fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
      client.state = Client::State::kSending;
    } else if (errno == EINPROGRESS) {
      client.state = Client::State::kConnecting;
    }
  }
  std::vector<pollfd> ready;
  std::vector<std::size_t> which;
  while (millisecondsLeft(deadline) > 0) {
    ready.clear();
    which.clear();
    for (std::size_t i = 0; i < clients.size(); ++i) {
      const Client::State state = clients[i].state;
      if (state == Client::State::kDone) {
        continue;
      }
      const short events = state == Client::State::kReading ? POLLIN : POLLOUT;
      ready.push_back({clients[i].fd.get(), events, 0});
      which.push_back(i);
    }
    if (ready.empty()) {
      break;
    }
    const int count = ::poll(ready.data(), ready.size(), millisecondsLeft(deadline));
    if (count < 0 && errno != EINTR) {
      break;
    }
    for (std::size_t k = 0; count > 0 && k < ready.size(); ++k) {
      if (ready[k].revents != 0) {
        const std::size_t i = which[k];
        advance(clients[i], ready[k].revents, requests[i], replies[i]);
      }
    }
  }
  return replies;
}

UniqueFd connectTo(const std::string& address, uint16_t port, std::chrono::milliseconds timeout) {
  const sockaddr_in peer = endpoint(address, port);
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    return fd;
  }
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS) {
      return UniqueFd();
    }
    pollfd wait{fd.get(), POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (::poll(&wait, 1, static_cast<int>(timeout.count())) != 1 ||
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      return UniqueFd();
    }
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return UniqueFd();
  }
  return fd;
}

void runInNetworkNamespace(const std::string& name, const std::function<void()>& body) {
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      UniqueFd ns(::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC));
      // Only this thread changes its network namespace; the process keeps its own.
      if (!ns.valid() || ::setns(ns.get(), CLONE_NEWNET) != 0) {
        throw std::runtime_error("cannot enter network namespace " + name + ": " +
                                 std::strerror(errno));
      }
      body();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  worker.join();
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace nvo_test
