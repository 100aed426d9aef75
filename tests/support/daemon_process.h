// DaemonProcess: starts a program of the build (usually a daemon in the foreground), captures
// its standard output line by line, and stops it, every wait bounded.
//
// Owns the child process and the reader thread. The destructor kills a child that still runs
// (SIGKILL) and reaps it. All methods are thread safe.
//
// Free helpers beside it: where the build's binaries are, bounded polling, process checks.
#ifndef TESTS_SUPPORT_DAEMON_PROCESS_H_
#define TESTS_SUPPORT_DAEMON_PROCESS_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace nvo_test {

class DaemonProcess {
 public:
  // `program` is a path; `args` excludes argv[0] (which is `program`); `extraEnv` entries
  // ("NAME=value") are added to the test's environment, replacing variables of that name.
  DaemonProcess(std::string program, std::vector<std::string> args,
                std::vector<std::string> extraEnv = {});
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Starts the program with its standard output captured (standard error is inherited).
  // Throws std::runtime_error when it cannot be started.
  void start();
  pid_t pid() const { return pid_; }

  // Lines captured so far (without the newline).
  std::vector<std::string> lines() const;
  std::size_t lineCount() const;
  // Index of the first line at or after `from` that contains `text`, waiting at most
  // `timeout` for it to appear.
  std::optional<std::size_t> waitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                         std::size_t from = 0) const;
  // Number of captured lines that contain `text`.
  std::size_t countLines(const std::string& text) const;
  // Whether a captured line equals `text` exactly.
  bool hasExactLine(const std::string& text) const;
  // Captured lines joined with newlines, for failure messages.
  std::string transcript() const;

  // Sends `signo` to the child (when it has not been reaped).
  void sendSignal(int signo);
  // Waits for the child to end; its exit code (128 + signal for a killed child), or nothing
  // when it still runs after `timeout`.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);
  // SIGTERM, then waitForExit(timeout); SIGKILL when that runs out. Returns the exit code.
  std::optional<int> stop(std::chrono::milliseconds timeout = std::chrono::seconds(15));

 private:
  void readOutput(int fd);

  std::string program_;
  std::vector<std::string> args_;
  std::vector<std::string> extraEnv_;
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  int stopPipe_[2] = {-1, -1};
  std::thread reader_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool outputClosed_ = false;
};

// Outcome of a program run to completion.
struct RunResult {
  std::optional<int> exitCode;  // nothing when it had to be killed
  std::vector<std::string> lines;
};

// Runs `program` with `args`, capturing standard output, and waits at most `timeout`.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20),
                     const std::vector<std::string>& extraEnv = {});

// $NVO_BUILD_DIR/bin/<name>; throws std::runtime_error when NVO_BUILD_DIR is not set.
std::string buildBinary(const std::string& name);
// True inside tests/sandbox/run-in-sandbox (NVO_SANDBOX=1).
bool inSandbox();

// Polls `condition` every 10 ms until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// True when `pid` exists and is not a zombie.
bool processAlive(pid_t pid);
// The value of field `name` ("Uid", "CapBnd", ...) of /proc/`pid`/status, without the leading
// blanks; empty when the process or the field does not exist.
std::string statusField(pid_t pid, const std::string& name);

// Makes the calling process the reaper of orphaned descendants, so a daemon that detached
// from a child of this process can still be waited for (waitForOrphan).
void becomeSubreaper();
// Reaps `pid` (a child or adopted orphan) when it has ended, waiting at most `timeout`;
// its exit code, or nothing.
std::optional<int> waitForOrphan(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_DAEMON_PROCESS_H_
