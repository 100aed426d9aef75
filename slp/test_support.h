// Helpers for the end-to-end tests of slp/: a vslpd child process with its own configuration,
// running programs of the build and collecting their output, and raw SLP exchanges over
// UDP and TCP. Every wait is bounded. For tests only; main test thread only.
#ifndef SLP_TEST_SUPPORT_H_
#define SLP_TEST_SUPPORT_H_

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "slp/message.h"
#include "slp/socket_ops.h"

namespace vslp::testing {

// True inside tests/sandbox/run-in-sandbox; end-to-end tests skip themselves otherwise.
bool inSandbox();

// Path of a program in the build's bin directory.
std::string buildProgram(const std::string& name);

// A fresh directory under /run (a private tmpfs in the sandbox); removed with its files on
// destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `text` to `name` in the directory and returns the file's path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// Configuration for tests: port 427, short multicast waits, plus `extra` lines.
std::string testConfig(const std::string& extra = "");

// A vslpd child in the foreground (-d), optionally inside network namespace `netns` (through
// "ip netns exec"). The destructor stops it (SIGTERM, then SIGKILL) and reaps it.
class DaemonChild {
 public:
  // Starts vslpd with VSLP_CONF=`configPath` and waits until it accepts TCP connections at
  // `readyAddress`:427. Throws std::runtime_error when it does not become ready in 10 s.
  DaemonChild(const std::string& configPath, uint32_t readyAddress = 0x7f000001,
              const std::string& netns = "", std::vector<std::string> extraArgs = {});
  ~DaemonChild();
  DaemonChild(const DaemonChild&) = delete;
  DaemonChild& operator=(const DaemonChild&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // SIGTERM and wait (at most 10 s); the exit status, or -1 when it had to be killed.
  int stop();

 private:
  pid_t pid_ = -1;
};

struct CommandResult {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs `argv` with `env` entries ("NAME=value") added, waits at most `timeout`, and collects
// both output streams.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Sends `request` by UDP from an ephemeral port to `to` and returns the first datagram that
// comes back within `timeout`.
std::optional<std::vector<uint8_t>> udpExchange(const std::vector<uint8_t>& request, Endpoint to,
                                                std::chrono::milliseconds timeout);

// Polls `condition` every 50 ms until it holds or `timeout` passes; returns its last value.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Lines of `text` without their newlines.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace vslp::testing

#endif  // SLP_TEST_SUPPORT_H_
