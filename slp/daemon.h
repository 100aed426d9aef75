// The vslpd program: options, configuration, logging, pid file, sockets, detaching,
// privilege drop and the service loop, in that order. Main thread only.
#ifndef SLP_DAEMON_H_
#define SLP_DAEMON_H_

#include <string>
#include <vector>

namespace vslp {

// Runs vslpd with `args` (without the program name) and returns its exit status: 0 after a
// clean stop (or for -h, or -k that reached the daemon), 1 on any start-up failure.
int runDaemon(const std::vector<std::string>& args);

}  // namespace vslp

#endif  // SLP_DAEMON_H_
