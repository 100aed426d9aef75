#include "slp/daemon_options.h"

namespace vslp {

const char* daemonUsage() {
  return "Usage: vslpd [-d] [-k] [-h] [-l level] [-c file]\n"
         "SLPv2 service agent: answers service, attribute and type requests for the services\n"
         "registered on this host, on UDP and TCP port net.slp.port (427).\n"
         "  -d        stay in the foreground and log to standard output\n"
         "  -k        stop the running daemon named by the pid file\n"
         "  -h        show this help\n"
         "  -l level  highest log level, 0 (EMERG) to 7 (DEBUG); default 6 (INFO)\n"
         "  -c file   configuration file; default $VSLP_CONF, else /etc/vslp.conf\n";
}

std::optional<DaemonOptions> parseDaemonOptions(const std::vector<std::string>& args,
                                                std::string& error) {
  DaemonOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-d") {
      o.foreground = true;
    } else if (a == "-k") {
      o.kill = true;
    } else if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "-l" || a == "-c") {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs an argument";
        return std::nullopt;
      }
      const std::string& value = args[++i];
      if (a == "-c") {
        o.configFile = value;
      } else if (value.size() == 1 && value[0] >= '0' && value[0] <= '7') {
        o.logLevel = value[0] - '0';
      } else {
        error = "log level must be 0 to 7";
        return std::nullopt;
      }
    } else {
      error = "unknown argument " + a;
      return std::nullopt;
    }
  }
  return o;
}

}  // namespace vslp
