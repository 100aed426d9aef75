#include "tolmd/tolmd_main.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "daemon/daemon_frame.h"
#include "outside/inet_server_socket_impl.h"
#include "outside/socket_exception.h"
#include "outside/unnamed_pipe.h"
#include "tolmd/daemon_log.h"
#include "tolmd/event_db.h"
#include "tolmd/event_db_exception.h"
#include "tolmd/tolm_daemon.h"
#include "tolmd/tolm_killer.h"

namespace tolmd {

using namespace frame;  // the shared daemon frame's steps

namespace {

constexpr char kProgramName[] = "tolmd";
constexpr int kListenBacklog = 20;
// What the shutdown thread (and a service that ended on an error) writes into the signal pipe
// once the service has stopped. Outside the range of signal numbers, so no signal from outside
// (SIGUSR1 is 10) can pass for it.
constexpr int kServiceStopped = 1000;

constexpr int kHandledSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGUSR1,   SIGCHLD, SIGUSR2, SIGALRM,
                                   SIGTTIN, SIGTTOU, SIGTSTP, SIGIO,     SIGABRT, SIGBUS,  SIGCONT,
                                   SIGURG,  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPWR};

[[noreturn]] void onTerminate() {
  daemonLog(kLogAlert, "UnExpected exception has been thrown");
  std::abort();
}

// Steps 4 to 6 of the start: an exit code when this process must not go on.
std::optional<int> checkRunningInstance(const std::string& invokingPath, const std::string& pidPath,
                                        bool kill) {
  int pid = runningInstance(pidPath);
  if (pid > 0 && !kill) {
    std::cout << "Cannot run " << invokingPath << " - Another instance is already running [" << pid
              << "]" << std::endl;
    return 1;
  }
  if (pid > 0) {
    switch (terminateInstance(pid)) {
      case TerminateOutcome::kSent:
        std::cout << "TERM signal sent to process id " << pid << std::endl;
        return 0;
      case TerminateOutcome::kDenied:
        std::cout << "Sorry. You don't have authorization to kill process " << pid << std::endl;
        return 1;
      case TerminateOutcome::kFailed:
        return 0;
    }
  }
  if (kill) {
    std::cout << invokingPath << " is not currently running - Nothing to kill" << std::endl;
    return 0;
  }
  return std::nullopt;
}

void logListenFailure(const teska::SocketException& e) {
  daemonLog(kLogAlert, "TOLM unable to run - cannot create listen socket");
  daemonLog(kLogAlert, "Message: %s", e.getMessage().c_str());
  daemonLog(kLogAlert, "Eroro#: %d", e.errornum());
  daemonLog(kLogAlert, "Where: %s", e.where().c_str());
}

// The listening socket on a port of the system's choosing; nothing (logged) when impossible.
teska::Reference<teska::InetServerSocketImpl> createListener() {
  const bool root = runningAsRoot();
  try {
    return std::make_shared<teska::InetServerSocketImpl>(0, kListenBacklog, root, true);
  } catch (const teska::SocketException& e) {
    if (!root) {
      logListenFailure(e);
      return nullptr;
    }
  }
  try {
    return std::make_shared<teska::InetServerSocketImpl>(0, kListenBacklog, false, true);
  } catch (const teska::SocketException& e) {
    logListenFailure(e);
    return nullptr;
  }
}

std::unique_ptr<EventDb> openDatabase() {
  try {
    return std::make_unique<EventDb>();
  } catch (const EventDbException& e) {
    daemonLog(kLogAlert, "TOLM unable to run - cannot open/create event database");
    daemonLog(kLogAlert, "Message: %s", e.what());
    return nullptr;
  }
}

void logPrivilegeDrop(const PrivilegeDrop& drop) {
  switch (drop.outcome) {
    case PrivilegeDrop::Outcome::kNotRoot:
      daemonLog(kLogInfo, "TOLM is unable to drop privileges. Running as %s", drop.detail.c_str());
      break;
    case PrivilegeDrop::Outcome::kNoSuchUser:
      daemonLog(kLogInfo, "TOLM - failed to get uid for nobody: %s", drop.detail.c_str());
      break;
    case PrivilegeDrop::Outcome::kFailed:
      daemonLog(kLogInfo, "TOLM - failed to set uid to nobody: %s", drop.detail.c_str());
      break;
    case PrivilegeDrop::Outcome::kDropped:
      daemonLog(kLogDebug, "TOLM - Dropped root privileges. Running as nobody");
      break;
  }
}

// Starts a thread with the handled signals blocked, so they reach only the main thread.
void startQuietly(teska::Thread& thread) {
  ScopedSignalBlock block(kHandledSignals);
  thread.start();
}

void startKiller(TolmDaemon& daemon, teska::UnNamedPipe& pipe) {
  auto killer = std::make_unique<TolmKiller>(daemon, [&pipe] { pipe.write(kServiceStopped); });
  startQuietly(*killer);
  // From here on the thread library owns it and deletes it when its run() has ended.
  static_cast<void>(killer.release());
}

// Reads the signal pipe until the service has stopped.
void mainLoop(TolmDaemon& daemon, teska::UnNamedPipe& pipe) {
  bool terminating = false;
  for (bool done = false; !done;) {
    int value = 0;
    if (pipe.read(&value) != 0) {
      continue;
    }
    switch (value) {
      case SIGHUP:
        daemonLog(kLogInfo, "tolmd received SIGHUP");
        // Once a shutdown runs, a restart would race with it; the process is ending anyway.
        if (!terminating) {
          daemon.shutdown();
          startQuietly(daemon);
        }
        break;
      case SIGINT:
      case SIGTERM:
        if (!terminating) {
          terminating = true;
          daemonLog(kLogInfo, "tolmd received SIGTERM - Initiating shutdown");
          startKiller(daemon, pipe);
        }
        break;
      case kServiceStopped:
        daemonLog(kLogInfo, "tolmd completed shutdown process - ending");
        done = true;
        break;
      default:
        break;
    }
  }
}

// Steps 8 to 16 and the shutdown order, in the process that serves; the exit code.
int runService(OwnPidFile& pidFile, teska::UnNamedPipe& pipe, ReadyNotice& ready) {
  daemonLog(kLogInfo, "%s started [%d]", kProgramName, pidFile.write());
  std::set_terminate(onTerminate);

  teska::Reference<teska::InetServerSocketImpl> listener = createListener();
  if (!listener) {
    pidFile.remove();
    return 1;
  }
  std::unique_ptr<EventDb> db = openDatabase();
  if (!db) {
    listener->close();
    pidFile.remove();
    return 1;
  }
  if (!pipe.open()) {
    throw teska::BaseException("UnNamedPipe::open", std::strerror(errno));
  }
  installSignalHandlers(pipe, kHandledSignals);
  ::signal(SIGPIPE, SIG_IGN);
  logPrivilegeDrop(dropPrivileges(kServiceUser));

  // The parent of the detach returns once the service is advertised and accepting (or the
  // process has ended); `ready` outlives the daemon, whose thread sends it.
  auto daemon = std::make_unique<TolmDaemon>(
      *db, listener, kProgramName, [&pipe] { pipe.write(kServiceStopped); },
      [&ready] { ready.send(); });
  startQuietly(*daemon);
  mainLoop(*daemon, pipe);

  // The service thread is gone before the database and the socket it used are closed.
  daemon.reset();
  db->close();
  db.reset();
  listener->close();
  listener.reset();
  forgetSignalPipe();
  pipe.close();
  pidFile.remove();
  daemonLog(kLogDebug, "tolmd - main is returning");
  return 0;
}

// Everything from the detach to the end of the main loop; the exit code.
int serve(const FrameOptions& options, OwnPidFile& pidFile, teska::UnNamedPipe& pipe) {
  ReadyNotice ready;
  if (!options.debug) {
    DetachOutcome detached = detach();
    if (detached.role == DetachOutcome::Role::kFailed) {
      throw MainException("detach(): fork failed");
    }
    if (detached.role == DetachOutcome::Role::kParent) {
      std::cout << kProgramName << " started [" << detached.child << "]" << std::endl;
      return 0;
    }
    ready = std::move(detached.ready);
  }
  return runService(pidFile, pipe, ready);
}

}  // namespace

