#include "slp/daemon.h"

#include <signal.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "slp/agent.h"
#include "slp/daemon_frame.h"
#include "slp/daemon_options.h"
#include "slp/log.h"
#include "slp/pid_file.h"
#include "slp/properties.h"
#include "slp/registration_store.h"
#include "slp/service_loop.h"
#include "slp/settings.h"
#include "slp/signal_pipe.h"
#include "slp/socket_ops.h"

namespace vslp {
namespace {

std::optional<Properties> loadConfiguration(const DaemonOptions& o) {
  std::string error;
  if (o.configFile.empty()) {
    Properties p = Properties::load(&error);
    if (!error.empty()) {
      std::fprintf(stderr, "vslpd: %s\n", error.c_str());
      return std::nullopt;
    }
    return p;
  }
  Properties p;
  if (!p.readFile(o.configFile, &error)) {
    std::fprintf(stderr, "vslpd: %s\n", error.c_str());
    return std::nullopt;
  }
  return p;
}

int stopRunning(const DaemonSettings& s) {
  auto pid = PidFile::readPid(s.pidFile);
  if (!pid || ::kill(*pid, SIGTERM) != 0) {
    std::fprintf(stderr, "vslpd: no running daemon found through %s\n", s.pidFile.c_str());
    return 1;
  }
  return 0;
}

// Logs a caught exception as a framed block, like the other daemons of the system.
void logException(int error, const std::string& what, const std::string& where) {
  logMessage(LOG_ERR, "vslpd::main start-up failed");
  logMessage(LOG_ERR, "****************************************");
  logMessage(LOG_ERR, "* Errno: %d", error);
  logMessage(LOG_ERR, "* What: %s", what.c_str());
  logMessage(LOG_ERR, "* Where: %s", where.c_str());
  logMessage(LOG_ERR, "****************************************");
}

// Start-up errors also go to the terminal when the log is syslog (before detaching the
// terminal is still there; afterwards standard error is /dev/null).
void reportToTerminal(const DaemonOptions& o, const char* what) {
  if (!o.foreground) {
    std::fprintf(stderr, "vslpd: %s\n", what);
  }
}

int serve(const DaemonOptions& o, const DaemonSettings& s) {
  openLog(o.foreground, o.logLevel);
  // In the foreground (tests, service managers) the pid file is written only when the
  // configuration names one, so a test run never touches the system's file.
  std::unique_ptr<PidFile> pidFile;
  if (!o.foreground || s.pidFileConfigured) {
    pidFile = std::make_unique<PidFile>(s.pidFile);
  }
  RegistrationStore store(s.limits, s.scopes);
  Agent agent(s, store);
  ServiceLoop loop(s, agent, store);
  loop.open();
  Detacher detacher;
  if (!o.foreground) {
    detacher.detach();
  }
  if (pidFile) {
    pidFile->writePid();
  }
  dropPrivileges(s.user);
  SignalPipe signals{SIGTERM, SIGINT, SIGHUP};
  logMessage(LOG_NOTICE, "vslpd::serve started, port %u, scopes %s", unsigned{s.port},
             s.scopes.c_str());
  detacher.ready();
  loop.run(signals.readFd());
  logMessage(LOG_NOTICE, "vslpd::serve stopped");
  return 0;
}

}  // namespace

int runDaemon(const std::vector<std::string>& args) {
  std::string error;
  auto options = parseDaemonOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "vslpd: %s\n%s", error.c_str(), daemonUsage());
    return 1;
  }
  if (options->help) {
    std::fputs(daemonUsage(), stdout);
    return 0;
  }
  auto properties = loadConfiguration(*options);
  if (!properties) {
    return 1;
  }
  DaemonSettings settings = DaemonSettings::from(*properties, properties->isSet("vslpd.pidFile"));
  if (options->kill) {
    return stopRunning(settings);
  }
  try {
    return serve(*options, settings);
  } catch (const SocketError& e) {
    logException(e.code().value(), e.code().message(), e.where());
    reportToTerminal(*options, e.what());
  } catch (const std::exception& e) {
    logException(0, e.what(), "vslpd::main");
    reportToTerminal(*options, e.what());
  }
  return 1;
}

}  // namespace vslp
