#include "slp/signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vslp {
namespace {

std::atomic<int> gWriteFd{-1};

extern "C" void onSignal(int signo) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  int fd = gWriteFd.load();
  if (fd >= 0) {
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signals) : signals_(signals) {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    throwErrno("pipe2");
  }
  read_ = UniqueFd(fds[0]);
  write_ = UniqueFd(fds[1]);
  gWriteFd.store(write_.get());
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : signals_) {
    ::sigaction(s, &sa, nullptr);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

SignalPipe::~SignalPipe() {
  for (int s : signals_) {
    ::signal(s, SIG_DFL);
  }
  gWriteFd.store(-1);
}

}  // namespace vslp
