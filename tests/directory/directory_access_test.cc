// The access rules of gateway/schema/slapd-nvo.conf, from both sides, against a real slapd that
// holds the demo data of gateway/schema/demo.ldif. Who may read what is one table; who may
// change what another. Every row names the identity, the object and the expected outcome.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/demo_directory_test.h"
#include "tests/support/slapd_server.h"

namespace {

using nvo_test::DemoDirectoryTest;
using nvo_test::Identity;
using nvo_test::SearchResult;
using nvo_test::SlapdOptions;
using nvo_test::SlapdServer;

constexpr int kSuccess = 0;
constexpr int kAuthenticationRequired = 8;  // slapd's answer to anonymous updates
constexpr int kInvalidCredentials = 49;
constexpr int kInsufficientAccess = 50;

const std::string kLab = "ou=Lab,ou=Workstations,o=orvanta";
const std::string kPc1 = "cn=lab-pc1-00:16:3e:00:00:01," + kLab;
const std::string kPc2 = "cn=lab-pc2-00:16:3e:00:00:02," + kLab;
const std::string kOffice = "cn=office-pc1-00:16:3e:00:00:11,ou=Office,ou=Workstations,o=orvanta";
const std::string kPub = "ou=pub,ou=RPM,ou=SoftwareRepository,o=orvanta";
const std::string kSecure = "ou=secure,ou=RPM,ou=SoftwareRepository,o=orvanta";

const Identity kAdmin = SlapdServer::admin();
const Identity kAnonymous = SlapdServer::anonymous();
const Identity kPc1Id{kPc1, "pc1 secret"};
const Identity kPc2Id{kPc2, "pc2 secret"};
const Identity kOfficeId{kOffice, "office secret"};

std::string name(const Identity& who) {
  return who.dn.empty() ? "anonymous" : who.dn.substr(0, who.dn.find(','));
}

// The demo directory, with known passwords on three of its computers.
class DirectoryAccessTest : public DemoDirectoryTest {
 protected:
  static void SetUpTestSuite() {
    DemoDirectoryTest::SetUpTestSuite();
    if (server_ == nullptr) {
      return;
    }
    for (const Identity* computer : {&kPc1Id, &kPc2Id, &kOfficeId}) {
      const auto set = server_->ldapPasswd(kAdmin, computer->dn, computer->password);
      if (set.exitCode != kSuccess) {
        setUpError_ = "setting the password of " + computer->dn + " failed: " + set.err;
        return;
      }
    }
  }

  void SetUp() override {
    DemoDirectoryTest::SetUp();
    ASSERT_TRUE(setUpError_.empty()) << setUpError_;
  }

  // True when `who` sees the entry `dn` at all (a base search returns it).
  static bool sees(const Identity& who, const std::string& dn) {
    const SearchResult found =
        server_->ldapSearch(who, dn, "base", "(objectClass=*)", {"cn", "entryUUID", "objectClass"});
    return found.exitCode == kSuccess && found.entries.size() == 1;
  }

  static int modify(const Identity& who, const std::string& ldif) {
    return server_->ldapModify(who, ldif).exitCode;
  }

