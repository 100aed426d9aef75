// The service around the requests: SLP advertisement and withdrawal, restarts, stopping
// without any network interface, running out of descriptors, and the bound on a sequential
// acknowledgement.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include <arpa/inet.h>

#include "protocol/tolm_wire.h"
#include "tolmd/tests/tolmd_fixture.h"

namespace tolmd_test {
namespace {

using tolm::kAnswerRegister;
using tolm::kAnswerSignal;

class TolmdLifecycleTest : public TolmdTest {
 protected:
  // The URLs of type tolm.x that SLP finds, as vslptool prints them ("URL,LIFETIME").
  std::set<std::string> findTolmServices() {
    nvo_test::RunResult found = nvo_test::runProgram(nvo_test::buildBinary("vslptool"),
                                                     {"findsrvs", "tolm.x"}, 20s, environment());
    EXPECT_EQ(found.exitCode, 0);
    return std::set<std::string>(found.lines.begin(), found.lines.end());
  }
  std::set<std::string> expectedUrls(const std::string& lifetime = "65535") const {
    std::string port = std::to_string(port_);
    return {"service:tolm.x://192.0.2.1:" + port + "," + lifetime,
            "service:tolm.x://198.51.100.1:" + port + "," + lifetime};
  }
  const std::vector<uint8_t> payload_{1};
};

TEST_F(TolmdLifecycleTest, AdvertisesOneUrlPerInterfaceAndWithdrawsThemAtStop) {
  startSlpAgent();
  // A URL of this host left behind by an earlier run on another port.
  nvo_test::RunResult stale = nvo_test::runProgram(
      nvo_test::buildBinary("vslptool"),
      {"-t", "65535", "register", "service:tolm.x://192.0.2.1:1", "(public_key=0)"}, 20s,
      environment());
  ASSERT_EQ(stale.exitCode, 0);

  startDaemon();
  EXPECT_TRUE(daemon().hasExactLine(
      "TolmDaemon::doSlpDeregister calling SLPDereg with URL service:tolm.x://192.0.2.1:1"));
  const std::string port = std::to_string(port_);
  EXPECT_TRUE(daemon().hasExactLine("TOLMD registered url service:tolm.x://192.0.2.1:" + port +
                                    " with SLP"));
  EXPECT_TRUE(daemon().hasExactLine("TOLMD registered url service:tolm.x://198.51.100.1:" + port +
                                    " with SLP"));
  EXPECT_EQ(findTolmServices(), expectedUrls());
  nvo_test::RunResult attributes =
      nvo_test::runProgram(nvo_test::buildBinary("vslptool"),
                           {"findattrs", "service:tolm.x://192.0.2.1:" + port}, 20s, environment());
  EXPECT_EQ(attributes.lines, std::vector<std::string>{"(public_key=0)"});

  // A restart re-registers the same URLs.
  const std::size_t from = daemon().lineCount();
  listing();
  EXPECT_TRUE(daemon().waitForLine(
      "TolmDaemon::run - De-registered service:tolm.x://192.0.2.1:" + port + " with SLP", 1s,
      from));
  EXPECT_TRUE(daemon().waitForLine(
      "TOLMD registered url service:tolm.x://198.51.100.1:" + port + " with SLP", 1s, from));
  EXPECT_EQ(findTolmServices(), expectedUrls());

  stopDaemon();
  EXPECT_TRUE(daemon().hasExactLine(
      "TolmDaemon::run - De-registered service:tolm.x://198.51.100.1:" + port + " with SLP"));
  EXPECT_EQ(findTolmServices(), std::set<std::string>{});
}

TEST_F(TolmdLifecycleTest, WithoutTheSlpAgentTheServiceStillRuns) {
  startDaemon();
  EXPECT_EQ(daemon().countLines("TOLMD failed to register url service:tolm.x://"), 2u);
  EXPECT_EQ(signal("any", payload_), answer(kAnswerSignal, 0));
  stopDaemon();
}

TEST_F(TolmdLifecycleTest, StopsWithoutAnyNetworkInterface) {
  // Only loopback in a network namespace of its own: the wake-up of the accept call has no
  // interface address to go to and must use 127.0.0.1.
  daemon_ = std::make_unique<nvo_test::DaemonProcess>(
      "/usr/bin/unshare",
      std::vector<std::string>{"--net", "--", "/bin/sh", "-c",
                               "ip link set lo up && exec \"$0\" -d", tolmdPath()},
      environment());
  daemon_->start();
  ASSERT_TRUE(daemon_->waitForLine("tolmd listening on all interfaces at port", 20s))
      << daemon_->transcript();
  EXPECT_EQ(daemon_->countLines("TOLMD registered url"), 0u);
  daemon_->sendSignal(SIGTERM);
  EXPECT_EQ(daemon_->waitForExit(20s), 0) << daemon_->transcript();
  EXPECT_TRUE(daemon_->hasExactLine("TolmDaemon::shutdown done"));
  EXPECT_TRUE(daemon_->hasExactLine("tolmd completed shutdown process - ending"));
}

TEST_F(TolmdLifecycleTest, RunningOutOfDescriptorsPausesAcceptingButNeverEndsIt) {
  // A small descriptor limit from the start; the Registry, busy with a slow probe, keeps every
  // queued registration's connection open until none is left for accept.
#if defined(NVO_SANITIZED)
  // The undefined-behaviour checker inspects the object behind a vtable through a pipe of its
  // own; with no descriptor left it cannot, and takes the SocketException being thrown for a
  // bad object, ending the process. That is the checker's limit, not the daemon's.
  GTEST_SKIP() << "the sanitizers cannot work without free descriptors";
#endif
  constexpr int kLimit = 16;
  daemon_ = std::make_unique<nvo_test::DaemonProcess>(
      "/bin/sh",
      std::vector<std::string>{"-c", "ulimit -n " + std::to_string(kLimit) + " && exec \"$0\" -d",
                               tolmdPath()},
      environment());
  daemon_->start();
  auto listening = daemon_->waitForLine("tolmd listening on all interfaces at port ", 20s);
  ASSERT_TRUE(listening) << daemon_->transcript();
  const std::string line = daemon_->lines()[*listening];
  port_ = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(' ') + 1)));

  nvo_test::TestListener slow(
      {.ping = nvo_test::PingMode::kSlow, .answerDelay = 2000ms, .address = "127.0.0.2"});
  nvo_test::RawConnection first(port_);
  first.send(listenerRequest(tolm::kFuncRegister, slow.addressNetworkOrder(),
                             slow.portNetworkOrder(), "fd"));
  ASSERT_TRUE(slow.waitForPings(1, 10s));
  const uint16_t closedPort = nvo_test::TestListener::unusedPort("127.0.0.3");
  std::vector<std::unique_ptr<nvo_test::RawConnection>> queued;
  for (int i = 0; i < kLimit; ++i) {
    queued.push_back(std::make_unique<nvo_test::RawConnection>(port_));
    queued.back()->send(
        listenerRequest(tolm::kFuncRegister, ::htonl(0x7f000003), ::htons(closedPort), "fd"));
  }
  nvo_test::RawConnection waiting(port_);
  ASSERT_TRUE(waiting.send(signalRequest("late", payload_, 0, 0)));
  ASSERT_TRUE(waitForLines("TolmDaemon::run - accept failed: ", 2, 10s)) << daemon_->transcript();
  const auto failingSince = std::chrono::steady_clock::now();
  const std::size_t failuresBefore = daemon_->countLines("TolmDaemon::run - accept failed: ");

  // Served once the slow probe ends and the queue drains.
  std::vector<uint8_t> bytes = waiting.read(12, 20s);
  const auto elapsed = std::chrono::steady_clock::now() - failingSince;
  ASSERT_EQ(bytes.size(), 12u) << daemon_->transcript();
  EXPECT_EQ(tolm::decodeHeader(std::span<const uint8_t, 12>(bytes.data(), 12)).function,
            tolm::kAnswerSignal);
  const std::size_t failures =
      daemon_->countLines("TolmDaemon::run - accept failed: ") - failuresBefore;
  // With the back-off no more than one attempt per 100 ms (and one already under way).
  EXPECT_LE(failures, 1 + static_cast<std::size_t>(elapsed / 100ms));
  EXPECT_TRUE(daemon_->hasExactLine(
      "TolmDaemon::run - accept failed: InetServerSocketImpl::accept - accept: Too many open "
      "files - retrying"));

  EXPECT_EQ(first.read(12, 10s).size(), 12u);
  for (auto& connection : queued) {
    std::vector<uint8_t> answerBytes = connection->read(12, 20s);
    ASSERT_EQ(answerBytes.size(), 12u);
    EXPECT_EQ(static_cast<int32_t>(tolm::loadWord(answerBytes, 8)), -12);
  }
  EXPECT_EQ(signal("after", payload_), answer(kAnswerSignal, 0));
  stopDaemon();
}

