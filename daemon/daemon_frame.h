// The daemon frame: the steps a daemon of this suite takes around its service, as small
// functions parameterised by the program's name, so every daemon shares them. The steps do
// no logging of their own; they report outcomes and the program words its messages.
//
// Shared by tolmd and brenxd; vslpd keeps its own (libvslp stands alone).
//
// Typical order: parseOptions, programDirectory + pidFilePath, runningInstance (and
// terminateInstance for -k), detach, OwnPidFile::write, the program's listening socket and
// state, installSignalHandlers, dropPrivileges, start threads inside a ScopedSignalBlock, then
// read the signal pipe until done.
//
// Everything here runs in the main thread before (or, for the pipe, outside) the service
// threads, except the signal handlers, which only write the signal number into the pipe.
#ifndef DAEMON_DAEMON_FRAME_H_
#define DAEMON_DAEMON_FRAME_H_

#include <signal.h>

#include <ostream>
#include <span>
#include <string>

#include <sys/types.h>

#include "outside/base_exception.h"
#include "outside/unnamed_pipe.h"

namespace frame {

// Thrown when the frame cannot go on (the failed detach: "detach(): fork failed").
class MainException : public teska::BaseException {
 public:
  explicit MainException(std::string message)
      : teska::BaseException("MainException", std::move(message)) {}
};

struct FrameOptions {
  bool debug = false;  // -d: stay in the foreground, log to standard output
  bool kill = false;   // -k: stop the running instance
  int logLevel = 6;    // INFO; -d makes it 7 unless a -l came before
};

enum class OptionsOutcome { kRun, kExitSuccess, kExitFailure };

// Maps a level name to its number, or -1 for an unknown name.
using LevelParser = int (*)(const std::string& name);

// Parses "dkhl:" (--debug, --kill, --help, --loglevel=NAME) with getopt_long. -h prints the
// help text to `out` (kExitSuccess); an unknown level name prints the help text
// (kExitFailure); an unknown option prints "Unknown command line argument: '<c>'" and the
// help text (kExitFailure). Non-option arguments are ignored.
OptionsOutcome parseOptions(int argc, char** argv, const std::string& programName,
                            LevelParser levelFromName, FrameOptions& options, std::ostream& out);
void printHelp(const std::string& programName, std::ostream& out);

// The directory part (with its trailing '/') of the invoking path `argv0`, trimmed of
// surrounding white space; a path beginning with '.' is taken relative to `workingDirectory`.
// A bare name (no '/') gives `executableDirectory`, the directory of the running binary.
std::string programDirectory(const std::string& argv0, const std::string& workingDirectory,
                             const std::string& executableDirectory);
// The same with the process's own working directory and binary.
std::string programDirectory(const std::string& argv0);

// "/var/run/<name>.pid" as root, otherwise `directory` + name + ".pid".
std::string pidFilePath(const std::string& programName, const std::string& directory, bool asRoot);
bool runningAsRoot();

// The pid of a running instance recorded in `pidPath`, or -1.
int runningInstance(const std::string& pidPath);

enum class TerminateOutcome { kSent, kDenied, kFailed };
// Sends SIGTERM to `pid`; kDenied when the system refused for lack of permission.
TerminateOutcome terminateInstance(int pid);

// The child's side of the start-up handshake: the parent of a detach waits until the child
// has set up its service (or has ended), so whoever started the daemon (an init system reading
// the pid file, a script connecting next) finds it ready. Move-only; owns one descriptor.
class ReadyNotice {
 public:
  ReadyNotice() = default;
  explicit ReadyNotice(int fd) : fd_(fd) {}
  ReadyNotice(ReadyNotice&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ReadyNotice& operator=(ReadyNotice&& other) noexcept;
  ReadyNotice(const ReadyNotice&) = delete;
  ReadyNotice& operator=(const ReadyNotice&) = delete;
  // Ending without send() also releases the parent.
  ~ReadyNotice();

  // Tells the parent that the service is set up. Does nothing when there is no parent waiting.
  void send();

 private:
  int fd_ = -1;
};

struct DetachOutcome {
  enum class Role { kParent, kChild, kFailed } role;
  pid_t child = 0;    // in the parent
  ReadyNotice ready;  // in the child
};
// Forks. The child leaves the controlling terminal (setsid) and has descriptors 0, 1 and 2 on
// /dev/null, so no later descriptor takes their numbers by accident. The parent returns once
// the child has sent its ReadyNotice, has ended, or `readyTimeoutSeconds` have passed.
DetachOutcome detach(int readyTimeoutSeconds = 10);

// The pid file of this process: written once, removed at the end. Removal that the system
// refuses (the daemon no longer runs as root) leaves the file empty instead, so no stale pid
// remains that a reused process id could match.
class OwnPidFile {
 public:
  explicit OwnPidFile(std::string path) : path_(std::move(path)) {}
  ~OwnPidFile();
  OwnPidFile(const OwnPidFile&) = delete;
  OwnPidFile& operator=(const OwnPidFile&) = delete;

  // Writes the own pid; returns it, or -1 when the file could not be written (for example
  // because another process holds its lock).
  int write();
  // Removes (or empties) the file, but only one this process wrote. Safe to call again.
  void remove();

 private:
  std::string path_;
  int fd_ = -1;  // kept open from write() so the file can still be emptied later
  bool written_ = false;
};

// Installs, for each of `signals`, a handler that writes the signal number as one int into
// `pipe` (which must outlive the handlers); with `keepIgnored`, signals whose disposition is
// "ignore" are left so. A bus error raised by a fault in the process itself is not reported but
// left to end the process, since returning from it would only repeat the fault.
void installSignalHandlers(teska::UnNamedPipe& pipe, std::span<const int> signals,
                           bool keepIgnored = true);
// From now on the handlers write nowhere; call before the pipe goes away.
void forgetSignalPipe();

// Blocks `signals` in the calling thread while alive. Threads started meanwhile inherit the
// mask, so the handlers run in the main thread only and never interrupt a worker's I/O.
class ScopedSignalBlock {
 public:
  explicit ScopedSignalBlock(std::span<const int> signals);
  ~ScopedSignalBlock();
  ScopedSignalBlock(const ScopedSignalBlock&) = delete;
  ScopedSignalBlock& operator=(const ScopedSignalBlock&) = delete;

 private:
  sigset_t previous_;
};

struct PrivilegeDrop {
  enum class Outcome {
    kNotRoot,     // detail: user name of the real user id, or "Unknown"
    kNoSuchUser,  // detail: strerror(errno) of the lookup
    kFailed,      // detail: strerror(errno) of the failed call
    kDropped,
  } outcome;
  std::string detail;
};
// As root: clears the supplementary groups and takes `user`'s group and user id.
PrivilegeDrop dropPrivileges(const std::string& user);

}  // namespace frame

#endif  // DAEMON_DAEMON_FRAME_H_
