// ServiceSandbox: the start-up that end-to-end tests of the event daemon share. Inside
// tests/sandbox/run-in-sandbox it readies a host on which tolmd never ran (its real pid file and
// database paths are private to the sandbox there), writes the SLP settings every daemon and tool
// of the test reads, and starts tolmd and the SLP agent vslpd as real processes.
//
// Holds only the path of the SLP settings; the processes it starts belong to the caller, so a
// fixture can also replace them with processes of its own. Not thread safe; one per test.
//
// Free helpers beside it: waiting for readiness, stopping a daemon, reading tolmd's log.
#ifndef TESTS_SUPPORT_SERVICE_SANDBOX_H_
#define TESTS_SUPPORT_SERVICE_SANDBOX_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace nvo_test {

// tolmd's fixed places; only ever touched inside the sandbox.
inline constexpr char kTolmdPidFile[] = "/var/run/tolmd.pid";
inline constexpr char kTolmdDatabaseDirectory[] = "/var/lib/tolm";
inline constexpr char kTolmdDatabaseFile[] = "/var/lib/tolm/tolmd_event_db.dat";
// The line tolmd logs once it accepts requests; its port follows it.
inline constexpr char kTolmdListeningLine[] = "tolmd listening on all interfaces at port ";

class ServiceSandbox {
 public:
  // `slpConfigPath`: where prepare() writes the SLP settings (under the sandbox's own /run).
  explicit ServiceSandbox(std::string slpConfigPath);

  // Makes this process the reaper of detached daemons, removes tolmd's database directory and
  // pid file, and writes `slpSettings` ("name = value" lines) as the SLP configuration. Call
  // only when inSandbox() holds: it changes root paths. Throws std::filesystem::filesystem_error
  // when the old state cannot be removed.
  void prepare(const std::string& slpSettings) const;

  // "VSLP_CONF=<path>": the environment addition of every daemon and tool of the test.
  std::vector<std::string> environment() const;

  // Starts tolmd from the build with `args`, preceded by the `wrapper` words (a program such as
  // a limit setter and its arguments) when there are any. The process is returned started but
  // not yet listening (see waitUntilListening). Throws std::runtime_error when it cannot start.
  std::unique_ptr<DaemonProcess> startTolmd(const std::vector<std::string>& args,
                                            const std::vector<std::string>& wrapper = {}) const;
  // Starts vslpd from the build in the foreground; ready once waitForSlpAgent says so. Throws
  // std::runtime_error when it cannot start.
  std::unique_ptr<DaemonProcess> startSlpAgent() const;

 private:
  std::string slpConfigPath_;
};

// $NVO_BUILD_DIR/bin/tolmd.
std::string tolmdPath();

// The port in the first "listening" line of `tolmd` at or after line `from`, waiting at most
// `timeout` for it; nothing when none came (or its port is not a number).
std::optional<uint16_t> waitUntilListening(const DaemonProcess& tolmd,
                                           std::chrono::milliseconds timeout, std::size_t from = 0);

// Waits at most `timeout` until the SLP agent accepts connections on 127.0.0.1:427.
bool waitForSlpAgent(std::chrono::milliseconds timeout);

// When `process` holds one: stops it (SIGTERM, SIGKILL after `timeout`) and releases it.
void stopAndRelease(std::unique_ptr<DaemonProcess>& process, std::chrono::milliseconds timeout);

// The record of one line of tolmd's database listing ("Recno: N  event: NAME  address: A:P")
// as "event: NAME  address: A:P"; nothing for any other line.
std::optional<std::string> listedRecord(const std::string& line);

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_SERVICE_SANDBOX_H_
