// fire on a real terminal, in the test sandbox: the console's event goes through the SLP agent
// vslpd to a real tolmd, which notifies a real tolm-listen registered for it; with tolmd gone
// the same command reports the failure.
#include <chrono>
#include <memory>

#include "tarvik/testing/console_fixture.h"
#include "tests/support/daemon_process.h"
#include "tests/support/service_sandbox.h"

namespace tarvik_test {
namespace {

using namespace std::chrono_literals;

class ConsoleFireTest : public ConsoleTest {
 protected:
  void SetUp() override {
    if (!nvo_test::inSandbox()) {
      GTEST_SKIP() << "needs the test sandbox (vslpd on port 427, tolmd as root)";
    }
    ConsoleTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    sandbox_.prepare(
        "net.slp.interfaces = 127.0.0.1\n"
        "net.slp.multicastMaximumWait = 300\n"
        "net.slp.unicastMaximumWait = 1000\n");
  }

  void TearDown() override {
    nvo_test::stopAndRelease(tolmd_, 15s);
    nvo_test::stopAndRelease(agent_, 15s);
    ConsoleTest::TearDown();
  }

  nvo_test::ServiceSandbox sandbox_{"/run/tarvik-fire-slp.conf"};
  std::unique_ptr<nvo_test::DaemonProcess> agent_;
  std::unique_ptr<nvo_test::DaemonProcess> tolmd_;
};

TEST_F(ConsoleFireTest, FireReachesARealListenerThroughTolmd) {
  agent_ = sandbox_.startSlpAgent();
  ASSERT_TRUE(nvo_test::waitForSlpAgent(10s)) << "vslpd does not answer on port 427";
  tolmd_ = sandbox_.startTolmd({"-d"});
  ASSERT_TRUE(nvo_test::waitUntilListening(*tolmd_, 30s)) << tolmd_->transcript();
  nvo_test::DaemonProcess listener(nvo_test::buildBinary("tolm-listen"), {"tarvik.fired"},
                                   sandbox_.environment());
  listener.start();
  ASSERT_TRUE(listener.waitForLine("registered tarvik.fired", 30s)) << listener.transcript();

  auto terminal = startConsole(true, sandbox_.environment());
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  const std::string top = "Top : ";
  s.say("fire", {"USAGE: fire <eventname>", top});
  s.say("fire tarvik.fired", {"Event signalled", top});
  const auto line = listener.waitForLine("NOTIFY event=tarvik.fired ", 15s);
  ASSERT_TRUE(line) << listener.transcript() << "\ntolmd said:\n" << tolmd_->transcript();
  EXPECT_EQ(listener.lines().at(*line).rfind("NOTIFY event=tarvik.fired stagger=0 bytes=0", 0), 0u)
      << listener.lines().at(*line);
  // The argument is everything after the first blank: the event " " is signalled, and reaches
  // nobody registered for tarvik.fired.
  s.say("fire  ", {"Event signalled", top});
  s.say("fire tarvik.fired", {"Event signalled", top});
  ASSERT_TRUE(listener.waitForLine("NOTIFY event=tarvik.fired ", 15s, *line + 1))
      << listener.transcript();
  EXPECT_EQ(listener.countLines("NOTIFY event="), 2u) << listener.transcript();

  // Without tolmd nobody takes the event.
  EXPECT_EQ(listener.stop(15s), 0) << listener.transcript();
  nvo_test::stopAndRelease(tolmd_, 15s);
  s.say("fire tarvik.fired", {"TRKSignalEvent failed", top});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
