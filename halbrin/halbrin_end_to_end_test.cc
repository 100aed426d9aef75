// The real halbrin binary against real slapd servers that each test starts privately on a
// loopback port (see tests/support/slapd_server.h). Skipped when slapd or ldap-utils are missing.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/slapd_server.h"

namespace halbrin {
namespace {

using nvo_test::Entry;
using nvo_test::ProcessResult;
using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;

const std::string kRepository = "ou=SoftwareRepository, o=orvanta";
const std::string kRpm = "ou=RPM, " + kRepository;
const std::string kSecure = "ou=secure, " + kRpm;
const std::string kPublic = "ou=pub, " + kRpm;
// slapd keeps DNs in their pretty form, without the blank after each comma.
const std::string kStoredRepository = "ou=SoftwareRepository,o=orvanta";
const std::string kStoredPublic = "ou=pub,ou=RPM,ou=SoftwareRepository,o=orvanta";

const std::string kAci =
    "(target=\"ldap:///ou=pub, ou=RPM, ou=SoftwareRepository, o=orvanta\")(targetattr=\"*\")"
    "(version 3.0; acl \"unknown\"; allow (all) userdn = \"ldap:///anyone\"; )";

ProcessResult runHalbrin(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {}) {
  const char* buildDir = std::getenv("NVO_BUILD_DIR");
  if (buildDir == nullptr) {
    throw std::runtime_error("NVO_BUILD_DIR is not set; run the test through ctest");
  }
  std::vector<std::string> argv = {std::string(buildDir) + "/bin/halbrin"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = nvo_test::clientEnvironment();
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  return nvo_test::runCommand(argv, env);
}

std::vector<std::string> argsFor(const SlapdServer& server, const std::string& repository,
                                 const std::string& password = SlapdServer::kRootPassword) {
  return {"127.0.0.1", std::to_string(server.port()), SlapdServer::kRootDn, password, repository};
}

std::map<std::string, Entry> byDn(const std::vector<Entry>& entries) {
  std::map<std::string, Entry> map;
  for (const Entry& entry : entries) {
    map[entry.dn] = entry;
  }
  return map;
}

std::string ouLines(const char* verb) {
  std::string lines;
  for (const std::string& dn : {kRepository, kRpm, kSecure, kPublic}) {
    lines += "OU " + dn + " " + verb + "\n";
  }
  return lines;
}

class HalbrinEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = SlapdServer::missingPieces();
    if (!missing.empty()) {
      GTEST_SKIP() << "slapd end-to-end tests need the Debian packages slapd and ldap-utils; "
                      "missing: "
                   << missing;
    }
  }
};

TEST_F(HalbrinEndToEndTest, CreatesFourOusOnOpenLdapThenFindsThemExisting) {
  SlapdServer server;
  ProcessResult first = runHalbrin(argsFor(server, kRepository));
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "Authenticated\nDetected OpenLDAP directory\r\n" + ouLines("created"));
  EXPECT_EQ(first.err, "");

  const std::map<std::string, Entry> entries = byDn(server.searchSubtree(kStoredRepository));
  const std::map<std::string, std::string> expectedOu = {
      {kStoredRepository, "SoftwareRepository"},
      {"ou=RPM,ou=SoftwareRepository,o=orvanta", "RPM"},
      {"ou=secure,ou=RPM,ou=SoftwareRepository,o=orvanta", "secure"},
      {kStoredPublic, "pub"}};
  ASSERT_EQ(entries.size(), expectedOu.size());
  for (const auto& [dn, ou] : expectedOu) {
    ASSERT_EQ(entries.count(dn), 1u) << dn;
    const Entry& entry = entries.at(dn);
    EXPECT_EQ(entry.attributes.at("objectClass"), std::vector<std::string>{"organizationalUnit"});
    EXPECT_EQ(entry.attributes.at("ou"), std::vector<std::string>{ou}) << dn;
    EXPECT_EQ(entry.attributes.size(), 2u) << dn << ": no access rule on OpenLDAP";
  }

  ProcessResult second = runHalbrin(argsFor(server, kRepository));
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out,
            "Authenticated\nDetected OpenLDAP directory\r\n" + ouLines("already exists"));
  EXPECT_EQ(server.searchSubtree(kStoredRepository).size(), 4u);
}

TEST_F(HalbrinEndToEndTest, WrongPasswordExitsTwoAndCreatesNothing) {
  SlapdServer server;
  ProcessResult run = runHalbrin(argsFor(server, kRepository, "not-the-password"));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "Error connecting / binding to LDAP: 2\n");
  EXPECT_TRUE(server.searchSubtree(kStoredRepository).empty());
}

// The client library only connects at the bind, so a port without a listener is reported by
// the bind ("Can't contact LDAP server"): exit 2, not 1.
TEST_F(HalbrinEndToEndTest, NoServerListeningFailsAtBindWithTwo) {
  const int port = nvo_test::unusedLoopbackPort();
  ProcessResult run =
      runHalbrin({"127.0.0.1", std::to_string(port), SlapdServer::kRootDn, "secret", kRepository});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "Error connecting / binding to LDAP: 2\n");
}

// A host list the library cannot parse gives no connection handle at all. The library leaks a
// few bytes on that path; the sanitizer build is told so for this run only.
TEST_F(HalbrinEndToEndTest, UnparsableHostGivesNoHandleAndOne) {
  const char* sourceDir = std::getenv("NVO_SOURCE_DIR");
  ASSERT_NE(sourceDir, nullptr) << "run the test through ctest";
  const std::string suppressions = std::string(sourceDir) + "/halbrin/testdata/ldap-init-leak.supp";
  ProcessResult run = runHalbrin({"[::1", "389", SlapdServer::kRootDn, "secret", kRepository},
                                 {"LSAN_OPTIONS=suppressions=" + suppressions});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Error connecting / binding to LDAP: 1\n");
}

