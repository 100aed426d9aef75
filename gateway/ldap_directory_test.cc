// The LDAP adapter against a real slapd: binds, every operation with its failure, a server
// restarted under an open connection, a frozen server, and LDAPS checked with a test CA.
#include "gateway/ldap_directory.h"

#include <ldap.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/slapd_server.h"

namespace nvo {
namespace {

using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;

std::string adminDn() {
  return SlapdServer::kAdminDn;
}
std::string adminPassword() {
  return SlapdServer::kAdminPassword;
}

// The error code of running `call`, or nothing when it succeeded.
template <typename Call>
std::optional<int> errorOf(const Call& call) {
  try {
    call();
  } catch (const DirectoryError& error) {
    return error.code();
  }
  return std::nullopt;
}

class LdapDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = SlapdServer::missingPieces();
    if (!missing.empty()) {
      GTEST_SKIP() << "needs " << missing;
    }
  }

  static std::vector<DirEntry> searchBase(LdapDirectory& directory, const std::string& dn) {
    SearchRequest request;
    request.base = dn;
    request.scope = SearchScope::kBase;
    request.attributes = {"cn", "description", "entryUUID"};
    return directory.search(request);
  }
};

TEST_F(LdapDirectoryTest, OpensWithAnyCaseOfSchemeAndRefusesBadCredentialsAndUrls) {
  SlapdServer server;
  const std::string hostPort = server.uri().substr(std::string("ldap://").size());
  struct Case {
    std::string url;
    std::string dn;
    std::string password;
    std::optional<int> error;
  };
  const std::vector<Case> cases = {
      {"ldap://" + hostPort, adminDn(), adminPassword(), std::nullopt},
      {"LDAP://" + hostPort, adminDn(), adminPassword(), std::nullopt},
      {"lDaP://" + hostPort, adminDn(), adminPassword(), std::nullopt},
      {"ldap://" + hostPort, adminDn(), "wrong", LDAP_INVALID_CREDENTIALS},
      {"ldap://" + hostPort, "cn=nobody,o=orvanta", adminPassword(), LDAP_INVALID_CREDENTIALS},
      {"file://" + hostPort, adminDn(), adminPassword(), LDAP_PARAM_ERROR},
      {hostPort, adminDn(), adminPassword(), LDAP_PARAM_ERROR},
      {"ldap://127.0.0.1:" + std::to_string(nvo_test::unusedLoopbackPort()), adminDn(),
       adminPassword(), LDAP_SERVER_DOWN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + " as " + c.dn + " / " + c.password);
    LdapDirectory directory;
    EXPECT_EQ(errorOf([&] { directory.open(c.url, c.dn, c.password); }), c.error);
    EXPECT_EQ(directory.isOpen(), !c.error.has_value());
    if (!c.error) {
      EXPECT_EQ(directory.boundDn(), c.dn);
      EXPECT_EQ(searchBase(directory, SlapdServer::kSuffix).size(), 1u);
    } else {
      EXPECT_EQ(errorOf([&] { searchBase(directory, SlapdServer::kSuffix); }), LDAP_SERVER_DOWN);
    }
  }
}

