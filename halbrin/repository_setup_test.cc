// The run's control flow over a scripted connection. The server-facing behaviour is tested
// against a real slapd in halbrin_end_to_end_test.cc; this file covers the failures a real
// server cannot be made to produce on demand (no handle, a refused later add, a failed unbind)
// and what must happen before any connection is opened.
#include "halbrin/repository_setup.h"

#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "halbrin/command_line.h"

namespace halbrin {
namespace {

struct Script {
  bool bindAccepted = true;
  std::optional<std::vector<Attribute>> rootDse = std::vector<Attribute>{};
  std::map<std::string, int> addResults;  // by DN; missing DNs succeed
  int unbindResult = 0;
  // Filled by the connection.
  int opened = 0;
  std::vector<std::string> calls;
  std::vector<std::vector<Attribute>> added;
};

class ScriptedConnection final : public DirectoryConnection {
 public:
  explicit ScriptedConnection(Script& script) : script_(script) {}
  bool bind(const std::string& dn, const std::string&) override {
    script_.calls.push_back("bind " + dn);
    return script_.bindAccepted;
  }
  std::optional<std::vector<Attribute>> readRootDse(const std::vector<std::string>&) override {
    script_.calls.push_back("rootdse");
    return script_.rootDse;
  }
  int addEntry(const std::string& dn, const std::vector<Attribute>& attributes) override {
    script_.calls.push_back("add " + dn);
    script_.added.push_back(attributes);
    auto it = script_.addResults.find(dn);
    return it == script_.addResults.end() ? 0 : it->second;
  }
  void reportError(const std::string& operation) override {
    script_.calls.push_back("report " + operation);
  }
  int unbind() override {
    script_.calls.push_back("unbind");
    return script_.unbindResult;
  }

 private:
  Script& script_;
};

const std::vector<std::string> kArgs = {"ldap.test", "389", "cn=admin,o=orvanta", "pw",
                                        "ou=Repo, o=orvanta"};

int run(Script& script, const std::vector<std::string>& args, std::string& output,
        bool giveHandle = true) {
  std::ostringstream out;
  ConnectionOpener open = [&script, giveHandle](const std::string&, int) {
    ++script.opened;
    return giveHandle ? std::make_unique<ScriptedConnection>(script) : nullptr;
  };
  const int code = runRepositorySetup(args, open, out);
  output = out.str();
  return code;
}

TEST(RepositorySetupTest, WrongCountShowsUsageWithoutConnecting) {
  Script script;
  std::string output;
  EXPECT_EQ(run(script, {"a", "b", "c", "d"}, output), kExitSuccess);
  EXPECT_EQ(output,
            "Usage:  halbrin LDAPServerAddress LDAPServerPort LDAPUserName Password "
            "SoftwareRepositoryOU\nFor example:\nhalbrin ldap.example.com 389 cn=dirmanager "
            "secret \"ou=SoftwareRepository, o=orvanta\"\n");
  EXPECT_EQ(run(script, {"a", "b", "c", "d", "e", "f"}, output), kExitSuccess);
  EXPECT_EQ(script.opened, 0);
}

TEST(RepositorySetupTest, OverlongArgumentRefusedWithoutConnecting) {
  Script script;
  std::string output;
  std::vector<std::string> args = kArgs;
  args[3] = std::string(199, 's');
  EXPECT_EQ(run(script, args, output), kExitSuccess);  // 199 characters still fit
  EXPECT_EQ(script.opened, 1);

  args[3] += 's';
  EXPECT_EQ(run(script, args, output), kExitTooLong);
  EXPECT_EQ(output, "Error: Password (argument 4) is longer than 199 characters\n");
  EXPECT_EQ(script.opened, 1);
}

TEST(RepositorySetupTest, OverlongBuiltDnRefusedWithoutConnecting) {
  Script script;
  std::string output;
  std::vector<std::string> args = kArgs;
  args[4] = "ou=" + std::string(180, 'r') + ", o=x";  // fits alone, not below "ou=secure, ou=RPM, "
  EXPECT_EQ(run(script, args, output), kExitTooLong);
  EXPECT_EQ(output,
            "Error: organizationalunit DN is longer than 199 characters: ou=secure, "
            "ou=RPM, " +
                args[4] + "\n");
  EXPECT_EQ(script.opened, 0);
}

TEST(RepositorySetupTest, NoHandleAndRefusedBind) {
  Script script;
  std::string output;
  EXPECT_EQ(run(script, kArgs, output, /*giveHandle=*/false), kExitNoHandle);
  EXPECT_EQ(output, "Error connecting / binding to LDAP: 1\n");

  script.bindAccepted = false;
  EXPECT_EQ(run(script, kArgs, output), kExitBindFailed);
  EXPECT_EQ(output, "Error connecting / binding to LDAP: 2\n");
  EXPECT_EQ(script.calls, std::vector<std::string>{"bind cn=admin,o=orvanta"});
}

TEST(RepositorySetupTest, RefusedAddStopsTheRunAfterTheLibraryReport) {
  Script script;
  script.rootDse = std::nullopt;  // a failed search means an unknown directory
  script.addResults["ou=secure, ou=RPM, ou=Repo, o=orvanta"] = 50;
  std::string output;
  EXPECT_EQ(run(script, kArgs, output), 4);
  EXPECT_EQ(output,
            "Authenticated\nDetected unknown LDAP directory, using defaults\r\n"
            "OU ou=Repo, o=orvanta created\nOU ou=RPM, ou=Repo, o=orvanta created\n"
            "Error creating organizationalunit: ou=secure, ou=RPM, ou=Repo, o=orvanta: 4\n");
  const std::vector<std::string> expected = {"bind cn=admin,o=orvanta",
                                             "rootdse",
                                             "add ou=Repo, o=orvanta",
                                             "add ou=RPM, ou=Repo, o=orvanta",
                                             "add ou=secure, ou=RPM, ou=Repo, o=orvanta",
                                             "report ldap_add_ext_s"};
  EXPECT_EQ(script.calls, expected);
}

TEST(RepositorySetupTest, FailedUnbindGivesThree) {
  Script script;
  script.rootDse = std::vector<Attribute>{{"vendorName", {"Novell, Inc."}}};
  script.addResults["ou=Repo, o=orvanta"] = kResultAlreadyExists;
  script.unbindResult = -1;
  std::string output;
  EXPECT_EQ(run(script, kArgs, output), kExitUnbindFailed);
  EXPECT_EQ(output,
            "Authenticated\nDetected eDirectory LDAP directory, using defaults\r\n"
            "OU ou=Repo, o=orvanta already exists\nOU ou=RPM, ou=Repo, o=orvanta created\n"
            "OU ou=secure, ou=RPM, ou=Repo, o=orvanta created\n"
            "OU ou=pub, ou=RPM, ou=Repo, o=orvanta created\nError unbinding from LDAP: -1\n");
  ASSERT_EQ(script.added.size(), 4u);
  ASSERT_EQ(script.added[3].size(), 3u);
  EXPECT_EQ(script.added[3][2].name, "ACL");
  EXPECT_EQ(script.added[2].size(), 2u);  // only the public OU carries the rule
}

}  // namespace
}  // namespace halbrin
