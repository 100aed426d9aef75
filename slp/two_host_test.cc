// Two hosts: this sandbox (192.0.2.1 on vt0) and the network namespace "peer" (192.0.2.2),
// joined by a veth pair. Services cross by multicast; registrations do not.
#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "slp/client.h"
#include "slp/test_support.h"

namespace vslp {
namespace {

using namespace std::chrono_literals;
using testing::CommandResult;
using testing::DaemonChild;
using testing::TempDir;

constexpr uint32_t kPeer = 0xc0000202;  // 192.0.2.2

class TwoHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::inSandbox()) {
      GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (namespaces for two hosts)";
    }
    dir_ = std::make_unique<TempDir>();
    config_ = dir_->write("vslp.conf", testing::testConfig());
    // The peer shares this file system: its daemon needs a pid file of its own.
    peerConfig_ = dir_->write(
        "peer.conf", testing::testConfig("vslpd.pidFile = " + dir_->path() + "/peer.pid\n"));
  }

  CommandResult tool(const std::vector<std::string>& args, bool onPeer = false) {
    std::vector<std::string> argv;
    if (onPeer) {
      argv = {"ip", "netns", "exec", "peer"};
    }
    argv.push_back(testing::buildProgram("vslptool"));
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::runCommand(argv, {"VSLP_CONF=" + (onPeer ? peerConfig_ : config_)}, 20s);
  }

  std::unique_ptr<TempDir> dir_;
  std::string config_;
  std::string peerConfig_;
};

TEST_F(TwoHostTest, ServiceOfThePeerIsFoundByMulticast) {
  DaemonChild peer(peerConfig_, kPeer, "peer");
  DaemonChild local(config_);
  ASSERT_EQ(
      tool({"-t", "65535", "register", "service:tolm.x://192.0.2.2:3456", "(public_key=0)"}, true)
          .status,
      0);
  ASSERT_EQ(
      tool({"-t", "65535", "register", "service:tolm.x://192.0.2.1:3456", "(public_key=1)"}).status,
      0);
  CommandResult found = tool({"findsrvs", "tolm.x"});
  ASSERT_EQ(found.status, 0) << found.err;
  std::vector<std::string> lines = testing::splitLines(found.out);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"service:tolm.x://192.0.2.1:3456,65535",
                                             "service:tolm.x://192.0.2.2:3456,65535"}))
      << "each service once: the local agent answers by TCP only";
  EXPECT_EQ(tool({"findsrvs", "tolm.x", "(public_key=0)"}).out,
            "service:tolm.x://192.0.2.2:3456,65535\n");
  EXPECT_EQ(tool({"findattrs", "service:tolm.x://192.0.2.2:3456"}).out, "(public_key=0)\n");
  CommandResult agents = tool({"findsrvs", "service:service-agent"});
  EXPECT_NE(agents.out.find("service:service-agent://192.0.2.2,0"), std::string::npos)
      << agents.out;
  EXPECT_EQ(tool({"-u", "192.0.2.2", "findsrvs", "tolm.x"}).out,
            "service:tolm.x://192.0.2.2:3456,65535\n")
      << "unicast to one agent";
}

TEST_F(TwoHostTest, RegistrationFromThePeerIsRefused) {
  DaemonChild local(config_);
  CommandResult r = tool({"-u", "192.0.2.1", "register", "service:evil.x://192.0.2.2:1"}, true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("SLP_AUTHENTICATION_FAILED (-7)"), std::string::npos) << r.err;
  CommandResult d = tool({"-u", "192.0.2.1", "deregister", "service:evil.x://192.0.2.2:1"}, true);
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(tool({"findsrvs", "evil.x"}).out, "");
  EXPECT_EQ(tool({"findsrvtypes"}).out, "");
}

TEST_F(TwoHostTest, OverflowedMulticastReplyIsFetchedAgainByTcp) {
  DaemonChild local(config_);
  ClientSettings settings = ClientSettings::from(Properties::load());
  Client client("en", settings);
  const int kCount = 200;
  for (int i = 0; i < kCount; ++i) {
    SLPError answer = SLP_INTERNAL_SYSTEM_ERROR;
    ASSERT_EQ(client.registerService("service:bulk.x://10.2.0." + std::to_string(i) + ":7000",
                                     65535, "", "", true, [&](SLPError e) { answer = e; }),
              SLP_OK);
    ASSERT_EQ(answer, SLP_OK);
  }
  CommandResult found = tool({"findsrvs", "bulk.x"}, true);
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(testing::splitLines(found.out).size(), static_cast<size_t>(kCount));
}

}  // namespace
}  // namespace vslp
