#include "tests/support/daemon_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <sys/prctl.h>
#include <sys/wait.h>

#include "tests/support/fd_io.h"

extern char** environ;

namespace nvo_test {
namespace {

std::optional<int> decodeStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return std::nullopt;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

DaemonProcess::DaemonProcess(std::string program, std::vector<std::string> args,
                             std::vector<std::string> extraEnv)
    : program_(std::move(program)), args_(std::move(args)), extraEnv_(std::move(extraEnv)) {}

DaemonProcess::~DaemonProcess() {
  if (pid_ > 0 && !exitCode_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) {
    char stop = 'x';
    (void)!::write(stopPipe_[1], &stop, 1);
    reader_.join();
  }
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
}

void DaemonProcess::start() {
  // Everything the child needs is built before fork: after fork only exec-safe calls.
  std::vector<std::string> argvText{program_};
  argvText.insert(argvText.end(), args_.begin(), args_.end());
  // The test's environment, with the extra entries replacing variables of the same name.
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> envText(extraEnv_);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const std::string& extra : extraEnv_) {
      replaced = replaced || nameOf(extra) == nameOf(*entry);
    }
    if (!replaced) {
      envText.emplace_back(*entry);
    }
  }
  std::vector<char*> argv = pointersTo(argvText);
  std::vector<char*> envp = pointersTo(envText);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    throw std::runtime_error("DaemonProcess: pipe failed");
  }
  pid_ = ::fork();
  if (pid_ < 0) {
    ::close(out[0]);
    ::close(out[1]);
    throw std::runtime_error("DaemonProcess: fork failed");
  }
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(out[1], STDOUT_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  int readFd = out[0];
  reader_ = std::thread([this, readFd] { readOutput(readFd); });
}

void DaemonProcess::readOutput(int fd) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    if (!waitReadable(fd, deadlineIn(std::chrono::hours(24)), stopPipe_[0])) {
      break;
    }
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n <= 0) {
      break;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      lines_.push_back(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
    changed_.notify_all();
  }
  ::close(fd);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pending.empty()) {
    lines_.push_back(pending);
  }
  outputClosed_ = true;
  changed_.notify_all();
}

std::vector<std::string> DaemonProcess::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::size_t DaemonProcess::lineCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

std::optional<std::size_t> DaemonProcess::waitForLine(const std::string& text,
                                                      std::chrono::milliseconds timeout,
                                                      std::size_t from) const {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<std::size_t> found;
  changed_.wait_for(lock, timeout, [&] {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].find(text) != std::string::npos) {
        found = i;
        return true;
      }
    }
    from = lines_.size();
    return outputClosed_;
  });
  return found;
}

std::size_t DaemonProcess::countLines(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t count = 0;
  for (const auto& line : lines_) {
    count += line.find(text) != std::string::npos ? 1 : 0;
  }
  return count;
}

bool DaemonProcess::hasExactLine(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& line : lines_) {
    if (line == text) {
      return true;
    }
  }
  return false;
}

std::string DaemonProcess::transcript() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream out;
  for (const auto& line : lines_) {
    out << line << '\n';
  }
  return out.str();
}

void DaemonProcess::sendSignal(int signo) {
  if (pid_ > 0 && !exitCode_) {
    ::kill(pid_, signo);
  }
}

std::optional<int> DaemonProcess::waitForExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0 || exitCode_) {
    return exitCode_;
  }
  exitCode_ = waitForOrphan(pid_, timeout);
  if (exitCode_) {
    // The output pipe closes with the process; give the reader a moment to take the rest.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return outputClosed_; });
  }
  return exitCode_;
}

std::optional<int> DaemonProcess::stop(std::chrono::milliseconds timeout) {
  sendSignal(SIGTERM);
  auto code = waitForExit(timeout);
  if (!code) {
    sendSignal(SIGKILL);
    waitForExit(std::chrono::seconds(5));
  }
  return code;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout, const std::vector<std::string>& extraEnv) {
  DaemonProcess process(program, args, extraEnv);
  process.start();
  RunResult result;
  result.exitCode = process.waitForExit(timeout);
  result.lines = process.lines();
  return result;
}

std::string buildBinary(const std::string& name) {
  const char* dir = std::getenv("NVO_BUILD_DIR");
  if (dir == nullptr || *dir == '\0') {
    throw std::runtime_error("NVO_BUILD_DIR is not set");
  }
  return std::string(dir) + "/bin/" + name;
}

bool inSandbox() {
  const char* flag = std::getenv("NVO_SANDBOX");
  return flag != nullptr && std::string(flag) == "1";
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = deadlineIn(timeout);
  for (;;) {
    if (condition()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool processAlive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) {
    return false;
  }
  // The state follows the command name, which is in parentheses and may contain spaces.
  std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
         text[close + 2] != 'X';
}

std::string statusField(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(name + ":", 0) == 0) {
      std::string value = line.substr(name.size() + 1);
      std::size_t start = value.find_first_not_of(" \t");
      return start == std::string::npos ? "" : value.substr(start);
    }
  }
  return "";
}

void becomeSubreaper() {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

std::optional<int> waitForOrphan(pid_t pid, std::chrono::milliseconds timeout) {
  std::optional<int> code;
  waitUntil(
      [&] {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
          code = decodeStatus(status);
          return true;
        }
        return done < 0;  // not our child (any more): nothing to wait for
      },
      timeout);
  return code;
}

}  // namespace nvo_test
