// The daemons with exactly the rights their systemd units grant. Each is started as root in the
// sandbox the way its unit starts it (detaching, writing its pid file), under setpriv holding
// only the unit's CapabilityBoundingSet and, as the unit says, no new privileges. Both are read
// from the configured unit itself, so the test follows every change of a unit. Each daemon
// must start, become nobody, serve (vslpd finds tolmd's registration; a signal reaches a
// listener registered with tolmd; brenxd enrols a workstation) and stop cleanly, and tolmd
// must find its registrations again after a restart.
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "protocol/tolm_wire.h"
#include "tests/support/daemon_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/service_sandbox.h"
#include "tests/support/slapd_server.h"
#include "tests/support/test_listener.h"

namespace {

using namespace std::chrono_literals;

constexpr char kSetpriv[] = "/usr/bin/setpriv";
constexpr char kSlpPidFile[] = "/run/vslpd.pid";
constexpr char kTolmdUrl[] = "service:tolm.x://";
constexpr char kNobodyUid[] = "65534";
constexpr char kBrenxdConfig[] = "/etc/opt/nvo/brenxd.conf";

// The rights a unit leaves its daemon.
struct UnitRights {
  std::vector<std::string> capabilities;  // as setpriv names them: "setuid", "net_bind_service"
  bool noNewPrivileges = false;
};

// The rights of the configured unit `name` (<build>/systemd/<name>). Throws std::runtime_error
// when the unit is missing or states its capabilities in a form this reader does not take
// (an inverted "~" list above all: the test must not run with rights the unit does not state).
UnitRights readUnitRights(const std::string& name) {
  const char* build = std::getenv("NVO_BUILD_DIR");
  const std::string path = std::string(build != nullptr ? build : ".") + "/systemd/" + name;
  std::ifstream unit(path);
  if (!unit) {
    throw std::runtime_error("cannot read " + path);
  }
  const std::string key = "CapabilityBoundingSet=";
  UnitRights rights;
  for (std::string line; std::getline(unit, line);) {
    if (line == "NoNewPrivileges=yes") {
      rights.noNewPrivileges = true;
    }
    if (line.rfind(key, 0) != 0) {
      continue;
    }
    std::istringstream words(line.substr(key.size()));
    for (std::string word; words >> word;) {
      if (word.rfind("CAP_", 0) != 0) {
        throw std::runtime_error(path + ": unexpected capability " + word);
      }
      std::string capability = word.substr(4);
      std::transform(capability.begin(), capability.end(), capability.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      rights.capabilities.push_back(capability);
    }
  }
  if (rights.capabilities.empty()) {
    throw std::runtime_error(path + " states no capability bounding set");
  }
  return rights;
}

// setpriv's arguments that run `command` with `rights` only.
std::vector<std::string> withRights(const UnitRights& rights, std::vector<std::string> command) {
  std::string set = "--bounding-set=-all";
  for (const std::string& capability : rights.capabilities) {
    set += ",+" + capability;
  }
  std::vector<std::string> args{set};
  if (rights.noNewPrivileges) {
    args.push_back("--no-new-privs");
  }
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

std::optional<pid_t> pidIn(const std::string& path) {
  std::ifstream file(path);
  long pid = 0;
  if (file >> pid && pid > 0) {
    return static_cast<pid_t>(pid);
  }
  return std::nullopt;
}

class UnitRightsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!nvo_test::inSandbox()) {
      GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (root paths and ports)";
    }
    sandbox_.prepare(
        "net.slp.multicastTimeouts = 100,200\n"
        "net.slp.multicastMaximumWait = 300\n");
  }

  void TearDown() override {
    for (pid_t pid : running_) {
      ::kill(pid, SIGKILL);
      nvo_test::waitForOrphan(pid, 10s);
    }
  }

  // Starts `program` (which detaches, writing `pidFile`) with the rights of `unit`, as root;
  // checks that it runs as nobody holding the unit's bounding set, and returns its pid.
  std::optional<pid_t> startAsUnit(const std::string& unit, const std::string& program,
                                   const std::string& pidFile) {
    const UnitRights rights = readUnitRights(unit);
    nvo_test::RunResult start =
        nvo_test::runProgram(kSetpriv, withRights(rights, {program}), 20s, sandbox_.environment());
    std::optional<pid_t> pid = pidIn(pidFile);
    EXPECT_EQ(start.exitCode, 0) << unit;
    EXPECT_TRUE(pid) << unit << ": no pid in " << pidFile;
    if (start.exitCode != 0 || !pid || !nvo_test::processAlive(*pid)) {
      ADD_FAILURE() << unit << ": the daemon did not start";
      return std::nullopt;
    }
    running_.push_back(*pid);
    EXPECT_EQ(nvo_test::statusField(*pid, "Uid").substr(0, 5), kNobodyUid) << unit;
    // The same bounding set as a probe given exactly the unit's capabilities, and no more.
    nvo_test::RunResult probe = nvo_test::runProgram(
        kSetpriv, withRights(rights, {"/usr/bin/grep", "^CapBnd:", "/proc/self/status"}));
    const std::string bounding = nvo_test::statusField(*pid, "CapBnd");
    EXPECT_EQ(probe.lines, std::vector<std::string>{"CapBnd:\t" + bounding}) << unit;
    EXPECT_EQ(std::bitset<64>(std::stoull(bounding, nullptr, 16)).count(),
              rights.capabilities.size())
        << unit << ": " << bounding;
    return pid;
  }

  // SIGTERM; expects the daemon to end with 0.
  void stop(pid_t pid, const std::string& unit) {
    ::kill(pid, SIGTERM);
    EXPECT_EQ(nvo_test::waitForOrphan(pid, 20s), 0) << unit;
    std::erase(running_, pid);
  }

