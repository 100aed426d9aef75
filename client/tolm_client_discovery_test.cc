// The process-wide server record behind TolmClient, over the life of one process inside the
// test sandbox: no agent, then an agent without the service, then the service (looked up once
// by many threads at once), then the agent gone while the record stays.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/slp_test_agent.h"
#include "client/tolm_client.h"
#include "client/tolm_server_info.h"
#include "tests/support/daemon_process.h"

namespace vokra {
namespace {

TEST(TolmClientDiscoveryTest, LookupIsRepeatedUntilFoundThenKept) {
  if (!nvo_test::inSandbox()) {
    GTEST_SKIP() << "needs the test sandbox (SLP agent on port 427)";
  }
  testing::useFastSlpConfig();
  TolmServerInfo& shared = TolmServerInfo::shared();
  TolmClient client;

  // No agent at all.
  EXPECT_EQ(client.getTolmServer(), "");
  EXPECT_EQ(client.signalEvent("e", "x", 1, 0, 0), TolmClient::kNoServer);
  EXPECT_EQ(shared.lookupCount(), 2u);

  // An agent that knows no event daemon: still nothing, and every call asks again.
  testing::SlpTestAgent agent;
  agent.start();
  EXPECT_EQ(client.signalEvent("e", nullptr, 0, 2, 0), TolmClient::kNoServer);
  EXPECT_EQ(client.getTolmServer(), "");
  EXPECT_EQ(shared.lookupCount(), 4u);
  // The empty name is refused before any lookup.
  EXPECT_EQ(client.signalEvent("", "x", 1, 0, 0), TolmClient::kEmptyEventName);
  EXPECT_EQ(shared.lookupCount(), 4u);

  // The service appears; threads signalling at once run exactly one more lookup. Nothing
  // listens on port 9 of the loopback, so each signal fails at connect: -11, not -7.
  ASSERT_EQ(testing::registerService("service:tolm.x://127.0.0.1:9", "(public_key=0)"), 0);
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  std::vector<int> results(kThreads);
  std::vector<std::string> urls(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &results, &urls] {
      TolmClient own;
      results[t] = own.signalEvent("e", "x", 1, 0, 0);
      urls[t] = own.getTolmServer();
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(shared.lookupCount(), 5u);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(results[t], TolmClient::kNetworkFailure) << "thread " << t;
    EXPECT_EQ(urls[t], "service:tolm.x://127.0.0.1:9") << "thread " << t;
  }

  // The agent goes away; the record stays and no query is made.
  agent.stop();
  EXPECT_EQ(client.getTolmServer(), "service:tolm.x://127.0.0.1:9");
  EXPECT_EQ(client.signalEvent("e", "x", 1, 0, 0), TolmClient::kNetworkFailure);
  EXPECT_EQ(shared.lookupCount(), 5u);
}

}  // namespace
}  // namespace vokra
