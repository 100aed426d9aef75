// PidFile: the pid file of a daemon: who runs, and recording ourselves.
#ifndef OUTSIDE_PID_FILE_H_
#define OUTSIDE_PID_FILE_H_

#include <string>

namespace teska {

class PidFile {
 public:
  // Opens `path` read-write, creating it with mode 0644 (not truncated at open), takes an
  // exclusive non-blocking flock, writes the own pid and a newline, cuts off whatever followed
  // from an earlier, longer pid, flushes to disk and unlocks. Returns the own pid, or -1 (errno
  // preserved) on every failure, including a lock held by another process (EWOULDBLOCK).
  static int writePid(const std::string& path);
  // Unlinks `path`; errors are ignored.
  static void removePid(const std::string& path);
  // Reads the first decimal integer of `path`. Returns that pid when it names a running
  // instance, -1 otherwise: the file cannot be opened or holds no number, the value is 0 or
  // negative (kill() would address a process group) or the own pid, or kill(pid, 0) fails with
  // ESRCH. Only the first 63 bytes are read. A process that exists but belongs to another
  // user (EPERM) counts as running.
  static int checkPid(const std::string& path);
};

}  // namespace teska

#endif  // OUTSIDE_PID_FILE_H_