TEST_F(LdapDirectoryTest, EveryOperationWorksAndFailuresCarryCodeAndServerText) {
  SlapdServer server;
  LdapDirectory directory;
  directory.open(server.uri(), adminDn(), adminPassword());

  const std::string dn = "cn=box,o=orvanta";
  directory.add(dn, {{"objectClass", {"organizationalRole", "simpleSecurityObject"}},
                     {"cn", {"box"}},
                     {"userPassword", {"unused"}},
                     {"description", {std::string("one\0two", 7)}}});
  std::vector<DirEntry> found = searchBase(directory, dn);
  ASSERT_EQ(found.size(), 1u);
  const std::string uuid = found[0].first("entryUUID");
  EXPECT_EQ(uuid.size(), 36u) << "entryUUID comes back when named";
  EXPECT_EQ(found[0].values("description"), std::vector<std::string>{std::string("one\0two", 7)});

  // Adding an entry twice: the server's code and its diagnostic.
  try {
    directory.add(dn, {{"objectClass", {"organizationalRole"}}, {"cn", {"box"}}});
    ADD_FAILURE() << "a second add succeeded";
  } catch (const DirectoryError& error) {
    EXPECT_EQ(error.code(), LDAP_ALREADY_EXISTS);
    EXPECT_NE(std::string(error.what()).find(ldap_err2string(LDAP_ALREADY_EXISTS)),
              std::string::npos)
        << error.what();
  }
  // A missing base: noSuchObject, with no entries made up.
  EXPECT_EQ(errorOf([&] { searchBase(directory, "cn=absent,o=orvanta"); }), LDAP_NO_SUCH_OBJECT);
  // A filter the library cannot encode.
  EXPECT_EQ(errorOf([&] {
              SearchRequest request;
              request.base = SlapdServer::kSuffix;
              request.filter = "(cn=unbalanced";
              directory.search(request);
            }),
            LDAP_FILTER_ERROR);

  directory.modify(dn, {{Modification::Op::kReplace, "description", {"first", "second"}},
                        {Modification::Op::kDelete, "description", {"first"}}});
  EXPECT_EQ(searchBase(directory, dn)[0].values("description"), std::vector<std::string>{"second"});
  directory.modify(dn, {{Modification::Op::kDelete, "description", {}}});
  EXPECT_TRUE(searchBase(directory, dn)[0].values("description").empty());
  EXPECT_EQ(errorOf([&] {
              directory.modify(dn, {{Modification::Op::kAdd, "noSuchAttribute", {"x"}}});
            }),
            LDAP_UNDEFINED_TYPE);

  // Rename and move keep the entry's UUID.
  directory.add("ou=shelf,o=orvanta", {{"objectClass", {"organizationalUnit"}}, {"ou", {"shelf"}}});
  directory.rename(dn, "cn=crate", "ou=shelf,o=orvanta");
  const std::string moved = "cn=crate,ou=shelf,o=orvanta";
  ASSERT_EQ(searchBase(directory, moved).size(), 1u);
  EXPECT_EQ(searchBase(directory, moved)[0].first("entryUUID"), uuid);
  EXPECT_EQ(searchBase(directory, moved)[0].values("cn"), std::vector<std::string>{"crate"});
  EXPECT_EQ(errorOf([&] { searchBase(directory, dn); }), LDAP_NO_SUCH_OBJECT);

  // Password Modify stores a hash that a later simple bind accepts.
  directory.setPassword(moved, "clear text");
  SearchRequest passwordRequest;
  passwordRequest.base = moved;
  passwordRequest.scope = SearchScope::kBase;
  passwordRequest.attributes = {"userPassword"};
  const std::vector<DirEntry> withPassword = directory.search(passwordRequest);
  ASSERT_EQ(withPassword.size(), 1u);
  ASSERT_EQ(withPassword[0].values("userPassword").size(), 1u);
  EXPECT_EQ(withPassword[0].first("userPassword").rfind("{SSHA}", 0), 0u)
      << withPassword[0].first("userPassword");
  LdapDirectory asBox;
  EXPECT_EQ(errorOf([&] { asBox.open(server.uri(), moved, "clear text"); }), std::nullopt);
  EXPECT_EQ(errorOf([&] { asBox.open(server.uri(), moved, "unused"); }), LDAP_INVALID_CREDENTIALS);

  // Deleting: a non-leaf is refused, leaves first works.
  EXPECT_EQ(errorOf([&] { directory.remove("ou=shelf,o=orvanta"); }), LDAP_NOT_ALLOWED_ON_NONLEAF);
  directory.remove(moved);
  directory.remove("ou=shelf,o=orvanta");
  EXPECT_EQ(errorOf([&] { directory.remove(moved); }), LDAP_NO_SUCH_OBJECT);

  directory.close();
  EXPECT_EQ(errorOf([&] { searchBase(directory, SlapdServer::kSuffix); }), LDAP_SERVER_DOWN);
}

TEST_F(LdapDirectoryTest, RestartedServerIsReachedAgainThroughOneReopenAndRebind) {
  SlapdServer server;
  LdapDirectory directory;
  directory.open(server.uri(), adminDn(), adminPassword());
  ASSERT_EQ(searchBase(directory, SlapdServer::kSuffix).size(), 1u);

  server.stop();  // then again on the same port: the open connection is gone
  server.start();
  EXPECT_EQ(searchBase(directory, SlapdServer::kSuffix).size(), 1u);
  directory.add("cn=after,o=orvanta", {{"objectClass", {"organizationalRole"}}, {"cn", {"after"}}});
  EXPECT_EQ(searchBase(directory, "cn=after,o=orvanta").size(), 1u);

  // A server that stays down: one re-open is tried and its failure thrown.
  server.stop();
  EXPECT_EQ(errorOf([&] { searchBase(directory, SlapdServer::kSuffix); }), LDAP_SERVER_DOWN);
  server.start();
  EXPECT_EQ(searchBase(directory, "cn=after,o=orvanta").size(), 1u);
}

TEST_F(LdapDirectoryTest, FrozenServerMakesCallsFailInsteadOfBlocking) {
  SlapdServer server;
  LdapDirectory directory;
  directory.open(server.uri(), adminDn(), adminPassword());
  server.freeze();  // SIGSTOP: connections stay open, nothing answers
  const std::optional<int> frozenSearch =
      errorOf([&] { searchBase(directory, SlapdServer::kSuffix); });
  LdapDirectory other;
  const std::optional<int> frozenOpen =
      errorOf([&] { other.open(server.uri(), adminDn(), adminPassword()); });
  server.thaw();
  EXPECT_EQ(frozenSearch, LDAP_TIMEOUT);
  EXPECT_TRUE(frozenOpen.has_value());
  // Once the server answers again, the next call works on a fresh connection.
  EXPECT_EQ(searchBase(directory, SlapdServer::kSuffix).size(), 1u);
}

