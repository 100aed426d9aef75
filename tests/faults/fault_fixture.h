// What the fault tests of the event daemon share: tolmd started as root inside the test
// sandbox (nvo_test::ServiceSandbox; its real pid file and database paths are private there),
// requests built byte for byte, and its debug log read line by line. Outside the sandbox every
// test skips.
//
// The SLP settings keep the library off multicast, so a start costs no multicast wait; no SLP
// agent runs (the daemon logs that it could not register and serves all the same).
#ifndef TESTS_FAULTS_FAULT_FIXTURE_H_
#define TESTS_FAULTS_FAULT_FIXTURE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/daemon_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/service_sandbox.h"

namespace faults {

using namespace std::chrono_literals;
using nvo_test::Answer;

inline constexpr uint32_t kVersion = 0x00010001;
inline constexpr const auto& kDatabaseDirectory = nvo_test::kTolmdDatabaseDirectory;
inline constexpr const auto& kDatabaseFile = nvo_test::kTolmdDatabaseFile;
inline constexpr const auto& kPidFile = nvo_test::kTolmdPidFile;
inline constexpr const auto& kListeningLine = nvo_test::kTolmdListeningLine;
inline constexpr char kDoneLine[] = "Signaler::doSignal done [success=";

// A SIGNAL as the client library sends it, with a stagger parameter of our choice.
std::vector<uint8_t> signalRequest(const std::string& event, std::span<const uint8_t> payload,
                                   int32_t staggerType = 0, int32_t staggerParam = 0);
// A REGISTER for address:port (host order) and `event`.
std::vector<uint8_t> registerRequest(const std::string& address, uint16_t port,
                                     const std::string& event);
inline Answer answer(uint32_t code, int32_t result) {
  return Answer{kVersion, code, result};
}

// The success and fail counts of one "done" line of the Signaler.
struct DoneCounts {
  int success = 0;
  int fail = 0;
  bool operator==(const DoneCounts&) const = default;
};
std::ostream& operator<<(std::ostream& out, const DoneCounts& counts);

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string tolmdPath();
  std::vector<std::string> environment() const;

  // Starts tolmd in debug mode (`wrapper` words, such as a limit setter, go before it) and
  // waits until it listens. Fails the test when it does not.
  void startDaemon(const std::vector<std::string>& wrapper = {});
  // SIGTERM; expects the daemon to end with 0.
  void stopDaemon();
  nvo_test::DaemonProcess& daemon() { return *daemon_; }
  uint16_t port() const { return port_; }

  std::optional<Answer> send(std::span<const uint8_t> request,
                             std::chrono::milliseconds timeout = 15s);
  std::optional<Answer> registerAt(const std::string& address, uint16_t port,
                                   const std::string& event);
  std::optional<Answer> signal(const std::string& event, std::span<const uint8_t> payload,
                               int32_t staggerType = 0, int32_t staggerParam = 0);

  // The daemon's socket exception reports so far (their "* ..." lines), for failure messages.
  std::string exceptionReports() const;
  // Every "done" line of the Signaler so far, in order.
  std::vector<DoneCounts> doneLines() const;
  // Waits until at least `count` "done" lines were logged.
  bool waitForDone(std::size_t count, std::chrono::milliseconds timeout);
  // The records of the start-up listing that ends at the `nth` (0-based) "listening" line:
  // "event: NAME  address: A:P" each.
  std::vector<std::string> listingBefore(std::size_t nth) const;

  nvo_test::ServiceSandbox sandbox_{"/run/faults-vslp.conf"};
  std::unique_ptr<nvo_test::DaemonProcess> daemon_;
  uint16_t port_ = 0;
};

}  // namespace faults

#endif  // TESTS_FAULTS_FAULT_FIXTURE_H_
