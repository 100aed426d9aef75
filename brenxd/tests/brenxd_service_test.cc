// The agent as a service: its command line, one URL per interface with this host's stale URLs
// removed first and all withdrawn at shutdown, detaching with its pid file, a second instance,
// -k, and the drop from root to nobody.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "brenxd/tests/brenxd_fixture.h"

namespace brenxd_test {
namespace {

using Kind = brenxd::EnrolAnswer::Kind;

class ServiceTest : public AgentTest {
 protected:
  std::set<std::string> urls() const {
    std::vector<std::string> lines = advertised();
    return {lines.begin(), lines.end()};
  }
  bool slpRegister(const std::string& url) const {
    return nvo_test::runProgram(nvo_test::buildBinary("vslptool"),
                                {"-t", "65535", "register", url, ""}, 20s, environment())
               .exitCode == 0;
  }
};

const char kHelp[] =
    "brenxd [OPTIONS]...|Available options:|"
    "\t-d, --debug     Set debug on (does not detach from terminal|"
    "\t-k, --kill      Kill the currently running instance of brenxd|"
    "\t-h, --help      Print this help information|"
    "\t-l, --loglevel=[EMERG|ALERT|CRIT|ERR|WARN|NOTICE|INFO|DEBUG]|"
    "Set the maximum level for the log";

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += (text.empty() ? "" : "|") + line;
  }
  return text;
}

TEST_F(ServiceTest, CommandLine) {
  nvo_test::RunResult help = runAgent({"-h"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(joined(help.lines), kHelp);
  nvo_test::RunResult badLevel = runAgent({"-l", "verbose"});
  EXPECT_EQ(badLevel.exitCode, 1);
  EXPECT_EQ(joined(badLevel.lines), kHelp);
  nvo_test::RunResult badOption = runAgent({"-x"});
  EXPECT_EQ(badOption.exitCode, 1);
  EXPECT_EQ(joined(badOption.lines), std::string("Unknown command line argument: '?'|") + kHelp);
  nvo_test::RunResult nothingToKill = runAgent({"-k"});
  EXPECT_EQ(nothingToKill.exitCode, 255);
  EXPECT_EQ(nothingToKill.lines,
            std::vector<std::string>{"No other instance of brenxd is running"});
}

TEST_F(ServiceTest, OneUrlPerInterfaceStaleOnesRemovedAllWithdrawnAtShutdown) {
  // Left by an earlier run on this host (another port), and one of another host.
  ASSERT_TRUE(slpRegister("service:nvowsc.x://192.0.2.1:1"));
  ASSERT_TRUE(slpRegister("service:nvowsc.x://198.51.100.1:2"));
  ASSERT_TRUE(slpRegister("service:nvowsc.x://203.0.113.9:3"));
  startAgent();
  EXPECT_TRUE(
      agent().hasExactLine("doSlpDeregister de-registering url service:nvowsc.x://192.0.2.1:1"));
  const std::string port = std::to_string(this->port());
  const std::set<std::string> expected = {"service:nvowsc.x://192.0.2.1:" + port + ",65535",
                                          "service:nvowsc.x://198.51.100.1:" + port + ",65535",
                                          "service:nvowsc.x://203.0.113.9:3,65535"};
  EXPECT_EQ(urls(), expected);
  for (const char* address : {"192.0.2.1:", "198.51.100.1:"}) {
    EXPECT_TRUE(agent().hasExactLine(std::string("brenxd registered service:nvowsc.x://") +
                                     address + port + " with SLP"));
  }
  EXPECT_TRUE(
      agent().hasExactLine("Workstation creation agent dropped root privileges. Running as nobody"))
      << agent().transcript();
  EXPECT_EQ(nvo_test::statusField(agent().pid(), "Uid").substr(0, 6), "65534\t");

  EXPECT_EQ(agent().stop(20s), 0);
  EXPECT_TRUE(agent().hasExactLine("Received shutdown signal"));
  EXPECT_TRUE(agent().hasExactLine("brenxd is shutting down"));
  EXPECT_TRUE(agent().hasExactLine(
      "Succeeded in de-registering url service:nvowsc.x://192.0.2.1:" + port + " from SLP"));
  EXPECT_EQ(urls(), std::set<std::string>{"service:nvowsc.x://203.0.113.9:3,65535"});
}

TEST_F(ServiceTest, DetachedInstancePidFileSecondInstanceAndKill) {
  nvo_test::RunResult started = runAgent({});
  ASSERT_EQ(started.exitCode, 0);
  ASSERT_EQ(started.lines.size(), 1u);
  ASSERT_EQ(started.lines[0].rfind("brenxd running [", 0), 0u) << started.lines[0];
  const pid_t pid = std::stoi(started.lines[0].substr(16));
  std::ifstream pidFile("/var/run/brenxd.pid");
  pid_t recorded = 0;
  pidFile >> recorded;
  EXPECT_EQ(recorded, pid);
  EXPECT_EQ(nvo_test::statusField(pid, "Uid").substr(0, 6), "65534\t");
  EXPECT_EQ(urls().size(), 2u);

  nvo_test::RunResult second = runAgent({"-d"});
  EXPECT_EQ(second.exitCode, 255);
  EXPECT_EQ(second.lines, std::vector<std::string>{"Another instance of brenxd is running [" +
                                                   std::to_string(pid) + "]"});

  nvo_test::RunResult kill = runAgent({"-k"});
  EXPECT_EQ(kill.exitCode, 0);
  EXPECT_EQ(kill.lines,
            std::vector<std::string>{"TERM signal sent to process id " + std::to_string(pid)});
  EXPECT_EQ(nvo_test::waitForOrphan(pid, 20s), 0);
  EXPECT_TRUE(urls().empty());
  // The pid file of a process that ran as nobody is emptied where it cannot be removed.
  EXPECT_TRUE(!std::filesystem::exists("/var/run/brenxd.pid") ||
              std::filesystem::file_size("/var/run/brenxd.pid") == 0);
  EXPECT_EQ(runAgent({"-k"}).exitCode, 255);
}

TEST_F(ServiceTest, AsNobodyTheReReadNeedsAFileNobodyMayRead) {
  startAgent();
  ASSERT_EQ(enrol("ws", "52:54:00:00:03:01").kind, Kind::kAnswer) << agent().transcript();
  writeConfig(configText(), 0600);
  reload();
  EXPECT_TRUE(
      agent().waitForLine("Failed to initialize: Couldn't open /etc/opt/nvo/brenxd.conf", 10s))
      << agent().transcript();
  EXPECT_EQ(enrol("ws", "52:54:00:00:03:01").kind, Kind::kRefused);
  writeConfig(configText(), 0640);
  reload();
  EXPECT_EQ(enrol("ws", "52:54:00:00:03:01").kind, Kind::kAnswer) << agent().transcript();
}

}  // namespace
}  // namespace brenxd_test
