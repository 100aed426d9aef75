// The start-up steps of vslpd that concern the process rather than SLP: detaching from the
// terminal with a readiness hand-shake, and dropping root privileges after the sockets are
// bound. Main thread only, before other threads exist.
#ifndef SLP_DAEMON_FRAME_H_
#define SLP_DAEMON_FRAME_H_

#include <string>

#include "slp/socket_ops.h"

namespace vslp {

// Detacher: forks the daemon into the background. The parent waits until the child reports
// readiness (or fails) and exits with 0 or 1, so service managers and scripts see start-up
// errors. Owns the notification pipe.
class Detacher {
 public:
  // Forks. Returns only in the child, which then runs in a new session with "/" as working
  // directory and standard descriptors on /dev/null. Throws SocketError when fork fails.
  void detach();
  // Tells the waiting parent that start-up succeeded (no-op when not detached).
  void ready();

 private:
  UniqueFd notify_;
};

// Switches to `user` (its uid, gid and no supplementary groups) when running as root; does
// nothing otherwise. Throws std::runtime_error when the user is unknown or a switch fails.
void dropPrivileges(const std::string& user);

}  // namespace vslp

#endif  // SLP_DAEMON_FRAME_H_
