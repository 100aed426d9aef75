#include "tests/support/test_listener.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "protocol/tolm_wire.h"
#include "tests/support/fd_io.h"

namespace nvo_test {
namespace {

// Arrival order shared by every listener of the process, so tests can order notifications that
// went to different listeners.
std::atomic<uint64_t> gArrivalSequence{0};

constexpr std::chrono::milliseconds kIoTimeout{5000};
// A NOTIFY body above this is not something the daemon can send; treat it as garbage.
constexpr int32_t kMaxNotifyBody = 1 << 20;

int makeListeningSocket(const std::string& address, uint16_t port, uint16_t& boundPort) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw std::runtime_error("TestListener: socket failed");
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    ::close(fd);
    throw std::runtime_error("TestListener: bad address " + address);
  }
  socklen_t len = sizeof(addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("TestListener: cannot listen on " + address + ":" +
                             std::to_string(port));
  }
  boundPort = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

TestListener::TestListener(ListenerOptions options) : options_(options) {
  listenFd_ = makeListeningSocket(options.address, options.port, port_);
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    closeFd(listenFd_);
    throw std::runtime_error("TestListener: pipe failed");
  }
  thread_ = std::thread([this] { serve(); });
}

TestListener::~TestListener() {
  char stop = 'x';
  (void)!::write(stopPipe_[1], &stop, 1);
  thread_.join();
  closeFd(listenFd_);
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
}

uint32_t TestListener::addressNetworkOrder() const {
  in_addr addr{};
  ::inet_pton(AF_INET, options_.address.c_str(), &addr);
  return addr.s_addr;
}

std::string TestListener::text() const {
  return options_.address + ":" + std::to_string(port_);
}

uint16_t TestListener::portNetworkOrder() const {
  return htons(port_);
}

std::size_t TestListener::pingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pings_;
}

std::size_t TestListener::notifyCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arrivals_.size();
}

std::vector<Arrival> TestListener::arrivals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arrivals_;
}

std::size_t TestListener::brokenCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return broken_;
}

bool TestListener::waitForNotifications(std::size_t count,
                                        std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return arrivals_.size() >= count; });
}

bool TestListener::waitForPings(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return pings_ >= count; });
}

uint16_t TestListener::unusedPort(const std::string& address) {
  uint16_t port = 0;
  int fd = makeListeningSocket(address, 0, port);
  ::close(fd);
  return port;
}

void TestListener::serve() {
  // Ends only through the stop pipe; each pass serves at most one connection.
  for (;;) {
    if (!waitReadable(listenFd_, deadlineIn(std::chrono::hours(24)), stopPipe_[0])) {
      return;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      handleConnection(fd);
      ::close(fd);
    }
  }
}

void TestListener::handleConnection(int fd) {
  uint8_t header[tolm::kHeaderSize];
  if (readUpTo(fd, header, sizeof(header), deadlineIn(kIoTimeout), stopPipe_[0]) !=
      sizeof(header)) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++broken_;
    changed_.notify_all();
    return;
  }
  tolm::Header decoded = tolm::decodeHeader(std::span<const uint8_t, tolm::kHeaderSize>(header));
  if (decoded.function == tolm::kFuncPing) {
    handlePing(fd);
  } else if (decoded.function == tolm::kFuncNotify && decoded.length >= 0 &&
             decoded.length <= kMaxNotifyBody) {
    handleNotify(fd, header, decoded.length);
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    ++broken_;
    changed_.notify_all();
  }
}

void TestListener::handlePing(int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pings_;
    changed_.notify_all();
  }
  switch (options_.ping) {
    case PingMode::kAnswer:
    case PingMode::kSlow: {
      if (options_.ping == PingMode::kSlow &&
          waitReadable(stopPipe_[0], deadlineIn(options_.answerDelay))) {
        return;
      }
      auto answer = tolm::buildAnswer(tolm::kAnswerPing, 0);
      writeAll(fd, answer.data(), answer.size(), deadlineIn(kIoTimeout));
      return;
    }
    case PingMode::kWrongCode: {
      auto answer = tolm::buildAnswer(tolm::kAnswerRegister, 0);
      writeAll(fd, answer.data(), answer.size(), deadlineIn(kIoTimeout));
      return;
    }
    case PingMode::kSilent:
      holdUntilClosed(fd);
      return;
    case PingMode::kClose:
      return;
  }
}

void TestListener::handleNotify(int fd, const uint8_t* header, int32_t length) {
  Arrival arrival;
  arrival.packet.assign(header, header + tolm::kHeaderSize);
  arrival.packet.resize(tolm::kHeaderSize + static_cast<std::size_t>(length));
  std::size_t got =
      readUpTo(fd, arrival.packet.data() + tolm::kHeaderSize, static_cast<std::size_t>(length),
               deadlineIn(kIoTimeout), stopPipe_[0]);
  arrival.packet.resize(tolm::kHeaderSize + got);
  arrival.when = std::chrono::steady_clock::now();
  arrival.sequence = ++gArrivalSequence;
  std::size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = arrivals_.size();
    arrivals_.push_back(std::move(arrival));
    changed_.notify_all();
  }
  if (options_.notify == NotifyMode::kAcknowledge) {
    if (options_.answerDelay.count() > 0 &&
        waitReadable(stopPipe_[0], deadlineIn(options_.answerDelay))) {
      return;
    }
    // Taken before the write: read after it, a preempted listener thread could stamp its ACK
    // later than the daemon's next notification arrives elsewhere.
    const auto sending = std::chrono::steady_clock::now();
    if (writeAll(fd, "ACK!", 4, deadlineIn(kIoTimeout))) {
      std::lock_guard<std::mutex> lock(mutex_);
      arrivals_[index].acknowledged = sending;
    }
  } else if (options_.notify == NotifyMode::kSilent) {
    holdUntilClosed(fd);
  }
}

void TestListener::holdUntilClosed(int fd) {
  // Drain until end of stream; the daemon's own time-out ends the conversation.
  char sink[256];
  while (waitReadable(fd, deadlineIn(std::chrono::seconds(60)), stopPipe_[0])) {
    if (::read(fd, sink, sizeof(sink)) <= 0) {
      return;
    }
  }
}

}  // namespace nvo_test
