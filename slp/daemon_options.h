// The command line of vslpd. Pure parsing; any thread.
#ifndef SLP_DAEMON_OPTIONS_H_
#define SLP_DAEMON_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

namespace vslp {

struct DaemonOptions {
  bool foreground = false;  // -d
  bool kill = false;        // -k
  bool help = false;        // -h
  int logLevel = 6;         // -l, syslog priority 0..7
  std::string configFile;   // -c; empty: $VSLP_CONF or /etc/vslp.conf
};

// The help text, ending in a newline.
const char* daemonUsage();

// Parses `args` (without the program name). Empty optional, with `error` set, on an unknown
// option, a missing argument, a bad level or a stray operand.
std::optional<DaemonOptions> parseDaemonOptions(const std::vector<std::string>& args,
                                                std::string& error);

}  // namespace vslp

#endif  // SLP_DAEMON_OPTIONS_H_
