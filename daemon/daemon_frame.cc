#include "daemon/daemon_frame.h"

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstring>

#include "outside/pid_file.h"

namespace frame {
namespace {

std::atomic<teska::UnNamedPipe*> gSignalPipe{nullptr};

void forwardSignal(int signo, siginfo_t* info, void* /*context*/) {
  if (signo == SIGBUS && info != nullptr && info->si_code > 0) {
    // Raised by a fault of our own: with the default action back, the repeated fault ends the
    // process instead of looping through this handler for ever.
    ::signal(SIGBUS, SIG_DFL);
    return;
  }
  teska::UnNamedPipe* pipe = gSignalPipe.load();
  if (pipe != nullptr) {
    pipe->write(signo);
  }
}

std::string trimmed(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) {
    ++begin;
  }
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
    --end;
  }
  return text.substr(begin, end - begin);
}

std::string workingDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "";
}

std::string executableDirectory() {
  char buffer[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) {
    return workingDirectory() + "/";
  }
  std::string path(buffer, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

sigset_t setOf(std::span<const int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : signals) {
    sigaddset(&set, signo);
  }
  return set;
}

}  // namespace

void printHelp(const std::string& programName, std::ostream& out) {
  out << programName << " [OPTIONS]...\n"
      << "Available options:\n"
      << "\t-d, --debug     Set debug on (does not detach from terminal\n"
      << "\t-k, --kill      Kill the currently running instance of " << programName << "\n"
      << "\t-h, --help      Print this help information\n"
      << "\t-l, --loglevel=[EMERG|ALERT|CRIT|ERR|WARN|NOTICE|INFO|DEBUG]\n"
      << "Set the maximum level for the log\n"
      << std::flush;
}

OptionsOutcome parseOptions(int argc, char** argv, const std::string& programName,
                            LevelParser levelFromName, FrameOptions& options, std::ostream& out) {
  static const option kLongOptions[] = {{"debug", no_argument, nullptr, 'd'},
                                        {"kill", no_argument, nullptr, 'k'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {"loglevel", required_argument, nullptr, 'l'},
                                        {nullptr, 0, nullptr, 0}};
  optind = 0;  // a fresh scan, also when called more than once
  opterr = 0;  // our own message below replaces the parser's
  bool levelGiven = false;
  for (int c; (c = ::getopt_long(argc, argv, "dkhl:", kLongOptions, nullptr)) != -1;) {
    switch (c) {
      case 'd':
        options.debug = true;
        if (!levelGiven) {
          options.logLevel = 7;
        }
        break;
      case 'k':
        options.kill = true;
        break;
      case 'h':
        printHelp(programName, out);
        return OptionsOutcome::kExitSuccess;
      case 'l': {
        int level = levelFromName(optarg);
        if (level < 0) {
          printHelp(programName, out);
          return OptionsOutcome::kExitFailure;
        }
        options.logLevel = level;
        levelGiven = true;
        break;
      }
      default:
        out << "Unknown command line argument: '" << static_cast<char>(c) << "'\n";
        printHelp(programName, out);
        return OptionsOutcome::kExitFailure;
    }
  }
  return OptionsOutcome::kRun;
}

std::string programDirectory(const std::string& argv0, const std::string& workingDirectory,
                             const std::string& executableDirectory) {
  std::string path = trimmed(argv0);
  if (path.rfind("./", 0) == 0) {
    path = workingDirectory + path.substr(1);
  } else if (!path.empty() && path[0] == '.') {
    path = workingDirectory + "/" + path;  // "../x": keep it a path below the working directory
  }
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return executableDirectory;
  }
  return path.substr(0, slash + 1);
}

std::string programDirectory(const std::string& argv0) {
  return programDirectory(argv0, workingDirectory(), executableDirectory());
}

std::string pidFilePath(const std::string& programName, const std::string& directory, bool asRoot) {
  return (asRoot ? std::string("/var/run/") : directory) + programName + ".pid";
}

bool runningAsRoot() {
  return ::geteuid() == 0;
}

int runningInstance(const std::string& pidPath) {
  return teska::PidFile::checkPid(pidPath);
}

