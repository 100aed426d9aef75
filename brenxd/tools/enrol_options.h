// nvo-enrol's command line:
//   nvo-enrol [--server HOST:PORT] [--name HOST] [--mac MAC] [--output FILE] [--timeout SECONDS]
// Without --server the agent is found through SLP ("service:nvowsc.x"); the host name and the
// MAC address default to this machine's name and its primary interface's address; the answer
// goes to standard output unless --output names a file.
#ifndef BRENXD_TOOLS_ENROL_OPTIONS_H_
#define BRENXD_TOOLS_ENROL_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

namespace brenxd {

struct EnrolOptions {
  std::string server;  // HOST:PORT, or empty for SLP
  std::string host;
  unsigned short port = 0;
  std::optional<std::string> name;
  std::optional<std::string> mac;
  std::optional<std::string> output;
  int timeoutSeconds = 60;  // for the whole exchange: the agent serves one workstation at a time
  bool help = false;
};

// Parses the arguments after the program name. Nothing, with `error` set, for a bad command
// line (an unknown option, a missing value, a server without a valid port, a time-out that is
// not a positive number).
std::optional<EnrolOptions> parseEnrolOptions(const std::vector<std::string>& args,
                                              std::string& error);

extern const char kEnrolUsage[];

}  // namespace brenxd

#endif  // BRENXD_TOOLS_ENROL_OPTIONS_H_
