#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>

extern char** environ;

namespace nvo_test {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kStopGrace = std::chrono::seconds(5);

UniqueFd memoryFile(const char* name) {
  UniqueFd fd(memfd_create(name, MFD_CLOEXEC));
  if (!fd.valid()) {
    throw std::runtime_error(std::string("memfd_create: ") + std::strerror(errno));
  }
  return fd;
}

std::string readAll(const UniqueFd& fd) {
  std::string text;
  char buffer[4096];
  for (off_t offset = 0;;) {
    const ssize_t n = pread(fd.get(), buffer, sizeof buffer, offset);
    if (n <= 0) {
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void execChild(pid_t parent, int out, int err, int report, char** argv, char** envp) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) {
    _exit(127);
  }
  const int devNull = open("/dev/null", O_RDONLY);
  if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
    _exit(127);
  }
  execve(argv[0], argv, envp);
  const int error = errno;
  (void)!write(report, &error, sizeof error);
  _exit(127);
}

int exitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv)
    : out_(memoryFile("child-out")), err_(memoryFile("child-err")) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    env.emplace_back(*entry);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argPointers = pointersTo(args);
  std::vector<char*> envPointers = pointersTo(env);

  int reportPipe[2];
  if (pipe2(reportPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  }
  UniqueFd reportRead(reportPipe[0]);
  UniqueFd reportWrite(reportPipe[1]);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  }
  if (pid_ == 0) {
    execChild(parent, out_.get(), err_.get(), reportWrite.get(), argPointers.data(),
              envPointers.data());
  }
  reportWrite.reset();
  int error = 0;
  if (read(reportRead.get(), &error, sizeof error) == static_cast<ssize_t>(sizeof error)) {
    stop();
    throw std::runtime_error("cannot start " + argv.at(0) + ": " + std::strerror(error));
  }
}

ChildProcess::~ChildProcess() {
  stop();
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!exitCode_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitCode_ = exitCodeOf(status);
    } else if (done < 0 && errno != EINTR) {
      exitCode_ = -1;  // not our child any more; nothing left to wait for
    } else if (std::chrono::steady_clock::now() >= deadline) {
      break;
    } else {
      std::this_thread::sleep_for(kPollInterval);
    }
  }
  return exitCode_;
}

int ChildProcess::stop() {
  if (exitCode_ || pid_ <= 0) {
    return exitCode_.value_or(-1);
  }
  kill(pid_, SIGTERM);
  kill(pid_, SIGCONT);  // a frozen child acts on SIGTERM only once it runs again
  if (waitFor(kStopGrace)) {
    return *exitCode_;
  }
  kill(pid_, SIGKILL);
  int status = 0;
  exitCode_ = waitpid(pid_, &status, 0) == pid_ ? exitCodeOf(status) : -1;
  return *exitCode_;
}

std::string ChildProcess::capturedOut() const {
  return readAll(out_);
}

std::string ChildProcess::capturedErr() const {
  return readAll(err_);
}

ProcessResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv,
                         std::chrono::milliseconds limit) {
  ChildProcess child(argv, extraEnv);
  std::optional<int> code = child.waitFor(limit);
  if (!code) {
    child.stop();
    throw std::runtime_error(argv.at(0) + " did not finish in time; output so far: " +
                             child.capturedOut() + child.capturedErr());
  }
  return {*code, child.capturedOut(), child.capturedErr()};
}

}  // namespace nvo_test