int runTolmd(int argc, char** argv) {
  FrameOptions options;
  switch (parseOptions(argc, argv, kProgramName, logLevelFromName, options, std::cout)) {
    case OptionsOutcome::kExitSuccess:
      return 0;
    case OptionsOutcome::kExitFailure:
      return 1;
    case OptionsOutcome::kRun:
      break;
  }
  const std::string invokingPath = argc > 0 ? argv[0] : kProgramName;
  const std::string pidPath =
      pidFilePath(kProgramName, programDirectory(invokingPath), runningAsRoot());
  if (std::optional<int> exitCode = checkRunningInstance(invokingPath, pidPath, options.kill)) {
    return *exitCode;
  }
  setLogLevel(options.logLevel);
  setLogToStandardOutput(options.debug);

  OwnPidFile pidFile(pidPath);
  teska::UnNamedPipe pipe(false);
  try {
    return serve(options, pidFile, pipe);
  } catch (const teska::BaseException& e) {
    daemonLog(kLogCrit, "tolmd - caught exception in main: %s - %s", e.what(),
              e.getMessage().c_str());
  } catch (...) {
    daemonLog(kLogCrit, "tolmd - unexpected exception caught in main");
  }
  forgetSignalPipe();
  pipe.close();
  pidFile.remove();
  daemonLog(kLogDebug, "tolmd - main is returning");
  return 0;
}

}  // namespace tolmd
