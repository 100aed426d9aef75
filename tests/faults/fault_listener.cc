#include "tests/faults/fault_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "protocol/tolm_wire.h"
#include "tests/support/fd_io.h"

namespace faults {

FaultListener::FaultListener(std::string address, Misbehaviour misbehaviour)
    : address_(std::move(address)), misbehaviour_(misbehaviour) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ::inet_addr(address_.c_str());
  socklen_t size = sizeof sa;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &size) != 0 ||
      ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    nvo_test::closeFd(listenFd_);
    throw std::runtime_error("FaultListener: cannot listen on " + address_);
  }
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this] { serve(); });
}

FaultListener::~FaultListener() {
  const char byte = 0;
  [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);
  thread_.join();
  for (int& fd : held_) {
    nvo_test::closeFd(fd);
  }
  nvo_test::closeFd(listenFd_);
  nvo_test::closeFd(stopPipe_[0]);
  nvo_test::closeFd(stopPipe_[1]);
}

void FaultListener::serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, 1000) < 0 || fds[1].revents != 0) {
      return;
    }
    if (fds[0].revents == 0) {
      continue;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    if (!armed_) {
      answerProbe(fd);
      nvo_test::closeFd(fd);
    } else if (misbehaviour_ == Misbehaviour::kNeverRead) {
      ++misbehaved_;
      held_.push_back(fd);
    } else {
      ++misbehaved_;
      const linger reset{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      nvo_test::closeFd(fd);
    }
  }
}

void FaultListener::answerProbe(int fd) {
  uint8_t header[tolm::kHeaderSize];
  if (nvo_test::readUpTo(fd, header, sizeof header, nvo_test::deadlineIn(std::chrono::seconds(5)),
                         stopPipe_[0]) != sizeof header) {
    return;
  }
  if (tolm::decodeHeader(std::span<const uint8_t, tolm::kHeaderSize>(header)).function ==
      tolm::kFuncPing) {
    const tolm::HeaderBytes reply = tolm::buildAnswer(tolm::kAnswerPing, 0);
    nvo_test::writeAll(fd, reply.data(), reply.size(),
                       nvo_test::deadlineIn(std::chrono::seconds(5)));
    ++probes_;
  }
}

}  // namespace faults