void ignoreSignal(int) {}

// A signal the process handles (with a handler installed without SA_RESTART) while a call
// waits on the directory neither ends the call nor makes it start over on a new connection
// (which would do a change twice): the wait goes on until the answer comes.
TEST_F(LdapDirectoryTest, HandledSignalDoesNotEndAWait) {
  SlapdServer server;
  struct sigaction handler {};
  handler.sa_handler = ignoreSignal;
  sigemptyset(&handler.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &handler, &previous), 0);
  const pthread_t caller = pthread_self();
  server.freeze();  // the bind waits
  std::thread nudge([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pthread_kill(caller, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.thaw();
  });
  LdapDirectory directory;
  const std::optional<int> opened =
      errorOf([&] { directory.open(server.uri(), adminDn(), adminPassword()); });
  nudge.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(opened, std::nullopt);
  EXPECT_EQ(searchBase(directory, SlapdServer::kSuffix).size(), 1u);
}

TEST_F(LdapDirectoryTest, LdapsIsCheckedAgainstTheConfiguredCa) {
  SlapdOptions options;
  options.tls = true;
  SlapdServer server(options);

  // The CA that signed the server's certificate: the connection is made and checked.
  ASSERT_EQ(setenv("LDAPTLS_CACERT", server.caFile().c_str(), 1), 0);
  LdapDirectory directory;
  directory.open(server.tlsUri(), adminDn(), adminPassword());
  EXPECT_EQ(searchBase(directory, SlapdServer::kSuffix).size(), 1u);

  // Without a CA that knows the server, the handshake is refused.
  SlapdOptions otherOptions;
  otherOptions.tls = true;
  SlapdServer stranger(otherOptions);
  LdapDirectory refused;
  EXPECT_EQ(errorOf([&] { refused.open(server.tlsUri(), adminDn(), adminPassword()); }),
            std::nullopt);
  ASSERT_EQ(setenv("LDAPTLS_CACERT", stranger.caFile().c_str(), 1), 0);
  // The library reports a failed handshake as a server it cannot contact.
  EXPECT_EQ(errorOf([&] { refused.open(server.tlsUri(), adminDn(), adminPassword()); }),
            LDAP_SERVER_DOWN);
  unsetenv("LDAPTLS_CACERT");
}

TEST_F(LdapDirectoryTest, AppliesAGroupOfChangesAllOrNothing) {
  SlapdServer server;
  LdapDirectory directory;
  directory.open(server.uri(), adminDn(), adminPassword());
  auto add = [](const std::string& cn) {
    return DirChange{DirChange::Kind::kAdd,
                     "cn=" + cn + ",o=orvanta",
                     {{"objectClass", {"device"}}, {"cn", {cn}}},
                     {}};
  };
  auto exists = [&](const std::string& cn) {
    return errorOf([&] { searchBase(directory, "cn=" + cn + ",o=orvanta"); }) == std::nullopt;
  };
  directory.applyAtomically({add("keep"), add("one")});
  ASSERT_TRUE(exists("keep"));
  ASSERT_TRUE(exists("one"));

  // The last change fails: neither the delete nor the add before it took place, and the
  // error names the failed change.
  try {
    directory.applyAtomically({{DirChange::Kind::kDelete, "cn=one,o=orvanta", {}, {}},
                               add("two"),
                               {DirChange::Kind::kModify,
                                "cn=missing,o=orvanta",
                                {},
                                {{Modification::Op::kReplace, "description", {"x"}}}}});
    ADD_FAILURE() << "a transaction with a failing change was applied";
  } catch (const DirectoryError& e) {
    EXPECT_EQ(e.code(), LDAP_NO_SUCH_OBJECT);
  }
  EXPECT_TRUE(exists("one"));
  EXPECT_FALSE(exists("two"));

  // The connection serves the next group and a plain operation as before.
  directory.applyAtomically({{DirChange::Kind::kModify,
                              "cn=keep,o=orvanta",
                              {},
                              {{Modification::Op::kReplace, "description", {"after"}}}},
                             {DirChange::Kind::kDelete, "cn=one,o=orvanta", {}, {}}});
  EXPECT_FALSE(exists("one"));
  EXPECT_EQ(searchBase(directory, "cn=keep,o=orvanta").front().first("description"), "after");
  directory.applyAtomically({});
}

}  // namespace
}  // namespace nvo