TerminateOutcome terminateInstance(int pid) {
  if (::kill(pid, SIGTERM) == 0) {
    return TerminateOutcome::kSent;
  }
  return errno == EPERM ? TerminateOutcome::kDenied : TerminateOutcome::kFailed;
}

ReadyNotice& ReadyNotice::operator=(ReadyNotice&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

ReadyNotice::~ReadyNotice() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void ReadyNotice::send() {
  if (fd_ >= 0) {
    const char ready = 'r';
    (void)!::write(fd_, &ready, 1);
    ::close(fd_);
    fd_ = -1;
  }
}

DetachOutcome detach(int readyTimeoutSeconds) {
  int handshake[2] = {-1, -1};
  const bool withHandshake = ::pipe2(handshake, O_CLOEXEC) == 0;
  pid_t child = ::fork();
  if (child < 0) {
    if (withHandshake) {
      ::close(handshake[0]);
      ::close(handshake[1]);
    }
    return {DetachOutcome::Role::kFailed, 0, ReadyNotice()};
  }
  if (child > 0) {
    if (withHandshake) {
      ::close(handshake[1]);
      pollfd wait{handshake[0], POLLIN, 0};
      while (::poll(&wait, 1, readyTimeoutSeconds * 1000) < 0 && errno == EINTR) {
      }
      ::close(handshake[0]);
    }
    return {DetachOutcome::Role::kParent, child, ReadyNotice()};
  }
  if (withHandshake) {
    ::close(handshake[0]);
  }
  ::close(STDIN_FILENO);
  ::close(STDOUT_FILENO);
  ::close(STDERR_FILENO);
  int null = ::open("/dev/null", O_RDWR);  // lowest free number: 0
  if (null == STDIN_FILENO) {
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
  }
  ::setsid();
  return {DetachOutcome::Role::kChild, 0, ReadyNotice(withHandshake ? handshake[1] : -1)};
}

OwnPidFile::~OwnPidFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

int OwnPidFile::write() {
  int pid = teska::PidFile::writePid(path_);
  written_ = pid > 0;
  if (written_) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  return pid;
}

void OwnPidFile::remove() {
  if (!written_) {
    return;
  }
  written_ = false;
  teska::PidFile::removePid(path_);
  if (fd_ >= 0 && ::access(path_.c_str(), F_OK) == 0) {
    (void)!::ftruncate(fd_, 0);
  }
}

void installSignalHandlers(teska::UnNamedPipe& pipe, std::span<const int> signals,
                           bool keepIgnored) {
  gSignalPipe = &pipe;
  for (int signo : signals) {
    struct sigaction current {};
    if (keepIgnored && ::sigaction(signo, nullptr, &current) == 0 &&
        current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction handler {};
    sigemptyset(&handler.sa_mask);
    handler.sa_sigaction = forwardSignal;
    handler.sa_flags = SA_SIGINFO;
    ::sigaction(signo, &handler, nullptr);
  }
}

void forgetSignalPipe() {
  gSignalPipe = nullptr;
}

ScopedSignalBlock::ScopedSignalBlock(std::span<const int> signals) {
  sigset_t set = setOf(signals);
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

ScopedSignalBlock::~ScopedSignalBlock() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

PrivilegeDrop dropPrivileges(const std::string& user) {
  if (!runningAsRoot()) {
    const passwd* self = ::getpwuid(::getuid());
    return {PrivilegeDrop::Outcome::kNotRoot, self != nullptr ? self->pw_name : "Unknown"};
  }
  errno = 0;
  const passwd* target = ::getpwnam(user.c_str());
  if (target == nullptr) {
    return {PrivilegeDrop::Outcome::kNoSuchUser, std::strerror(errno)};
  }
  // Groups first: once the user id is gone, they can no longer be changed, and root's groups
  // (group 0 above all) must not stay with the daemon.
  if (::setgroups(0, nullptr) != 0 || ::setgid(target->pw_gid) != 0 ||
      ::setuid(target->pw_uid) != 0) {
    return {PrivilegeDrop::Outcome::kFailed, std::strerror(errno)};
  }
  return {PrivilegeDrop::Outcome::kDropped, ""};
}

}  // namespace frame
