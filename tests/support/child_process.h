#ifndef TESTS_SUPPORT_CHILD_PROCESS_H_
#define TESTS_SUPPORT_CHILD_PROCESS_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/unique_fd.h"

namespace nvo_test {

// What a finished program left: its exit code (128 + signal number when a signal ended it) and
// everything it wrote to standard output and standard error.
struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A program the tests start, with standard output and standard error captured in memory
// files. Owns the child: destruction stops it (SIGTERM, then SIGKILL after a bounded wait) and
// reaps it. The child also gets SIGKILL if the test process dies first, so no server outlives
// a crashed or timed-out test. Neither copied nor moved; used from the test thread only.
class ChildProcess {
 public:
  // Starts `argv` (argv[0] is a path, not searched) with `extraEnv` ("NAME=value") added to the
  // test's environment. Throws std::runtime_error when the program cannot be started.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Waits at most `limit` for the program to end. Returns its exit code, or std::nullopt when
  // it is still running.
  std::optional<int> waitFor(std::chrono::milliseconds limit);

  // Ends the program if it still runs (also when it is stopped by SIGSTOP) and reaps it.
  // Returns its exit code.
  int stop();

  // The child's process id while it runs; for signals such as SIGSTOP and SIGCONT.
  pid_t pid() const { return pid_; }

  std::string capturedOut() const;
  std::string capturedErr() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  UniqueFd out_;
  UniqueFd err_;
};

// Runs `argv` to completion, at most `limit`; a program still running then is killed and the
// call throws std::runtime_error, so a hanging program fails its test instead of blocking it.
ProcessResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H_
