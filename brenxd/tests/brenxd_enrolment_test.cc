// One workstation's life with the real agent, directory and SLP agent: a new enrolment, a repeat
// with the same MAC, a MAC known only in the second search location, and the refusals.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "brenxd/tests/brenxd_fixture.h"
#include "gateway/mux_client.h"

namespace brenxd_test {
namespace {

using Kind = brenxd::EnrolAnswer::Kind;

class EnrolmentTest : public AgentTest {};

TEST_F(EnrolmentTest, NewRepeatSecondLocationAndRefusals) {
  writeConfig(configText(kNew, {kNowhere, kFirst, kSecond, kThird}));
  startAgent();

  // A new workstation: created in the creation container with its own credentials.
  const std::string mac = "52:54:00:aa:bb:01";
  brenxd::EnrolAnswer created = enrol("ws1.example.org", mac);
  ASSERT_EQ(created.kind, Kind::kAnswer) << agent().transcript();
  const Credentials first = credentialsOf(created.text);
  const std::string dn = "cn=ws1-example-org-" + mac + "," + kNew;
  EXPECT_EQ(first.authname, dn);
  EXPECT_EQ(first.objectname, dn);
  EXPECT_EQ(first.password.size(), 12u);
  EXPECT_EQ(created.text.find("ignorePolicy"), std::string::npos);
  EXPECT_TRUE(agent().hasExactLine("Workstation created. Computer: " + dn + " MAC address: " + mac))
      << agent().transcript();
  nvo_test::Entry object = entry(dn);
  EXPECT_EQ(object.attributes["objectClass"], std::vector<std::string>{"orvantacomputer"});
  EXPECT_EQ(object.attributes["orvantaid"], std::vector<std::string>{mac});
  EXPECT_EQ(object.attributes["orvantaidtype"], std::vector<std::string>{"1"});
  ASSERT_EQ(object.attributes["userPassword"].size(), 1u);
  EXPECT_EQ(object.attributes["userPassword"][0].rfind("{", 0), 0u) << "stored in clear";
  EXPECT_TRUE(binds(dn, first.password));
  // The answer opens a gateway session as the computer.
  auto session = std::make_unique<nvo::MUXClient>();
  EXPECT_TRUE(session->initSession(created.text));
  session.reset();

  // The same MAC again (another host name): the password is replaced, the object kept.
  brenxd::EnrolAnswer again = enrol("renamed", mac);
  ASSERT_EQ(again.kind, Kind::kAnswer) << agent().transcript();
  const Credentials second = credentialsOf(again.text);
  EXPECT_EQ(second.authname, dn);
  EXPECT_NE(second.password, first.password);
  EXPECT_TRUE(binds(dn, second.password));
  EXPECT_FALSE(binds(dn, first.password));
  EXPECT_TRUE(agent().hasExactLine("Password changed. Computer: " + dn + " MAC address: " + mac));

  // Known only below the second configured location that resolves (the first does not
  // resolve and is skipped): found there; the later location's computer is not touched.
  brenxd::EnrolAnswer known = enrol("whatever", kKnownMac);
  ASSERT_EQ(known.kind, Kind::kAnswer) << agent().transcript();
  EXPECT_EQ(credentialsOf(known.text).authname, kKnownDn);
  EXPECT_TRUE(binds(kKnownDn, credentialsOf(known.text).password));
  EXPECT_TRUE(entry(kThirdDn).attributes["userPassword"].empty());
  EXPECT_TRUE(agent().hasExactLine(std::string("Password changed. Computer: ") + kKnownDn +
                                   " MAC address: " + kKnownMac));

  // A search location whose resolve fails with an error ends the request.
  writeConfig(configText(kNew, {"=not a name", kSecond}));
  reload();
  brenxd::EnrolAnswer resolveError = enrol("ws2", kKnownMac);
  EXPECT_EQ(resolveError.kind, Kind::kRefused);
  ASSERT_TRUE(agent().waitForLine("Failed generating auth string for 127.0.0.1:", 10s));
  EXPECT_EQ(agent().countLines(": resolveObjecterror: "), 1u) << agent().transcript();

  // A creation location that does not resolve.
  writeConfig(configText(kNowhere, {}));
  reload();
  EXPECT_EQ(enrol("ws3", "52:54:00:aa:bb:03").kind, Kind::kRefused);
  EXPECT_TRUE(agent().waitForLine(
      std::string(": objectID tag not found for creation container: ") + kNowhere, 10s));

  // No creation location: refused before the gateway is asked, so a stopped directory does not
  // change the reason.
  writeConfig(configText("", {kSecond}));
  reload();
  directory_->stop();
  EXPECT_EQ(enrol("ws4", "52:54:00:aa:bb:04").kind, Kind::kRefused);
  EXPECT_TRUE(agent().waitForLine(": Unknown workstation creation container", 10s));
  EXPECT_EQ(agent().countLines("failed to init session with gateway"), 0u);

  // With the creation location back but the directory gone, the session cannot be opened.
  writeConfig(configText());
  reload();
  EXPECT_EQ(enrol("ws5", "52:54:00:aa:bb:05").kind, Kind::kRefused);
  EXPECT_TRUE(agent().waitForLine(": Failed to init session with gateway", 10s))
      << agent().transcript();
  directory_->start();
  EXPECT_EQ(enrol("ws5", "52:54:00:aa:bb:05").kind, Kind::kAnswer) << agent().transcript();
}

TEST_F(EnrolmentTest, NvoEnrolWritesAPrivateDocumentThatOpensASession) {
  startAgent();
  const std::string file = "/run/brenxd-test-enrol.xml";
  // The document is the owner's alone even under a permissive umask, and an existing file
  // readable by others (a stale one, or one planted beforehand) does not stay so.
  std::string text;
  for (const bool existing : {false, true}) {
    std::filesystem::remove(file);
    if (existing) {
      std::ofstream(file) << "stale";
      std::filesystem::permissions(
          file, std::filesystem::perms::all & ~std::filesystem::perms::owner_exec &
                    ~std::filesystem::perms::group_exec & ~std::filesystem::perms::others_exec);
    }
    const mode_t umask = ::umask(0);
    nvo_test::RunResult found =
        nvo_test::runProgram(nvo_test::buildBinary("nvo-enrol"),
                             {"--name", "enrolled.example", "--output", file}, 40s, environment());
    ::umask(umask);
    ASSERT_EQ(found.exitCode, 0) << agent().transcript();
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << (existing ? "existing file" : "new file");
    std::ifstream in(file);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const Credentials credentials = credentialsOf(text);
  EXPECT_EQ(credentials.authname.rfind("cn=enrolled-example-", 0), 0u) << credentials.authname;
  EXPECT_TRUE(binds(credentials.authname, credentials.password));
  nvo::MUXClient session;
  EXPECT_TRUE(session.initSession(text));

  // A refusal and a server that is not an agent give their messages and non-zero codes.
  writeConfig(configText("", {}));
  reload();
  nvo_test::RunResult refused = nvo_test::runProgram(
      nvo_test::buildBinary("nvo-enrol"),
      {"--server", "127.0.0.1:" + std::to_string(port()), "--mac", "x"}, 40s, environment());
  EXPECT_EQ(refused.exitCode, 2);
}

}  // namespace
}  // namespace brenxd_test
