// TolmServerInfo against the project's SLP agent, vslpd, inside the test sandbox: a server is
// found with its key, two servers give one, no server gives port 0 and a repeated lookup, and
// a found server is kept without further queries, even when the agent is gone.
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

class TolmServerInfoSlpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (nvo_test::inSandbox()) {
      testing::useFastSlpConfig();
    }
  }
  void SetUp() override {
    if (!nvo_test::inSandbox()) {
      GTEST_SKIP() << "needs the test sandbox (SLP agent on port 427)";
    }
    agent_.start();
  }

  testing::SlpTestAgent agent_;
};

TEST_F(TolmServerInfoSlpTest, FindsTheServerReadsItsKeyAndKeepsIt) {
  ASSERT_EQ(testing::registerService("service:tolm.x://192.168.1.7:3456",
                                     "(public_key=MIIBCgKCAQEAvokra)"),
            0);
  TolmServerInfo info;
  ASSERT_TRUE(info.getTolmSLPInfo());
  EXPECT_EQ(info.getLastError(), 0);
  const TolmSLPInfo& record = info.getSLPInfo();
  EXPECT_EQ(record.getUrl(), "service:tolm.x://192.168.1.7:3456");
  EXPECT_EQ(record.getHost(), "192.168.1.7");
  EXPECT_EQ(record.getPort(), 3456);
  EXPECT_EQ(record.getPublicKey(), "MIIBCgKCAQEAvokra");
  EXPECT_EQ(info.lookupCount(), 1u);

  // Kept: no second lookup, even with no agent left to ask.
  agent_.stop();
  EXPECT_TRUE(info.getTolmSLPInfo());
  EXPECT_EQ(info.getSLPInfo().getPort(), 3456);
  EXPECT_EQ(info.copySLPInfo().getPublicKey(), "MIIBCgKCAQEAvokra");
  EXPECT_EQ(info.lookupCount(), 1u);
}

TEST_F(TolmServerInfoSlpTest, DaemonStyleAdvertisementGivesKeyZero) {
  ASSERT_EQ(testing::registerService("service:tolm.x://192.0.2.1:40001", "(public_key=0)"), 0);
  TolmServerInfo info;
  ASSERT_TRUE(info.getTolmSLPInfo());
  EXPECT_EQ(info.getSLPInfo().getPublicKey(), "0");
  EXPECT_EQ(info.getSLPInfo().getPort(), 40001);
}

TEST_F(TolmServerInfoSlpTest, TwoServersGiveExactlyOneOfThem) {
  const std::string first = "service:tolm.x://192.0.2.1:5001";
  const std::string second = "service:tolm.x://198.51.100.1:5002";
  ASSERT_EQ(testing::registerService(first, "(public_key=0)"), 0);
  ASSERT_EQ(testing::registerService(second, "(public_key=0)"), 0);
  TolmServerInfo info;
  ASSERT_TRUE(info.getTolmSLPInfo());
  const TolmSLPInfo record = info.copySLPInfo();
  // Host and port come from the same URL as the url field: one URL was taken, not a mix.
  if (record.getUrl() == first) {
    EXPECT_EQ(record.getHost(), "192.0.2.1");
    EXPECT_EQ(record.getPort(), 5001);
  } else {
    EXPECT_EQ(record.getUrl(), second);
    EXPECT_EQ(record.getHost(), "198.51.100.1");
    EXPECT_EQ(record.getPort(), 5002);
  }
}

TEST_F(TolmServerInfoSlpTest, NoServerGivesPortZeroAndEveryCallLooksUpAgain) {
  TolmServerInfo info;
  EXPECT_FALSE(info.getTolmSLPInfo());
  EXPECT_EQ(info.getSLPInfo().getPort(), 0);
  EXPECT_EQ(info.getSLPInfo().getUrl(), "");
  EXPECT_EQ(info.lookupCount(), 3u);

  // A server that appears later is found by the next call.
  ASSERT_EQ(testing::registerService("service:tolm.x://192.0.2.1:6001", "(public_key=0)"), 0);
  EXPECT_TRUE(info.getTolmSLPInfo());
  EXPECT_EQ(info.getSLPInfo().getPort(), 6001);
  EXPECT_EQ(info.lookupCount(), 4u);
}

TEST_F(TolmServerInfoSlpTest, NoAgentGivesPortZero) {
  agent_.stop();
  TolmServerInfo info;
  EXPECT_FALSE(info.getTolmSLPInfo());
  EXPECT_EQ(info.getSLPInfo().getPort(), 0);
  EXPECT_EQ(info.getSLPInfo().getHost(), "");
}

TEST_F(TolmServerInfoSlpTest, ThreadsAskingAtOnceShareOneLookup) {
  ASSERT_EQ(testing::registerService("service:tolm.x://192.0.2.1:7001", "(public_key=k7)"), 0);
  TolmServerInfo info;
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  std::vector<TolmSLPInfo> seen(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&info, &seen, t] { seen[t] = info.copySLPInfo(); });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(info.lookupCount(), 1u);
  for (const TolmSLPInfo& record : seen) {
    EXPECT_EQ(record.getUrl(), "service:tolm.x://192.0.2.1:7001");
    EXPECT_EQ(record.getPort(), 7001);
    EXPECT_EQ(record.getPublicKey(), "k7");
  }
}

}  // namespace
}  // namespace vokra
