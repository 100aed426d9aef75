// The test server's own options, which the gateway's tests rely on: LDAPS with the test CA,
// a restart on the same port with the same data, and a frozen server that answers nothing.
#include "tests/support/slapd_server.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using nvo_test::ProcessResult;
using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;

class SlapdServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = SlapdServer::missingPieces();
    if (!missing.empty()) {
      GTEST_SKIP() << "needs the Debian packages slapd, ldap-utils and openssl; missing: "
                   << missing;
    }
  }
};

std::vector<std::string> whoamiArgs(const std::string& uri) {
  return {"/usr/bin/ldapwhoami",      "-x", "-H", uri, "-D", SlapdServer::kAdminDn, "-w",
          SlapdServer::kAdminPassword};
}

TEST_F(SlapdServerTest, LdapsWorksWithTheTestCaOnly) {
  SlapdOptions options;
  options.directoryModel = true;
  options.tls = true;
  SlapdServer server(options);
  ASSERT_NE(server.tlsPort(), 0);
  ASSERT_NE(server.tlsPort(), server.port());

  const ProcessResult trusted =
      nvo_test::runCommand(whoamiArgs(server.tlsUri()), server.tlsClientEnvironment());
  EXPECT_EQ(trusted.exitCode, 0) << trusted.err;
  EXPECT_NE(trusted.out.find("dn:cn=admin,o=orvanta"), std::string::npos) << trusted.out;

  // Another CA does not vouch for the server.
  const std::string otherCa = (server.directory() / "other-ca.pem").string();
  ASSERT_EQ(nvo_test::runCommand({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                  "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                                  otherCa + ".key", "-out", otherCa, "-days", "1", "-subj",
                                  "/CN=other CA", "-addext", "basicConstraints=critical,CA:TRUE"},
                                 {"OPENSSL_CONF=/dev/null"})
                .exitCode,
            0);
  const std::vector<std::string> untrusting = {"LDAPCONF=/dev/null", "LDAPRC=nvo-test-no-ldaprc",
                                               "LDAPTLS_CACERT=" + otherCa,
                                               "LDAPTLS_REQCERT=demand"};
  const ProcessResult refused = nvo_test::runCommand(whoamiArgs(server.tlsUri()), untrusting);
  EXPECT_NE(refused.exitCode, 0) << refused.out;
}

TEST_F(SlapdServerTest, RestartKeepsPortAndData) {
  SlapdOptions options;
  options.directoryModel = true;
  SlapdServer server(options);
  const int port = server.port();
  ASSERT_EQ(server
                .ldapAdd(SlapdServer::admin(),
                         "dn: ou=Kept,o=orvanta\nobjectClass: organizationalUnit\nou: Kept\n")
                .exitCode,
            0);

  server.stop();
  EXPECT_FALSE(server.running());
  EXPECT_EQ(server.ldapWhoami(SlapdServer::admin()).exitCode, 255);  // cannot contact
  server.start();
  EXPECT_TRUE(server.running());
  EXPECT_EQ(server.port(), port);
  EXPECT_EQ(server.searchSubtree("ou=Kept,o=orvanta").size(), 1u);
}

TEST_F(SlapdServerTest, FrozenServerAnswersAgainWhenThawed) {
  SlapdServer server;
  server.freeze();
  // The kernel still accepts the connection; slapd never answers the bind.
  EXPECT_THROW(nvo_test::runCommand(whoamiArgs(server.uri()), nvo_test::clientEnvironment(),
                                    std::chrono::milliseconds(1500)),
               std::runtime_error);
  server.thaw();
  const ProcessResult answered =
      nvo_test::runCommand(whoamiArgs(server.uri()), nvo_test::clientEnvironment());
  EXPECT_EQ(answered.exitCode, 0) << answered.err;
}

}  // namespace
