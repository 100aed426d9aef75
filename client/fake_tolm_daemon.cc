#include "client/fake_tolm_daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tests/support/daemon_process.h"
#include "tests/support/fd_io.h"

namespace vokra::testing {
namespace {

using std::chrono::milliseconds;

constexpr auto kIoWait = milliseconds(5000);
// Long enough for the client's own 10-second limits to end a held connection first.
constexpr auto kHoldWait = milliseconds(30000);

// Waits until the client closes `fd` (or the hold time or a stop ends the wait).
void holdUntilClosed(int fd, int stopFd) {
  const auto deadline = nvo_test::deadlineIn(kHoldWait);
  uint8_t sink[256];
  for (int round = 0; round < 100000; ++round) {
    if (!nvo_test::waitReadable(fd, deadline, stopFd) || ::read(fd, sink, sizeof sink) <= 0) {
      return;
    }
  }
}

}  // namespace

FakeTolmDaemon::FakeTolmDaemon() {
  answer_ = tolm::buildAnswer(tolm::kAnswerSignal, tolm::kRcOk);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof local;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    throw std::runtime_error("FakeTolmDaemon: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(local.sin_port);
  thread_ = std::thread([this] { serve(); });
}

FakeTolmDaemon::~FakeTolmDaemon() {
  const char stop = 's';
  (void)!::write(stopPipe_[1], &stop, 1);
  thread_.join();
  nvo_test::closeFd(listenFd_);
  nvo_test::closeFd(stopPipe_[0]);
  nvo_test::closeFd(stopPipe_[1]);
}

std::string FakeTolmDaemon::url() const {
  return "service:tolm.x://127.0.0.1:" + std::to_string(port_);
}

void FakeTolmDaemon::setReply(FakeReply reply, tolm::HeaderBytes answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_ = reply;
  answer_ = answer;
}

std::vector<std::vector<uint8_t>> FakeTolmDaemon::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool FakeTolmDaemon::waitForConnections(std::size_t count) const {
  return nvo_test::waitUntil([&] { return connections_.load() >= count; }, milliseconds(10000));
}

void FakeTolmDaemon::serve() {
  for (;;) {
    pollfd entries[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      continue;
    }
    if (entries[1].revents != 0) {
      return;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      handle(fd);
      nvo_test::closeFd(fd);
      connections_.fetch_add(1);
    }
  }
}

void FakeTolmDaemon::handle(int fd) {
  std::vector<uint8_t> request(tolm::kHeaderSize);
  const auto deadline = nvo_test::deadlineIn(kIoWait);
  const std::size_t got =
      nvo_test::readUpTo(fd, request.data(), request.size(), deadline, stopPipe_[0]);
  request.resize(got);
  if (got == tolm::kHeaderSize) {
    const tolm::Header header =
        tolm::decodeHeader(std::span<const uint8_t, tolm::kHeaderSize>(request.data(), 12));
    if (header.length >= 0 && header.length <= tolm::kMaxBodyLength) {
      request.resize(tolm::kHeaderSize + static_cast<std::size_t>(header.length));
      const std::size_t body =
          nvo_test::readUpTo(fd, request.data() + tolm::kHeaderSize,
                             request.size() - tolm::kHeaderSize, deadline, stopPipe_[0]);
      request.resize(tolm::kHeaderSize + body);
    } else {
      // As tolmd: an oversized announcement is closed without an answer.
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(std::move(request));
      return;
    }
  }
  FakeReply reply;
  tolm::HeaderBytes answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    reply = reply_;
    answer = answer_;
  }
  const auto writeDeadline = nvo_test::deadlineIn(kIoWait);
  switch (reply) {
    case FakeReply::kAnswer:
      nvo_test::writeAll(fd, answer.data(), answer.size(), writeDeadline);
      break;
    case FakeReply::kClose:
      break;
    case FakeReply::kPieces:
      nvo_test::writeAll(fd, answer.data(), 6, writeDeadline);
      holdUntilClosed(fd, stopPipe_[0]);
      break;
    case FakeReply::kShort:
      nvo_test::writeAll(fd, answer.data(), 8, writeDeadline);
      break;
    case FakeReply::kSilent:
      holdUntilClosed(fd, stopPipe_[0]);
      break;
  }
}

}  // namespace vokra::testing
