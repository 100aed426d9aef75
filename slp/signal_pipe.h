// SignalPipe: turns signals into bytes on a pipe (the self-pipe pattern), so the service loop
// sees them in poll(). The handlers only write the signal number. One instance per process;
// construct it from the main thread before other threads start. Owns both pipe ends.
#ifndef SLP_SIGNAL_PIPE_H_
#define SLP_SIGNAL_PIPE_H_

#include <initializer_list>
#include <vector>

#include "slp/socket_ops.h"

namespace vslp {

class SignalPipe {
 public:
  // Installs handlers for `signals` and ignores SIGPIPE. Throws SocketError when the pipe
  // cannot be made.
  explicit SignalPipe(std::initializer_list<int> signals);
  // Restores the default dispositions.
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // The end to poll for reading; each byte is one signal number.
  int readFd() const { return read_.get(); }

 private:
  UniqueFd read_;
  UniqueFd write_;
  std::vector<int> signals_;
};

}  // namespace vslp

#endif  // SLP_SIGNAL_PIPE_H_
