// vslpd as a program (detaching, pid file, privileges, signals, limits) and vslptool, in the
// sandbox.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "slp/codec.h"
#include "slp/socket_ops.h"
#include "slp/tcp_exchange.h"
#include "slp/test_support.h"

namespace vslp {
namespace {

using namespace std::chrono_literals;
using testing::CommandResult;
using testing::DaemonChild;
using testing::runCommand;
using testing::TempDir;

constexpr const char* kSystemPidFile = "/var/run/vslpd.pid";

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The real uid of process `pid`, from /proc.
long uidOf(pid_t pid) {
  std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Uid:", 0) == 0) {
      return std::stol(line.substr(4));
    }
  }
  return -1;
}

bool processExists(pid_t pid) {
  return ::kill(pid, 0) == 0;
}

class DaemonEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::inSandbox()) {
      GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (own network namespace)";
    }
    dir_ = std::make_unique<TempDir>();
    config_ = dir_->write("vslp.conf", testing::testConfig());
  }

  CommandResult vslpd(const std::vector<std::string>& args) {
    std::vector<std::string> argv{testing::buildProgram("vslpd")};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, {"VSLP_CONF=" + config_}, 20s);
  }
  CommandResult tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{testing::buildProgram("vslptool")};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, {"VSLP_CONF=" + config_}, 20s);
  }

  std::unique_ptr<TempDir> dir_;
  std::string config_;
};

TEST_F(DaemonEndToEndTest, DetachesWritesItsPidFileDropsRootAndStopsOnRequest) {
  CommandResult start = vslpd({});
  ASSERT_EQ(start.status, 0) << start.err;
  std::string text = readFile(kSystemPidFile);
  ASSERT_FALSE(text.empty());
  pid_t pid = static_cast<pid_t>(std::stol(text));
  ASSERT_TRUE(processExists(pid));
  EXPECT_EQ(uidOf(pid), 65534) << "runs as nobody";

  CommandResult second = vslpd({});
  EXPECT_EQ(second.status, 1) << "a second instance must not start";
  EXPECT_TRUE(processExists(pid));

  ::kill(pid, SIGHUP);
  int error = 0;
  Message probe{Header{0, 3, "en", {}}, SrvRqst{"", "service:directory-agent", "", "", ""}};
  EXPECT_TRUE(TcpExchange::run(Endpoint{0x7f000001, 427}, encode(probe), 2s, error))
      << "still answers after SIGHUP";

  CommandResult stop = vslpd({"-k"});
  EXPECT_EQ(stop.status, 0) << stop.err;
  EXPECT_TRUE(testing::eventually([&] { return !processExists(pid); }, 10s));
  EXPECT_TRUE(readFile(kSystemPidFile).empty()) << "pid file emptied on exit";
}

TEST_F(DaemonEndToEndTest, ForegroundRunWritesOnlyAConfiguredPidFile) {
  std::string pidFile = dir_->path() + "/test.pid";
  {
    DaemonChild daemon(config_);
    EXPECT_TRUE(readFile(kSystemPidFile).empty()) << "no pid written";
  }
  std::string withPid =
      dir_->write("pid.conf", testing::testConfig("vslpd.pidFile = " + pidFile + "\n"));
  DaemonChild daemon(withPid);
  EXPECT_EQ(std::stol(readFile(pidFile)), daemon.pid());
  EXPECT_EQ(daemon.stop(), 0);
}