TEST_F(HalbrinEndToEndTest, RepositoryDnWithoutCommaExitsFive) {
  SlapdServer server;
  ProcessResult run = runHalbrin(argsFor(server, "ou=Repository"));
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_EQ(run.out,
            "Authenticated\nDetected OpenLDAP directory\r\n"
            "Error creating Software Repository organizationalunit: ou=Repository: 5\n");
  EXPECT_EQ(run.err, "");  // nothing was sent, so the library has nothing to report
}

TEST_F(HalbrinEndToEndTest, AddRefusedByServerExitsFourAfterLibraryReport) {
  SlapdServer server;
  ProcessResult run = runHalbrin(argsFor(server, "ou=SoftwareRepository, o=elsewhere"));
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.out,
            "Authenticated\nDetected OpenLDAP directory\r\nError creating Software Repository "
            "organizationalunit: ou=SoftwareRepository, o=elsewhere: 4\n");
  EXPECT_NE(run.err.find("ldap_add_ext_s"), std::string::npos) << run.err;
}

TEST_F(HalbrinEndToEndTest, WrongArgumentCountPrintsUsageAndExitsZero) {
  const std::string usage =
      "Usage:  halbrin LDAPServerAddress LDAPServerPort LDAPUserName Password "
      "SoftwareRepositoryOU\nFor example:\nhalbrin ldap.example.com 389 cn=dirmanager secret "
      "\"ou=SoftwareRepository, o=orvanta\"\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"127.0.0.1", "389", "cn=x", "pw"}}) {
    ProcessResult run = runHalbrin(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, usage);
  }
}

// Over-long texts end the run with 6 before anything reaches the server: with the right
// password, a run that got as far as the first add would have created the repository OU.
TEST_F(HalbrinEndToEndTest, OverlongArgumentOrDnExitsSixBeforeSending) {
  SlapdServer server;
  ProcessResult longArgument = runHalbrin(argsFor(server, "ou=" + std::string(197, 'r')));
  EXPECT_EQ(longArgument.exitCode, 6);
  EXPECT_EQ(longArgument.out,
            "Error: SoftwareRepositoryOU (argument 5) is longer than 199 characters\n");

  // 190 characters fit as an argument, but not below "ou=secure, ou=RPM, ".
  const std::string repository = "ou=" + std::string(176, 'r') + ", o=orvanta";
  ASSERT_EQ(repository.size(), 190u);
  ProcessResult longDn = runHalbrin(argsFor(server, repository));
  EXPECT_EQ(longDn.exitCode, 6);
  EXPECT_EQ(longDn.out,
            "Error: organizationalunit DN is longer than 199 characters: "
            "ou=secure, ou=RPM, " +
                repository + "\n");

  const std::vector<Entry> all = server.searchSubtree(SlapdServer::kSuffix);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].dn, SlapdServer::kSuffix);
}

TEST_F(HalbrinEndToEndTest, IPlanetRootDseGetsAciOnPublicOu) {
  // slapd lists its own objectClass (with OpenLDAProotDSE) before the rootDSE file's
  // attributes, so this also checks that the later netscapemdsuffix wins.
  SlapdOptions options;
  options.accessRuleSchema = true;
  options.rootDseLines = {"netscapemdsuffix: cn=ldap://dc=halbrin,dc=test:389"};
  SlapdServer server(options);
  ProcessResult run = runHalbrin(argsFor(server, kRepository));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "Authenticated\nDetected iPlanet LDAP directory\r\n" + ouLines("created"));

  const std::map<std::string, Entry> entries = byDn(server.searchSubtree(kStoredRepository));
  ASSERT_EQ(entries.count(kStoredPublic), 1u);
  EXPECT_EQ(entries.at(kStoredPublic).attributes.at("aci"), std::vector<std::string>{kAci});
  EXPECT_EQ(entries.at(kStoredPublic).attributes.count("ACL"), 0u);
  EXPECT_EQ(entries.at(kStoredRepository).attributes.count("aci"), 0u);
}

TEST_F(HalbrinEndToEndTest, NovellVendorGetsAclOnPublicOuAndKeepsIt) {
  SlapdOptions options;
  options.accessRuleSchema = true;
  options.rootDseLines = {"vendorName: Novell, Inc."};
  SlapdServer server(options);
  const std::string detected =
      "Authenticated\nDetected eDirectory LDAP directory, using defaults\r\n";
  ProcessResult run = runHalbrin(argsFor(server, kRepository));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, detected + ouLines("created"));

  const std::vector<std::string> acl = {"16#subtree#[Root]#[Entry Rights]"};
  std::map<std::string, Entry> entries = byDn(server.searchSubtree(kStoredRepository));
  ASSERT_EQ(entries.count(kStoredPublic), 1u);
  EXPECT_EQ(entries.at(kStoredPublic).attributes.at("ACL"), acl);
  EXPECT_EQ(entries.at(kStoredPublic).attributes.count("aci"), 0u);

  // An existing public OU is left as it is: the rule is neither repeated nor refused.
  ProcessResult again = runHalbrin(argsFor(server, kRepository));
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.out, detected + ouLines("already exists"));
  entries = byDn(server.searchSubtree(kStoredRepository));
  EXPECT_EQ(entries.at(kStoredPublic).attributes.at("ACL"), acl);
}

}  // namespace
}  // namespace halbrin
