#include "slp/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "slp/codec.h"
#include "slp/tcp_exchange.h"

namespace vslp::testing {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Reaps `pid`, waiting at most `timeout`; the status or nothing.
std::optional<int> reap(pid_t pid, milliseconds timeout) {
  auto deadline = SteadyClock::now() + timeout;
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (r < 0 || SteadyClock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
}

[[noreturn]] void execWithEnv(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env) {
  for (const std::string& e : env) {
    size_t eq = e.find('=');
    ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

}  // namespace

bool inSandbox() {
  const char* v = std::getenv("NVO_SANDBOX");
  return v != nullptr && std::string(v) == "1";
}

std::string buildProgram(const std::string& name) {
  const char* dir = std::getenv("NVO_BUILD_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/bin/" + name;
}

TempDir::TempDir() {
  char pattern[] = "/run/vslp-test-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
  ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
  std::string file = path_ + "/" + name;
  std::ofstream(file) << text;
  return file;
}

std::string testConfig(const std::string& extra) {
  return "net.slp.port = 427\n"
         "net.slp.multicastTimeouts = 150,250,400\n"
         "net.slp.multicastMaximumWait = 1000\n"
         "net.slp.unicastMaximumWait = 1000\n" +
         extra;
}

DaemonChild::DaemonChild(const std::string& configPath, uint32_t readyAddress,
                         const std::string& netns, std::vector<std::string> extraArgs) {
  std::vector<std::string> argv;
  if (!netns.empty()) {
    argv = {"ip", "netns", "exec", netns};
  }
  argv.push_back(buildProgram("vslpd"));
  argv.push_back("-d");
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  pid_ = ::fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    execWithEnv(argv, {"VSLP_CONF=" + configPath});
  }
  bool ready = eventually(
      [&] {
        int error = 0;
        // A SrvAck-less probe: an empty SrvRqst for the DA gets an empty SrvRply.
        Message probe{Header{0, 1, "en", {}}, SrvRqst{"", "service:directory-agent", "", "", ""}};
        return TcpExchange::run(Endpoint{readyAddress, 427}, encode(probe), milliseconds(300),
                                error)
            .has_value();
      },
      std::chrono::seconds(10));
  if (!ready) {
    stop();
    throw std::runtime_error("vslpd did not become ready");
  }
}

DaemonChild::~DaemonChild() {
  stop();
}

bool DaemonChild::running() {
  if (pid_ <= 0) {
    return false;
  }
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

int DaemonChild::stop() {
  if (pid_ <= 0) {
    return -1;
  }
  ::kill(pid_, SIGTERM);
  auto status = reap(pid_, std::chrono::seconds(10));
  if (!status) {
    ::kill(pid_, SIGKILL);
    reap(pid_, std::chrono::seconds(10));
  }
  pid_ = -1;
  return status.value_or(-1);
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         milliseconds timeout) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    execWithEnv(argv, env);
  }
  ::close(out[1]);
  ::close(err[1]);
  UniqueFd outFd(out[0]);
  UniqueFd errFd(err[0]);
  CommandResult result;
  auto deadline = SteadyClock::now() + timeout;
  bool outOpen = true;
  bool errOpen = true;
  while ((outOpen || errOpen) && SteadyClock::now() < deadline) {
    std::vector<pollfd> fds{{outOpen ? outFd.get() : -1, POLLIN, 0},
                            {errOpen ? errFd.get() : -1, POLLIN, 0}};
    ::poll(fds.data(), fds.size(), 100);
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) {
        continue;
      }
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        (i == 0 ? outOpen : errOpen) = false;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  auto status = reap(
      pid,
      milliseconds(std::max<long>(
          100, std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now()).count())));
  if (!status) {
    ::kill(pid, SIGKILL);
    status = reap(pid, std::chrono::seconds(5));
  }
  result.status = status.value_or(-1);
  return result;
}

std::optional<std::vector<uint8_t>> udpExchange(const std::vector<uint8_t>& request, Endpoint to,
                                                milliseconds timeout) {
  UniqueFd fd = openSocket(SOCK_DGRAM);
  if (!sendDatagram(fd.get(), request, to, 0)) {
    return std::nullopt;
  }
  std::vector<pollfd> fds{{fd.get(), POLLIN, 0}};
  if (pollFor(fds, timeout) <= 0) {
    return std::nullopt;
  }
  auto d = receiveDatagram(fd.get(), 65535);
  if (!d) {
    return std::nullopt;
  }
  return d->data;
}

bool eventually(const std::function<bool()>& condition, milliseconds timeout) {
  auto deadline = SteadyClock::now() + timeout;
  while (true) {
    if (condition()) {
      return true;
    }
    if (SteadyClock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(50));
  }
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace vslp::testing
