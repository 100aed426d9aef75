#include "brenxd/brenxd_main.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "brenxd/agent_log.h"
#include "brenxd/agent_slp.h"
#include "brenxd/request_reader.h"
#include "brenxd/workstation_syncer.h"
#include "daemon/daemon_frame.h"
#include "outside/inet_server_socket_impl.h"
#include "outside/pid_file.h"
#include "outside/socket_exception.h"
#include "outside/unnamed_pipe.h"

namespace brenxd {
namespace {

using teska::LogStream;

// Room for a burst of workstations (the system caps it at net.core.somaxconn): a connection
// the queue cannot take has its request dropped and resent by the workstation's TCP only after
// growing pauses, while the agent, serving one connection at a time, gives each accepted one
// only its 10 s to send.
constexpr int kListenBacklog = 4096;
constexpr int kExitRefused = 255;
constexpr char kServiceUser[] = "nobody";
constexpr char kRootPidFile[] = "/var/run/brenxd.pid";
constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

[[noreturn]] void onTerminate() {
  agentLog() << LogStream::alert << "The terminate handler has been called. Exiting program"
             << std::endl;
  std::_Exit(1);
}

// The pid of a running instance: the root pid file first, then the one beside the program.
int runningInstance(const std::string& programDirectory) {
  int pid = teska::PidFile::checkPid(kRootPidFile);
  if (pid == -1) {
    pid = teska::PidFile::checkPid(programDirectory + kProgramName + ".pid");
  }
  return pid;
}

int killMode(const std::string& programDirectory) {
  const int pid = runningInstance(programDirectory);
  if (pid <= 0) {
    std::cout << "No other instance of " << kProgramName << " is running" << std::endl;
    return kExitRefused;
  }
  switch (frame::terminateInstance(pid)) {
    case frame::TerminateOutcome::kSent:
      std::cout << "TERM signal sent to process id " << pid << std::endl;
      return 0;
    case frame::TerminateOutcome::kDenied:
      std::cout << "Sorry. You don't have authorization to kill process " << pid << std::endl;
      return kExitRefused;
    case frame::TerminateOutcome::kFailed:
      break;
  }
  return 0;
}

void logListenFailure(const teska::SocketException& e) {
  LogStream& log = agentLog();
  log << LogStream::alert << "Unable to run - cannot create listen socket" << std::endl;
  log << LogStream::alert << "Message: " << e.getMessage() << std::endl;
  log << LogStream::alert << "Error#: " << e.errornum() << std::endl;
  log << LogStream::alert << "Where: " << e.where() << std::endl;
}

// The listening socket on a port the system chooses; null (logged) when none can be had.
teska::Reference<teska::InetServerSocketImpl> createListener() {
  const bool root = frame::runningAsRoot();
  auto listener = std::make_shared<teska::InetServerSocketImpl>();
  try {
    listener->doListen(0, kListenBacklog, root, true);
    return listener;
  } catch (const teska::SocketException& e) {
    if (!root) {
      logListenFailure(e);
      return nullptr;
    }
  }
  try {
    listener->doListen(0, kListenBacklog, false, true);
    return listener;
  } catch (const teska::SocketException& e) {
    logListenFailure(e);
    return nullptr;
  }
}

void logPrivilegeDrop(const frame::PrivilegeDrop& drop) {
  LogStream& log = agentLog();
  switch (drop.outcome) {
    case frame::PrivilegeDrop::Outcome::kNotRoot:
      log << LogStream::info << "Workstation creation agent unable to drop privileges. Running as "
          << drop.detail << std::endl;
      break;
    case frame::PrivilegeDrop::Outcome::kNoSuchUser:
      log << LogStream::info
          << "Workstation creation agent failed to get uid for nobody: " << drop.detail
          << std::endl;
      break;
    case frame::PrivilegeDrop::Outcome::kFailed:
      log << LogStream::info
          << "Workstation creation agent failed to set uid to nobody: " << drop.detail << std::endl;
      break;
    case frame::PrivilegeDrop::Outcome::kDropped:
      log << LogStream::debug << "Workstation creation agent dropped root privileges. "
          << "Running as nobody" << std::endl;
      break;
  }
}

// Reads the configuration; false (logged) when that failed.
bool readConfiguration(WorkStationSyncer& syncer) {
  try {
    syncer.readConfig(kConfigPath);
    return true;
  } catch (const teska::QRstring& error) {
    agentLog() << LogStream::alert << "Failed to initialize: " << error << std::endl;
    return false;
  }
}

// Acts on one value from the signal pipe; true when the agent must shut down.
bool handleSignal(teska::UnNamedPipe& pipe, WorkStationSyncer& syncer) {
  int value = 0;
  if (pipe.read(&value) != 0) {
    return false;
  }
  LogStream& log = agentLog();
  switch (value) {
    case SIGHUP:
      log << LogStream::info << "Received SIGHUP signal - re-reading " << kConfigPath << std::endl;
      readConfiguration(syncer);
      return false;
    case SIGINT:
    case SIGTERM:
      log << LogStream::info << "Received shutdown signal" << std::endl;
      return true;
    default:
      log << LogStream::debug << "Received unknown signal: " << value << std::endl;
      return false;
  }
}

// Signals first: a configuration re-read comes before a connection that is ready with it.
// While a connection is served the handled signals wait: a re-read or a shutdown comes between
// two requests, and no wait of a request (on the workstation, on the directory) is cut short
// by a signal, which would cost that workstation its answer.
void mainLoop(teska::InetServerSocketImpl& listener, teska::UnNamedPipe& pipe,
              WorkStationSyncer& syncer) {
  for (bool shutdown = false; !shutdown;) {
    pollfd ready[2] = {{pipe.readDescriptor(), POLLIN, 0}, {listener.descriptor(), POLLIN, 0}};
    if (::poll(ready, 2, -1) <= 0) {
      continue;
    }
    if (ready[0].revents != 0) {
      shutdown = handleSignal(pipe, syncer);
    } else if (ready[1].revents != 0) {
      const frame::ScopedSignalBlock held(kHandledSignals);
      processConnection(listener, syncer, agentLog());
    }
  }
}

// Steps 6 to 13 and the shutdown, in the process that serves; the exit code.
int serve(const std::string& programDirectory, frame::ReadyNotice& ready) {
  teska::Reference<teska::InetServerSocketImpl> listener = createListener();
  if (!listener) {
    return 1;
  }
  frame::OwnPidFile pidFile(
      frame::pidFilePath(kProgramName, programDirectory, frame::runningAsRoot()));
  pidFile.write();
  teska::UnNamedPipe pipe(false);
  auto abandon = [&] {
    listener->close();
    frame::forgetSignalPipe();
    pipe.close();
    pidFile.remove();
    return kExitRefused;
  };
  if (!pipe.open()) {
    throw teska::BaseException("UnNamedPipe::open", std::strerror(errno));
  }
  frame::installSignalHandlers(pipe, kHandledSignals, false);
  ::signal(SIGPIPE, SIG_IGN);

  if (doSlpRegister(listener->port()) != 0) {
    agentLog() << LogStream::alert << "SLP Registration failed - aborting" << std::endl;
    return abandon();
  }
  auto syncer = std::make_unique<WorkStationSyncer>(agentLog());
  if (!readConfiguration(*syncer)) {
    return abandon();
  }
  agentLog() << LogStream::info << kProgramName << " listening on all network interfaces"
             << std::endl;
  logPrivilegeDrop(frame::dropPrivileges(kServiceUser));
  ready.send();

  mainLoop(*listener, pipe, *syncer);

  agentLog() << LogStream::info << kProgramName << " is shutting down" << std::endl;
  deregisterAll(listener->port());
  listener->close();
  frame::forgetSignalPipe();
  pipe.close();
  pidFile.remove();
  syncer.reset();
  return 0;
}

}  // namespace

int runBrenxd(int argc, char** argv) {
  std::set_terminate(onTerminate);
  const std::string invokingPath = argc > 0 ? argv[0] : kProgramName;
  const std::string directory = frame::programDirectory(invokingPath);
  frame::FrameOptions options;
  switch (frame::parseOptions(argc, argv, kProgramName, LogStream::getLevelFromString, options,
                              std::cout)) {
    case frame::OptionsOutcome::kExitSuccess:
      return 0;
    case frame::OptionsOutcome::kExitFailure:
      return 1;
    case frame::OptionsOutcome::kRun:
      break;
  }
  LogStream& log = agentLog();
  log.setMaxLevel(options.logLevel);
  if (options.debug) {
    log.setRouteToSysLog(false);
  }
  if (options.kill) {
    return killMode(directory);
  }
  if (const int pid = runningInstance(directory); pid > 0) {
    std::cout << "Another instance of " << kProgramName << " is running [" << pid << "]"
              << std::endl;
    return kExitRefused;
  }
  frame::ReadyNotice ready;
  if (!options.debug) {
    frame::DetachOutcome detached = frame::detach();
    if (detached.role == frame::DetachOutcome::Role::kParent) {
      std::cout << kProgramName << " running [" << detached.child << "]" << std::endl;
      return 0;
    }
    ready = std::move(detached.ready);  // a failed fork goes on in the foreground
  }
  return serve(directory, ready);
}

}  // namespace brenxd
