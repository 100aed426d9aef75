#include "brenxd/tests/brenxd_fixture.h"

#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include <sys/stat.h>

#include "brenxd/request_codec.h"
#include "gateway/xml_parser.h"
#include "tests/support/raw_client.h"

namespace brenxd_test {
namespace {

using nvo_test::SlapdServer;

constexpr char kRegisteredPrefix[] = "brenxd registered service:nvowsc.x://192.0.2.1:";

std::string container(const std::string& ou) {
  return "dn: ou=" + ou + ",o=orvanta\nobjectClass: organizationalUnit\nou: " + ou + "\n\n";
}

std::string computer(const std::string& dn, const std::string& cn, const std::string& mac,
                     const std::string& password = "") {
  std::string ldif = "dn: " + dn + "\nobjectClass: orvantacomputer\ncn: " + cn +
                     "\norvantaidtype: 1\norvantaid: " + mac + "\n";
  if (!password.empty()) {
    ldif += "userPassword: " + password + "\n";
  }
  return ldif + "\n";
}

std::string testLdif() {
  return container("New") + container("First") + container("Second") + container("Third") +
         computer(kKnownDn, std::string("known-") + kKnownMac, kKnownMac) +
         computer(kThirdDn, std::string("later-") + kKnownMac, kKnownMac) +
         computer(kVictimDn, std::string("victim-") + kVictimMac, kVictimMac, kVictimPassword);
}

// The port of the first registration line at or after `from`, or nothing.
std::optional<uint16_t> registeredPort(const nvo_test::DaemonProcess& agent) {
  for (const std::string& line : agent.lines()) {
    if (line.rfind(kRegisteredPrefix, 0) == 0) {
      const std::string rest = line.substr(sizeof kRegisteredPrefix - 1);
      return static_cast<uint16_t>(std::stoi(rest.substr(0, rest.find(' '))));
    }
  }
  return std::nullopt;
}

}  // namespace

void AgentTest::SetUp() {
  if (!nvo_test::inSandbox()) {
    GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (root paths, its own /etc/opt)";
  }
  if (std::string missing = SlapdServer::missingPieces(); !missing.empty()) {
    GTEST_SKIP() << "no test directory: " << missing;
  }
  sandbox_.prepare(
      "net.slp.multicastTimeouts = 100,200\n"
      "net.slp.multicastMaximumWait = 300\n");
  std::filesystem::remove("/var/run/brenxd.pid");
  slpAgent_ = sandbox_.startSlpAgent();
  ASSERT_TRUE(nvo_test::waitForSlpAgent(10s)) << slpAgent_->transcript();
  nvo_test::SlapdOptions options;
  options.directoryModel = true;
  options.extraLdif = testLdif();
  directory_ = std::make_unique<SlapdServer>(options);
  writeConfig(configText());
}

void AgentTest::TearDown() {
  nvo_test::stopAndRelease(agent_, 20s);
  nvo_test::stopAndRelease(slpAgent_, 10s);
  directory_.reset();
}

std::string AgentTest::configText(const std::string& creation,
                                  const std::vector<std::string>& search,
                                  const std::string& password) const {
  std::string text = "<?xml version=\"1.0\"?><brenxd><authentication><gateway><url>" +
                     directory_->uri() + "</url><authname>" + SlapdServer::kAdminDn +
                     "</authname><password>" + password + "</password><objectname>" +
                     SlapdServer::kAdminDn +
                     "</objectname><primaryGateway/></gateway></authentication>"
                     "<workstationcreation><creationLocation>" +
                     creation + "</creationLocation>";
  for (const std::string& location : search) {
    text += "<searchLocation>" + location + "</searchLocation>";
  }
  return text + "</workstationcreation></brenxd>";
}

std::string AgentTest::configText(const std::string& creation,
                                  const std::vector<std::string>& search) const {
  return configText(creation, search, SlapdServer::kAdminPassword);
}

void AgentTest::writeConfig(const std::string& text, unsigned mode) {
  // Written beside and renamed into place: a re-read at any moment sees one whole file.
  std::filesystem::create_directories("/etc/opt/nvo");
  const std::string next = std::string(kConfigFile) + ".new";
  std::ofstream(next, std::ios::trunc) << text;
  ASSERT_EQ(::chmod(next.c_str(), mode), 0);
  const group* nogroup = ::getgrnam("nogroup");
  ASSERT_NE(nogroup, nullptr);
  ASSERT_EQ(::chown(next.c_str(), 0, nogroup->gr_gid), 0);
  ASSERT_EQ(::rename(next.c_str(), kConfigFile), 0);
}

void AgentTest::startAgent(const std::vector<std::string>& args) {
  agent_ = std::make_unique<nvo_test::DaemonProcess>(nvo_test::buildBinary("brenxd"), args,
                                                     environment());
  agent_->start();
  ASSERT_TRUE(agent_->waitForLine(kListeningLine, 30s)) << agent_->transcript();
  std::optional<uint16_t> found = registeredPort(*agent_);
  ASSERT_TRUE(found) << agent_->transcript();
  port_ = *found;
}

void AgentTest::reload() {
  const std::size_t from = agent_->lineCount();
  agent_->sendSignal(SIGHUP);
  ASSERT_TRUE(agent_->waitForLine("Received SIGHUP signal - re-reading /etc/opt/nvo/brenxd.conf",
                                  10s, from))
      << agent_->transcript();
}

nvo_test::RunResult AgentTest::runAgent(const std::vector<std::string>& args) {
  return nvo_test::runProgram(nvo_test::buildBinary("brenxd"), args, 30s, environment());
}

std::vector<uint8_t> AgentTest::exchange(std::span<const uint8_t> bytes) {
  nvo_test::RawConnection connection(port_);
  EXPECT_TRUE(connection.send(bytes));
  return connection.read(brenxd::kMaxAnswerText + 16, 40s);
}

brenxd::EnrolAnswer AgentTest::enrol(const std::string& host, const std::string& mac) {
  return brenxd::readAnswer(exchange(brenxd::encodeRequest(host, mac)));
}

Credentials AgentTest::credentialsOf(const std::string& answer) {
  nvo::XMLParser document(answer);
  nvo::DOM_Node gateway = nvo::XMLParser::findFirstChild(document.getRoot(), "gateway");
  return {nvo::XMLParser::getChildStringValue(gateway, "authname"),
          nvo::XMLParser::getChildStringValue(gateway, "password"),
          nvo::XMLParser::getChildStringValue(gateway, "objectname")};
}

bool AgentTest::binds(const std::string& dn, const std::string& password) const {
  return directory_->ldapWhoami({dn, password}).exitCode == 0;
}

nvo_test::Entry AgentTest::entry(const std::string& dn) const {
  nvo_test::SearchResult found =
      directory_->ldapSearch(SlapdServer::admin(), dn, "base", "(objectClass=*)");
  return found.entries.empty() ? nvo_test::Entry{} : found.entries.front();
}

std::vector<std::string> AgentTest::advertised() const {
  nvo_test::RunResult found = nvo_test::runProgram(nvo_test::buildBinary("vslptool"),
                                                   {"findsrvs", "nvowsc.x"}, 20s, environment());
  EXPECT_EQ(found.exitCode, 0);
  return found.lines;
}

}  // namespace brenxd_test