TEST_F(TolmdLifecycleTest, SilentSequentialListenerHoldsTheSignalerOnlyTenSeconds) {
  startDaemon();
  nvo_test::TestListener silent({.notify = nvo_test::NotifyMode::kSilent, .address = "127.0.0.2"});
  nvo_test::TestListener next(
      {.notify = nvo_test::NotifyMode::kAcknowledge, .address = "127.0.0.3"});
  EXPECT_EQ(registerListener(silent, "seq"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(next, "seq"), answer(kAnswerRegister, 0));
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(signal("seq", payload_, tolm::kStaggerSequential, 0), answer(kAnswerSignal, 0));
  ASSERT_TRUE(silent.waitForNotifications(1, 10s));
  ASSERT_TRUE(next.waitForNotifications(1, 30s)) << "the Signaler gave up on the silent one";
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 10s) << "after the full time-out";
  ASSERT_TRUE(waitForDeliveries(1));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::notifyClient - " + silent.text() +
                                    " failed to respond to sequential signal"));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::doSignal done [success=1] [fail=1]"));
  // The Registry got the database lock back.
  nvo_test::TestListener later({.address = "127.0.0.4"});
  EXPECT_EQ(registerListener(later, "seq"), answer(kAnswerRegister, 0));
}

}  // namespace
}  // namespace tolmd_test
