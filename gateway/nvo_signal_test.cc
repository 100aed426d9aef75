// TRKSignalEvent end to end inside the test sandbox: vslpd, tolmd and tolm-listen run as real
// processes, and the signal travels SLP discovery -> SIGNAL -> tolmd -> NOTIFY -> the listener.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/slp_test_agent.h"
#include "gateway/mux_client.h"
#include "gateway/nvo_api.h"
#include "tests/support/daemon_process.h"

namespace nvo {
namespace {

using std::chrono::milliseconds;

TEST(NvoSignalTest, SignalReachesARealListenerThroughTolmdAndFailureIsMinusOne) {
  if (!nvo_test::inSandbox()) {
    GTEST_SKIP() << "needs the test sandbox (vslpd on port 427, tolmd as root)";
  }
  MUXClient client;  // the event service needs no directory session
  // Nobody to signal yet: no daemon is found.
  vokra::testing::useFastSlpConfig();
  vokra::testing::SlpTestAgent agent;
  agent.start();
  EXPECT_EQ(TRKSignalEvent(client.getApiCtx(), "nvo.fire", 0, 0, 0), -1);

  nvo_test::DaemonProcess tolmd(nvo_test::buildBinary("tolmd"), {"-d"});
  tolmd.start();
  ASSERT_TRUE(tolmd.waitForLine("registered url", milliseconds(15000))) << tolmd.transcript();
  nvo_test::DaemonProcess listener(nvo_test::buildBinary("tolm-listen"), {"nvo.fire"});
  listener.start();
  ASSERT_TRUE(listener.waitForLine("registered nvo.fire", milliseconds(30000)))
      << listener.transcript();

  struct Case {
    const char* event;
    int result;
  };
  for (const Case& c : {Case{"nvo.fire", 0}, Case{"", -1}, Case{nullptr, -1}}) {
    SCOPED_TRACE(c.event != nullptr ? c.event : "(null)");
    EXPECT_EQ(TRKSignalEvent(client.getApiCtx(), c.event, 0, 0, 0), c.result);
  }
  const auto line = listener.waitForLine("NOTIFY event=nvo.fire ", milliseconds(15000));
  ASSERT_TRUE(line) << listener.transcript() << "\ntolmd said:\n" << tolmd.transcript();
  EXPECT_EQ(listener.lines().at(*line).rfind("NOTIFY event=nvo.fire stagger=0 bytes=0", 0), 0u)
      << listener.lines().at(*line);
  listener.stop(milliseconds(15000));
}

}  // namespace
}  // namespace nvo
