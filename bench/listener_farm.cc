#include "bench/listener_farm.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

#include <sys/epoll.h>
#include <sys/socket.h>

namespace nvo_bench {
namespace {

constexpr auto kIoTimeout = std::chrono::seconds(2);
constexpr int kBacklog = 64;
constexpr uint64_t kWakeIndex = ~uint64_t{0};

uint32_t word(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

// 127.1.0.1, 127.1.0.2, ... 127.1.0.250, 127.1.1.1, ...: never .0 or .255 in the last byte.
uint32_t farmAddress(std::size_t i) {
  return 0x7f010000u | static_cast<uint32_t>((i / 250) << 8) | static_cast<uint32_t>(i % 250 + 1);
}

void watch(int epoll, int fd, uint64_t index) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = index;
  if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
    throw std::runtime_error(std::string("ListenerFarm: epoll_ctl: ") + std::strerror(errno));
  }
}

}  // namespace

ListenerFarm::ListenerFarm(std::size_t count) : listeners_(count) {
  epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
  int pipe[2];
  if (!epoll_.valid() || ::pipe2(pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("ListenerFarm: cannot create epoll or pipe");
  }
  wakeRead_.reset(pipe[0]);
  wakeWrite_.reset(pipe[1]);
  watch(epoll_.get(), wakeRead_.get(), kWakeIndex);
  for (std::size_t i = 0; i < count; ++i) {
    Listener& listener = listeners_[i];
    listener.address = farmAddress(i);
    listener.socket = listenOn(listener.address, 0, kBacklog, true);
    listener.port = boundPort(listener.socket.get());
    watch(epoll_.get(), listener.socket.get(), i);
  }
  thread_ = std::thread([this] { serve(); });
}

ListenerFarm::~ListenerFarm() {
  stop_ = true;
  const char byte = 0;
  [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_.get(), &byte, 1);
  thread_.join();
}

void ListenerFarm::close(std::size_t i) {
  std::lock_guard<std::mutex> lock(mutex_);
  listeners_[i].socket.reset();  // a closed descriptor leaves the epoll set by itself
}

void ListenerFarm::reopen(std::size_t i) {
  std::lock_guard<std::mutex> lock(mutex_);
  Listener& listener = listeners_[i];
  if (!listener.socket.valid()) {
    listener.socket = listenOn(listener.address, listener.port, kBacklog, true);
    watch(epoll_.get(), listener.socket.get(), i);
  }
}

std::size_t ListenerFarm::notifyCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notifies_;
}

std::size_t ListenerFarm::pingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pings_;
}

void ListenerFarm::resetCounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  notifies_ = 0;
  pings_ = 0;
  arrivals_.clear();
}

std::optional<Clock::time_point> ListenerFarm::waitForNotifies(
    std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  awaited_ = count;
  if (!arrived_.wait_for(lock, timeout, [&] { return arrivals_.size() >= count; })) {
    return std::nullopt;
  }
  return count == 0 ? Clock::now() : arrivals_[count - 1];
}

std::vector<Clock::time_point> ListenerFarm::arrivals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arrivals_;
}

void ListenerFarm::serve() {
  std::array<epoll_event, 64> events{};
  while (!stop_) {
    const int n = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), 500);
    for (int k = 0; k < n && !stop_; ++k) {
      if (events[k].data.u64 != kWakeIndex) {
        acceptFrom(static_cast<std::size_t>(events[k].data.u64));
      }
    }
  }
}

void ListenerFarm::acceptFrom(std::size_t index) {
  for (;;) {
    Fd connection;
    {
      // A listener closed meanwhile (or closed and opened again) just yields nothing here.
      std::lock_guard<std::mutex> lock(mutex_);
      const int listening = listeners_[index].socket.get();
      if (listening < 0) {
        return;
      }
      connection.reset(::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC));
    }
    if (!connection.valid()) {
      return;  // nothing more waiting (the listening socket does not block)
    }
    setTimeouts(connection.get(), kIoTimeout);
    serveConnection(connection.get());
  }
}

void ListenerFarm::serveConnection(int fd) {
  std::array<uint8_t, 12> header{};
  if (!readExact(fd, header)) {
    return;
  }
  const uint32_t function = word(header.data() + 4);
  const auto length = static_cast<int32_t>(word(header.data() + 8));
  if (function == 0xF0000006) {
    std::array<uint8_t, 12> answer{0, 1, 0, 1, 0xE0, 0, 0, 6, 0, 0, 0, 0};
    writeAll(fd, answer);
    std::lock_guard<std::mutex> lock(mutex_);
    ++pings_;
    return;
  }
  if (function != 0xF0000004 || length < 0 || length > 8192) {
    return;
  }
  std::vector<uint8_t> body(static_cast<std::size_t>(length));
  if (!readExact(fd, body)) {
    return;
  }
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  ++notifies_;
  arrivals_.push_back(now);
  if (arrivals_.size() >= awaited_) {
    arrived_.notify_all();
  }
}

}  // namespace nvo_bench
