// PidFile: the daemon's pid file, locked with flock() while the daemon runs, so a second
// instance is detected even when a crashed one left the file behind. Owns the open,
// locked descriptor; on destruction the file is emptied and, where permitted, removed.
// Main thread only.
#ifndef SLP_PID_FILE_H_
#define SLP_PID_FILE_H_

#include <optional>
#include <string>

#include <sys/types.h>

#include "slp/socket_ops.h"

namespace vslp {

class PidFile {
 public:
  // Creates or opens `path` and locks it. Throws SocketError when it cannot be opened or
  // another process holds the lock (errno EWOULDBLOCK).
  explicit PidFile(std::string path);
  ~PidFile();
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;

  // Writes the calling process's id. Throws SocketError on write failure.
  void writePid();

  // The process id recorded in `path`, if the file holds one.
  static std::optional<pid_t> readPid(const std::string& path);

 private:
  std::string path_;
  UniqueFd fd_;
};

}  // namespace vslp

#endif  // SLP_PID_FILE_H_