TEST_F(DaemonEndToEndTest, ReportsUsageAndStartFailures) {
  CommandResult help = vslpd({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vslpd", 0), 0u) << help.out;
  EXPECT_EQ(vslpd({"-x"}).status, 1);
  EXPECT_EQ(vslpd({"-l", "9"}).status, 1);
  DaemonChild daemon(config_);
  CommandResult busy = vslpd({"-d"});
  EXPECT_EQ(busy.status, 1) << "port already taken";
  EXPECT_NE(busy.out.find("bind"), std::string::npos) << busy.out;
  config_ = dir_->path() + "/missing.conf";
  EXPECT_EQ(vslpd({"-d"}).status, 1) << "configuration named but missing";
}

TEST_F(DaemonEndToEndTest, ToolRegistersFindsAndDeregisters) {
  DaemonChild daemon(config_);
  CommandResult r =
      tool({"-t", "65535", "register", "service:tolm.x://192.0.2.1:3456", "(public_key=0)"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(tool({"register", "service:printer:lpr://p.example/q"}).status, 0);
  CommandResult find = tool({"findsrvs", "tolm.x"});
  EXPECT_EQ(find.status, 0);
  EXPECT_EQ(find.out, "service:tolm.x://192.0.2.1:3456,65535\n");
  CommandResult filtered = tool({"findsrvs", "service:tolm.x", "(public_key=1)"});
  EXPECT_EQ(filtered.out, "");
  CommandResult attrs = tool({"findattrs", "service:tolm.x://192.0.2.1:3456"});
  EXPECT_EQ(attrs.out, "(public_key=0)\n");
  CommandResult types = tool({"findsrvtypes"});
  EXPECT_EQ(types.out, "service:tolm.x\nservice:printer:lpr\n");
  CommandResult agents = tool({"findsrvs", "service:service-agent"});
  EXPECT_EQ(agents.out, "service:service-agent://127.0.0.1,0\n");
  EXPECT_EQ(tool({"deregister", "service:tolm.x://192.0.2.1:3456"}).status, 0);
  EXPECT_EQ(tool({"findsrvs", "tolm.x"}).out, "");
  CommandResult again = tool({"deregister", "service:tolm.x://192.0.2.1:3456"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("SLP_INVALID_REGISTRATION"), std::string::npos) << again.err;
  EXPECT_EQ(tool({"findsrvs"}).status, 2);
  EXPECT_EQ(tool({"bogus"}).status, 2);
}

// -s names the scopes of every command; registrations outside the agent's scopes fail.
TEST_F(DaemonEndToEndTest, ToolHonoursScopesInEveryCommand) {
  config_ = dir_->write("scopes.conf", testing::testConfig("net.slp.useScopes = DEFAULT,OTHER\n"));
  DaemonChild daemon(config_);
  const std::string url = "service:tolm.x://192.0.2.1:3456";
  CommandResult r = tool({"-s", "OTHER", "register", url});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tool({"-s", "DEFAULT", "findsrvs", "tolm.x"}).out, "");
  EXPECT_EQ(tool({"-s", "OTHER", "findsrvs", "tolm.x"}).out, url + ",10800\n");
  CommandResult wrong = tool({"-s", "DEFAULT", "deregister", url});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("SLP_SCOPE_NOT_SUPPORTED"), std::string::npos) << wrong.err;
  EXPECT_EQ(tool({"-s", "OTHER", "deregister", url}).status, 0);
  EXPECT_EQ(tool({"findsrvs", "tolm.x"}).out, "");
  CommandResult unknown = tool({"-s", "ELSEWHERE", "register", url});
  EXPECT_EQ(unknown.status, 1) << "the agent serves no such scope";
  EXPECT_NE(unknown.err.find("SLP_SCOPE_NOT_SUPPORTED"), std::string::npos) << unknown.err;
  for (const char* lifetime : {"7x", "x7", "", "0", "65536", " 7", "7 "}) {
    CommandResult bad = tool({"-t", lifetime, "register", url});
    EXPECT_EQ(bad.status, 2) << "-t '" << lifetime << "'";
    EXPECT_NE(bad.err.find("Usage: vslptool"), std::string::npos) << lifetime;
  }
  EXPECT_EQ(tool({"findsrvs", "tolm.x"}).out, "") << "refused options register nothing";
}

// scripts/run starts an agent unless one answers on this host; an agent in another network
// namespace of the same machine, which a process listing shows, must not count.
TEST_F(DaemonEndToEndTest, RunScriptAsksTheAgentWhetherOneRuns) {
  const char* source = std::getenv("NVO_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string check = std::string(source) + "/scripts/slp-agent-answers";
  auto answers = [&] {
    return testing::runCommand({check, testing::buildProgram("vslptool")}, {"VSLP_CONF=" + config_},
                               20s)
        .status;
  };
  EXPECT_EQ(answers(), 1) << "no agent at all";
  {
    DaemonChild peer(config_, 0xc0000202, "peer");  // 192.0.2.2, the other namespace
    EXPECT_EQ(testing::runCommand({"pgrep", "-x", "vslpd"}, {}, 5s).status, 0)
        << "a process listing shows the other namespace's agent";
    EXPECT_EQ(answers(), 1) << "the other namespace's agent does not answer here";
    DaemonChild local(config_);
    EXPECT_EQ(answers(), 0) << "this host's agent answers";
  }
  EXPECT_EQ(answers(), 1) << "both stopped";
}

TEST_F(DaemonEndToEndTest, ToolReportsAMissingAgent) {
  CommandResult r = tool({"register", "service:tolm.x://h:1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("SLP_NETWORK_INIT_FAILED (-20)"), std::string::npos) << r.err;
}

TEST_F(DaemonEndToEndTest, BoundsConnectionsAndClosesIdleOnes) {
  config_ = dir_->write("limits.conf", testing::testConfig("vslpd.maxConnections = 3\n"
                                                           "vslpd.connectionIdleTimeout = 1\n"));
  DaemonChild daemon(config_);
  std::vector<UniqueFd> idle;
  for (int i = 0; i < 4; ++i) {
    idle.push_back(openSocket(SOCK_STREAM));
    startConnect(idle.back().get(), Endpoint{0x7f000001, 427});
  }
  auto closedByPeer = [](int fd) {
    uint8_t b;
    try {
      return readSome(fd, &b, 1) == 0;
    } catch (const SocketError&) {
      return true;
    }
  };
  EXPECT_TRUE(testing::eventually([&] { return closedByPeer(idle[3].get()); }, 5s))
      << "the connection over the limit is closed";
  EXPECT_TRUE(testing::eventually(
      [&] { return closedByPeer(idle[0].get()) && closedByPeer(idle[2].get()); }, 10s))
      << "idle connections are closed";
  int error = 0;
  Message probe{Header{0, 3, "en", {}}, SrvRqst{"", "service:directory-agent", "", "", ""}};
  EXPECT_TRUE(TcpExchange::run(Endpoint{0x7f000001, 427}, encode(probe), 2s, error));
}

}  // namespace
}  // namespace vslp