  // tolmd's port as the SLP agent tells it; nothing when no registration is found.
  std::optional<uint16_t> lookUpTolmd() const {
    nvo_test::RunResult found = nvo_test::runProgram(
        nvo_test::buildBinary("vslptool"), {"findsrvs", "tolm.x"}, 20s, sandbox_.environment());
    for (const std::string& line : found.lines) {
      const std::size_t colon = line.rfind(':');
      if (line.rfind(kTolmdUrl, 0) == 0 && colon != std::string::npos) {
        return static_cast<uint16_t>(std::stoul(line.substr(colon + 1)));
      }
    }
    ADD_FAILURE() << "vslptool found no tolmd; exit " << found.exitCode.value_or(-1);
    return std::nullopt;
  }

  nvo_test::ServiceSandbox sandbox_{"/run/units-test-slp.conf"};
  std::vector<pid_t> running_;
};

TEST_F(UnitRightsTest, DaemonsServeWithTheRightsOfTheirUnits) {
  const std::optional<pid_t> agent =
      startAsUnit("vslpd.service", nvo_test::buildBinary("vslpd"), kSlpPidFile);
  ASSERT_TRUE(agent);
  ASSERT_TRUE(nvo_test::waitForSlpAgent(10s)) << "vslpd does not answer on port 427";

  const std::vector<uint8_t> payload{'u', 'p'};
  nvo_test::TestListener listener;
  const nvo_test::Answer registered{tolm::kProtocolVersion, tolm::kAnswerRegister, 0};
  const nvo_test::Answer signalled{tolm::kProtocolVersion, tolm::kAnswerSignal, 0};
  // The second start finds the registration of the first in the database it left behind.
  for (std::size_t start = 1; start <= 2; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    const std::optional<pid_t> tolmd =
        startAsUnit("tolmd.service", nvo_test::tolmdPath(), nvo_test::kTolmdPidFile);
    ASSERT_TRUE(tolmd);
    struct stat database {};
    ASSERT_EQ(::stat(nvo_test::kTolmdDatabaseFile, &database), 0);
    EXPECT_EQ(database.st_uid, 65534u) << "the database is handed to nobody";
    const std::optional<uint16_t> port = lookUpTolmd();
    ASSERT_TRUE(port);
    if (start == 1) {
      EXPECT_EQ(nvo_test::exchange(*port, tolm::buildListenerRequest(
                                              tolm::kFuncRegister, listener.addressNetworkOrder(),
                                              listener.portNetworkOrder(), "unit.rights")),
                registered);
    }
    EXPECT_EQ(nvo_test::exchange(*port, tolm::buildSignalRequest("unit.rights", payload, 0)),
              signalled);
    EXPECT_TRUE(listener.waitForNotifications(start, 20s)) << listener.notifyCount();
    stop(*tolmd, "tolmd.service");
  }
  stop(*agent, "vslpd.service");
}

// brenxd with its unit's rights: it reads its configuration, becomes nobody, and enrols a
// workstation through the directory, found by nvo-enrol through the SLP agent.
TEST_F(UnitRightsTest, BrenxdEnrolsWithTheRightsOfItsUnit) {
  if (std::string missing = nvo_test::SlapdServer::missingPieces(); !missing.empty()) {
    GTEST_SKIP() << "no test directory: " << missing;
  }
  nvo_test::SlapdOptions options;
  options.directoryModel = true;
  nvo_test::SlapdServer directory(options);
  std::filesystem::create_directories("/etc/opt/nvo");
  std::ofstream(kBrenxdConfig, std::ios::trunc)
      << "<brenxd><authentication><gateway><url>" << directory.uri() << "</url><authname>"
      << nvo_test::SlapdServer::kAdminDn << "</authname><password>"
      << nvo_test::SlapdServer::kAdminPassword << "</password><objectname>"
      << nvo_test::SlapdServer::kAdminDn << "</objectname><primaryGateway/></gateway>"
      << "</authentication><workstationcreation><creationLocation>o=orvanta</creationLocation>"
      << "</workstationcreation></brenxd>";
  ASSERT_EQ(::chmod(kBrenxdConfig, 0640), 0);
  ASSERT_EQ(::chown(kBrenxdConfig, 0, ::getgrnam("nogroup")->gr_gid), 0);

  const std::optional<pid_t> agent =
      startAsUnit("vslpd.service", nvo_test::buildBinary("vslpd"), kSlpPidFile);
  ASSERT_TRUE(agent);
  ASSERT_TRUE(nvo_test::waitForSlpAgent(10s)) << "vslpd does not answer on port 427";
  const std::optional<pid_t> brenxd =
      startAsUnit("brenxd.service", nvo_test::buildBinary("brenxd"), "/run/brenxd.pid");
  ASSERT_TRUE(brenxd);
  const nvo_test::RunResult enrolled = nvo_test::runProgram(
      nvo_test::buildBinary("nvo-enrol"), {"--name", "unit", "--mac", "52:54:00:00:0a:01"}, 40s,
      sandbox_.environment());
  EXPECT_EQ(enrolled.exitCode, 0);
  ASSERT_FALSE(enrolled.lines.empty());
  EXPECT_EQ(enrolled.lines.front().rfind("<authentication><gateway>", 0), 0u);
  EXPECT_EQ(directory.searchSubtree("cn=unit-52:54:00:00:0a:01,o=orvanta").size(), 1u);
  stop(*brenxd, "brenxd.service");
  stop(*agent, "vslpd.service");
}

}  // namespace