  static inline std::string setUpError_;
};

TEST_F(DirectoryAccessTest, WhoReadsWhat) {
  struct Row {
    const Identity& who;
    std::string dn;
    bool visible;
  };
  const std::vector<Row> rows = {
      // A computer: its own entry and inventory, and what is linked to it.
      {kPc1Id, kPc1, true},
      {kPc1Id, "cn=bash," + kPc1, true},
      {kPc1Id, "cn=Base desktop,ou=Profiles,o=orvanta", true},      // its own link
      {kPc1Id, "cn=Lab printer,ou=Printers,o=orvanta", true},       // its group's link
      {kPc1Id, "cn=Nightly inventory,ou=Actions,o=orvanta", true},  // ou=Workstations' link
      {kPc1Id, "cn=Find printers,ou=Policies,o=orvanta", true},     // ou=Lab's link
      {kPc1Id, "cn=Lab machines,ou=Groups,o=orvanta", true},        // a group holding it
      {kPc1Id, kLab, true},                                         // containers above it
      {kPc1Id, "ou=Workstations,o=orvanta", true},
      {kPc1Id, "o=orvanta", true},
      {kPc1Id, "orvantauuid=17198c38-dea7-430b-9819-c4f62114a7da," + kPub, true},
      // ... and nothing else: no other computer, however it is linked or grouped.
      {kPc1Id, kPc2, false},
      {kPc1Id, "cn=bash," + kPc2, false},
      {kPc1Id, kOffice, false},
      {kPc1Id, "cn=Office desktop,ou=Policies,o=orvanta", false},
      {kPc1Id, "cn=Office printer,ou=Printers,o=orvanta", false},
      {kPc1Id, "ou=Office,ou=Workstations,o=orvanta", false},
      {kPc1Id, "ou=Profiles,o=orvanta", false},
      {kPc1Id, "cn=admin,o=orvanta", false},
      {kPc1Id, "cn=administrators,o=orvanta", false},
      {kPc1Id, "orvantauuid=6bd4faf4-27a8-4a53-b296-30064bb3be16," + kSecure, false},
      // The office computer reaches its own container's links, not the lab's.
      {kOfficeId, "cn=Office desktop,ou=Policies,o=orvanta", true},
      {kOfficeId, "cn=Office printer,ou=Printers,o=orvanta", true},
      {kOfficeId, "cn=Nightly inventory,ou=Actions,o=orvanta", true},
      {kOfficeId, "cn=Base desktop,ou=Profiles,o=orvanta", false},
      {kOfficeId, "cn=Lab printer,ou=Printers,o=orvanta", false},
      {kOfficeId, "cn=Lab machines,ou=Groups,o=orvanta", false},
      {kOfficeId, kLab, false},
      {kOfficeId, kPc1, false},
      // lab-pc2 is in the group but holds no link of its own.
      {kPc2Id, "cn=Lab printer,ou=Printers,o=orvanta", true},
      {kPc2Id, "cn=Base desktop,ou=Profiles,o=orvanta", false},
      // Anonymous clients may only bind.
      {kAnonymous, "o=orvanta", false},
      {kAnonymous, kPc1, false},
      {kAnonymous, "orvantauuid=17198c38-dea7-430b-9819-c4f62114a7da," + kPub, false},
      // Administrators read everything.
      {kAdmin, kPc1, true},
      {kAdmin, "cn=bash," + kPc2, true},
      {kAdmin, "orvantauuid=6bd4faf4-27a8-4a53-b296-30064bb3be16," + kSecure, true},
      {kAdmin, "cn=administrators,o=orvanta", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(sees(row.who, row.dn), row.visible) << name(row.who) << " reading " << row.dn;
  }
}

TEST_F(DirectoryAccessTest, PasswordsAndMembersStayHidden) {
  // The computer's own entry comes without its password; the administrator sees the hash.
  const SearchResult own = server_->ldapSearch(kPc1Id, kPc1, "base", "(objectClass=*)", {"*"});
  ASSERT_EQ(own.entries.size(), 1u) << own.err;
  EXPECT_EQ(own.entries[0].attributes.count("userPassword"), 0u);
  EXPECT_EQ(own.entries[0].attributes.at("orvantamodel"),
            std::vector<std::string>{"Demo Workstation 100"});
  const SearchResult asAdmin =
      server_->ldapSearch(kAdmin, kPc1, "base", "(objectClass=*)", {"userPassword"});
  ASSERT_EQ(asAdmin.entries.size(), 1u) << asAdmin.err;
  EXPECT_EQ(asAdmin.entries[0].attributes.at("userPassword").at(0).rfind("{SSHA}", 0), 0u);

  // Its group shows its links but not its members; the computer can still find the groups
  // that hold it, which is how the engine follows group links.
  const SearchResult group = server_->ldapSearch(kPc1Id, "cn=Lab machines,ou=Groups,o=orvanta",
                                                 "base", "(objectClass=*)", {"*"});
  ASSERT_EQ(group.entries.size(), 1u) << group.err;
  EXPECT_EQ(group.entries[0].attributes.count("member"), 0u);
  EXPECT_EQ(group.entries[0].attributes.at("orvantalink"),
            std::vector<std::string>{"cn=Lab printer,ou=Printers,o=orvanta"});
  const SearchResult holding = server_->ldapSearch(
      kPc1Id, "o=orvanta", "sub", "(&(objectClass=orvantacomputergroup)(member=" + kPc1 + "))",
      {"entryUUID"});
  ASSERT_EQ(holding.exitCode, kSuccess) << holding.err;
  ASSERT_EQ(holding.entries.size(), 1u);
  EXPECT_EQ(holding.entries[0].dn, "cn=Lab machines,ou=Groups,o=orvanta");
  EXPECT_EQ(holding.entries[0].attributes.at("entryUUID").at(0).size(), 36u);

  // A whole-directory search as a computer returns its own world only.
  const SearchResult all =
      server_->ldapSearch(kPc1Id, "o=orvanta", "sub", "(objectClass=orvantacomputer)", {"cn"});
  ASSERT_EQ(all.exitCode, kSuccess) << all.err;
  ASSERT_EQ(all.entries.size(), 1u);
  EXPECT_EQ(all.entries[0].dn, kPc1);
}

TEST_F(DirectoryAccessTest, BindsWithTheRightPasswordOnly) {
  EXPECT_EQ(server_->ldapWhoami(kPc1Id).exitCode, kSuccess);
  EXPECT_EQ(server_->ldapWhoami({kPc1, "wrong"}).exitCode, kInvalidCredentials);
  EXPECT_EQ(server_->ldapWhoami(kAdmin).exitCode, kSuccess);
  EXPECT_EQ(server_->ldapWhoami({SlapdServer::kAdminDn, "wrong"}).exitCode, kInvalidCredentials);
  // The root DN of the configuration has no password: nobody binds as it.
  EXPECT_EQ(server_->ldapWhoami({"cn=slapd internal lookups,o=orvanta", "x"}).exitCode,
            kInvalidCredentials);
  EXPECT_EQ(server_->ldapWhoami(kAnonymous).exitCode, kSuccess);
}

TEST_F(DirectoryAccessTest, WhoChangesWhat) {
  const std::string package = "cn=curl," + kPc1;
  const std::string packageLdif = "dn: " + package +
                                  "\nchangetype: add\nobjectClass: orvantainstalledpackage\n"
                                  "cn: curl\norvantaname: curl\norvantaversion: 7.88.1\n";
  struct Row {
    const Identity& who;
    std::string what;
    std::string ldif;
    int expected;
  };
  const std::vector<Row> rows = {
      // A computer writes its own hardware and software inventory ...
      {kPc1Id, "own model",
       "dn: " + kPc1 + "\nchangetype: modify\nreplace: orvantamodel\norvantamodel: New Model\n",
       kSuccess},
      {kPc1Id, "add own package", packageLdif, kSuccess},
      {kPc1Id, "change own package",
       "dn: " + package + "\nchangetype: modify\nreplace: orvantaversion\norvantaversion: 8.0\n",
       kSuccess},
      {kPc1Id, "delete own package", "dn: " + package + "\nchangetype: delete\n", kSuccess},
      // ... and nothing else.
      {kPc1Id, "own description",
       "dn: " + kPc1 + "\nchangetype: modify\nreplace: description\ndescription: x\n",
       kInsufficientAccess},
      {kPc1Id, "own links",
       "dn: " + kPc1 +
           "\nchangetype: modify\nadd: orvantalink\norvantalink: cn=Office desktop,ou=Policies,"
           "o=orvanta\n",
       kInsufficientAccess},
      {kPc1Id, "own password",
       "dn: " + kPc1 + "\nchangetype: modify\nreplace: userPassword\nuserPassword: x\n",
       kInsufficientAccess},
      {kPc1Id, "own entry deleted", "dn: " + kPc1 + "\nchangetype: delete\n", kInsufficientAccess},
      {kPc1Id, "another computer's model",
       "dn: " + kPc2 + "\nchangetype: modify\nreplace: orvantamodel\norvantamodel: x\n",
       kInsufficientAccess},
      {kPc1Id, "package below another computer",
       "dn: cn=curl," + kPc2 +
           "\nchangetype: add\nobjectClass: orvantainstalledpackage\ncn: curl\n",
       kInsufficientAccess},
      {kPc1Id, "another computer's package deleted",
       "dn: cn=bash," + kPc2 + "\nchangetype: delete\n", kInsufficientAccess},
      {kPc1Id, "a computer below itself",
       "dn: cn=child," + kPc1 + "\nchangetype: add\nobjectClass: orvantacomputer\ncn: child\n",
       kInsufficientAccess},
      {kPc1Id, "a package that could bind",
       "dn: cn=key," + kPc1 +
           "\nchangetype: add\nobjectClass: orvantainstalledpackage\nobjectClass: "
           "simpleSecurityObject\ncn: key\nuserPassword: x\n",
       kInsufficientAccess},
      {kPc1Id, "a linked printer",
       "dn: cn=Lab printer,ou=Printers,o=orvanta\nchangetype: modify\nreplace: "
       "orvantaprinterlocation\norvantaprinterlocation: x\n",
       kInsufficientAccess},
      {kPc1Id, "its group's members",
       "dn: cn=Lab machines,ou=Groups,o=orvanta\nchangetype: modify\nadd: member\nmember: " +
           kOffice + "\n",
       kInsufficientAccess},
      {kPc1Id, "the administrators group",
       "dn: cn=administrators,o=orvanta\nchangetype: modify\nadd: member\nmember: " + kPc1 + "\n",
       kInsufficientAccess},
      {kAnonymous, "anonymous model",
       "dn: " + kPc1 + "\nchangetype: modify\nreplace: orvantamodel\norvantamodel: x\n",
       kAuthenticationRequired},
      // Administrators change anything.
      {kAdmin, "admin: another computer's description",
       "dn: " + kPc2 + "\nchangetype: modify\nreplace: description\ndescription: lab\n", kSuccess},
      {kAdmin, "admin: a new container",
       "dn: ou=New,o=orvanta\nchangetype: add\nobjectClass: "
       "organizationalUnit\nou: New\n",
       kSuccess},
      {kAdmin, "admin: container deleted", "dn: ou=New,o=orvanta\nchangetype: delete\n", kSuccess},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(modify(row.who, row.ldif), row.expected) << name(row.who) << ": " << row.what;
  }
  // The refused changes left nothing behind.
  EXPECT_FALSE(sees(kAdmin, "cn=curl," + kPc2));
  EXPECT_FALSE(sees(kAdmin, "cn=key," + kPc1));
  EXPECT_TRUE(sees(kAdmin, "cn=bash," + kPc2));
  // A computer cannot set passwords with the extended operation either, not even its own.
  for (const std::string& target : {kPc1, kPc2}) {
    const auto refused = server_->ldapPasswd(kPc1Id, target, "new");
    EXPECT_NE(refused.exitCode, kSuccess) << target;
    EXPECT_NE((refused.out + refused.err).find("Insufficient access (50)"), std::string::npos)
        << refused.out << refused.err;
  }
  EXPECT_EQ(server_->ldapWhoami(kPc1Id).exitCode, kSuccess);
  EXPECT_EQ(server_->ldapWhoami(kPc2Id).exitCode, kSuccess);
}

TEST_F(DirectoryAccessTest, LinksNeverOpenAnotherComputerNorFollowACraftedName) {
  // An action whose name holds filter characters, linked to pc1's container, reaches pc1.
  const std::string action = "cn=Update (weekly*),ou=Actions,o=orvanta";
  ASSERT_EQ(server_
                ->ldapAdd(kAdmin,
                          "dn: " + action + "\nobjectClass: orvantaaction\ncn: Update (weekly*)\n")
                .exitCode,
            kSuccess);
  ASSERT_EQ(modify(kAdmin, "dn: " + kLab + "\nchangetype: modify\nadd: orvantalink\norvantalink: " +
                               action + "\n"),
            kSuccess);
  EXPECT_TRUE(sees(kPc1Id, action));
  EXPECT_FALSE(sees(kOfficeId, action));

  // Another computer linked to pc1, to its group or to its container stays closed to pc1.
  for (const std::string& holder :
       {kPc1, std::string("cn=Lab machines,ou=Groups,o=orvanta"), kLab}) {
    ASSERT_EQ(modify(kAdmin, "dn: " + holder +
                                 "\nchangetype: modify\nadd: orvantalink\norvantalink: " + kOffice +
                                 "\n"),
              kSuccess)
        << holder;
  }
  EXPECT_FALSE(sees(kPc1Id, kOffice));
  EXPECT_FALSE(sees(kPc1Id, "cn=bash," + kOffice));

  // A computer whose name decodes, inside a search filter, to pc1's DN ("," and "=" are
  // escaped as \2C and \3D in the normalized DN) gets neither pc1's group links nor anything
  // else through a filter: its own links only.
  const std::string impostor = "cn=lab-pc1-00:16:3e:00:00:01\\,ou\\=Lab,ou=Workstations,o=orvanta";
  ASSERT_EQ(
      server_
          ->ldapAdd(kAdmin, "dn: " + impostor +
                                "\nobjectClass: orvantacomputer\nobjectClass: orvantalinkholder\n"
                                "cn: lab-pc1-00:16:3e:00:00:01,ou=Lab\n"
                                "orvantalink: cn=Office printer,ou=Printers,o=orvanta\n")
          .exitCode,
      kSuccess);
  ASSERT_EQ(server_->ldapPasswd(kAdmin, impostor, "impostor secret").exitCode, kSuccess);
  const Identity impostorId{impostor, "impostor secret"};
  EXPECT_TRUE(sees(impostorId, impostor));
  EXPECT_TRUE(sees(impostorId, "cn=Office printer,ou=Printers,o=orvanta"));
  EXPECT_FALSE(sees(impostorId, "cn=Lab printer,ou=Printers,o=orvanta"));
  EXPECT_FALSE(sees(impostorId, "cn=Nightly inventory,ou=Actions,o=orvanta"));
  EXPECT_FALSE(sees(impostorId, kPc1));
}

}  // namespace
