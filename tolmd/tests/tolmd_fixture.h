// What every end-to-end test of tolmd shares: the real binary started as root inside the test
// sandbox (nvo_test::ServiceSandbox; real paths /var/run/tolmd.pid and /var/lib/tolm, private to
// the sandbox), requests built byte for byte, and the daemon's debug log read line by line.
//
// Outside the sandbox every test skips, so nothing here can touch the host's own files.
#ifndef TOLMD_TESTS_TOLMD_FIXTURE_H_
#define TOLMD_TESTS_TOLMD_FIXTURE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/daemon_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/service_sandbox.h"
#include "tests/support/test_listener.h"

namespace tolmd_test {

using namespace std::chrono_literals;
using nvo_test::Answer;

inline constexpr uint32_t kVersion = 0x00010001;
inline constexpr const auto& kPidFile = nvo_test::kTolmdPidFile;
inline constexpr const auto& kDatabaseDirectory = nvo_test::kTolmdDatabaseDirectory;
inline constexpr const auto& kDatabaseFile = nvo_test::kTolmdDatabaseFile;

// A SIGNAL request; `countNul` makes nameLength include a terminating NUL, as the client
// library does. Built word by word here, on purpose without the wire codec (protocol/tolm_wire):
// a fault in the codec then shows as a daemon that rejects or misreads these bytes, instead of
// hiding behind a test that shares it.
std::vector<uint8_t> signalRequest(const std::string& name, std::span<const uint8_t> payload,
                                   int32_t staggerType, int32_t staggerParam, bool countNul = true);
// A REGISTER or DEREGISTER request for `address`:`port` (network order).
std::vector<uint8_t> listenerRequest(uint32_t function, uint32_t address, uint16_t port,
                                     const std::string& name);
// Puts the right checksum into a request's body (bytes 12..15), computed here by its
// definition (the sum of body bytes 4.. modulo 2^32), again without the codec.
void fixChecksum(std::vector<uint8_t>& request);

class TolmdTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string tolmdPath();
  // Environment for tolmd and vslpd: SLP settings with short multicast waits.
  std::vector<std::string> environment() const;

  // Starts tolmd (debug mode by default) and waits until it listens.
  void startDaemon(std::vector<std::string> args = {"-d"});
  // SIGTERM; expects the daemon to end with 0.
  void stopDaemon();
  nvo_test::DaemonProcess& daemon() { return *daemon_; }
  uint16_t port() const { return port_; }

  // Starts the SLP service agent and waits until it answers on port 427.
  void startSlpAgent();

  std::optional<Answer> send(std::span<const uint8_t> request);
  std::optional<Answer> registerListener(const nvo_test::TestListener& listener,
                                         const std::string& event);
  std::optional<Answer> deregister(uint32_t address, uint16_t port, const std::string& event);
  std::optional<Answer> signal(const std::string& event, std::span<const uint8_t> payload,
                               int32_t staggerType = 0, int32_t staggerParam = 0);

  // The database as the daemon lists it at a (SIGHUP) restart: "event: NAME  address: A:P".
  std::vector<std::string> listing();
  // Waits until at least `count` log lines contain `text`.
  bool waitForLines(const std::string& text, std::size_t count,
                    std::chrono::milliseconds timeout = 15s);
  // Waits until the Signaler has finished `count` deliveries in all and is idle again.
  bool waitForDeliveries(std::size_t count, std::chrono::milliseconds timeout = 20s);

  nvo_test::ServiceSandbox sandbox_{"/run/tolmd-test-slp.conf"};
  std::unique_ptr<nvo_test::DaemonProcess> slpAgent_;
  std::unique_ptr<nvo_test::DaemonProcess> daemon_;
  uint16_t port_ = 0;
};

// Answer shorthand for expectations.
inline Answer answer(uint32_t code, int32_t result) {
  return Answer{kVersion, code, result};
}

}  // namespace tolmd_test

#endif  // TOLMD_TESTS_TOLMD_FIXTURE_H_
