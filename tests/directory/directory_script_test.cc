// scripts/directory end to end: it creates a directory in a temporary folder on a free port,
// runs the real halbrin, loads the demo data and prints the administrator's authentication
// document; the administrator then reads everything, a demo computer only its own world; a
// second run reuses what the first made; --stop stops it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/slapd_server.h"

namespace {

namespace fs = std::filesystem;

using nvo_test::Identity;
using nvo_test::LdapClient;
using nvo_test::ProcessResult;
using nvo_test::SearchResult;

constexpr int kServerDown = 255;
const std::string kAdminDn = "cn=admin,o=orvanta";
const std::string kPc1 = "cn=lab-pc1-00:16:3e:00:00:01,ou=Lab,ou=Workstations,o=orvanta";
const std::string kPc2 = "cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta";

std::string readFile(const fs::path& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

unsigned permissions(const fs::path& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

class DirectoryScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = nvo_test::SlapdServer::missingPieces();
    if (!missing.empty()) {
      GTEST_SKIP() << "needs the Debian packages slapd, ldap-utils and openssl; missing: "
                   << missing;
    }
    std::string pattern = (fs::temp_directory_path() / "nvo-directory-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
    // Run as root, slapd drops to the openldap user, which must reach the data folder.
    fs::permissions(scratch_,
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    data_ = scratch_ / "data";
    port_ = nvo_test::unusedLoopbackPort();
  }

  void TearDown() override {
    if (!scratch_.empty()) {
      runScript({"--stop"});
      std::error_code ignored;
      fs::remove_all(scratch_, ignored);
    }
  }

  ProcessResult runScript(std::vector<std::string> args) const {
    const char* source = std::getenv("NVO_SOURCE_DIR");
    std::vector<std::string> argv = {
        std::string(source != nullptr ? source : ".") + "/scripts/directory", "--data",
        data_.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return nvo_test::runCommand(argv, {}, std::chrono::seconds(60));
  }

  LdapClient client() const {
    return LdapClient("ldap://127.0.0.1:" + std::to_string(port_), scratch_);
  }

  fs::path scratch_;
  fs::path data_;
  int port_ = 0;
};

TEST_F(DirectoryScriptTest, CreatesReusesAndStopsTheDirectory) {
  // Run under a permissive umask, which the script must not pass on to its credentials.
  const mode_t umask = ::umask(0);
  const ProcessResult first = runScript({"--port", std::to_string(port_)});
  ::umask(umask);
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;

  // The administrator's password file and document are the owner's alone; the document names
  // this server, the administrator and that password.
  const std::string password = readFile(data_ / "admin-password");
  ASSERT_GE(password.size(), 16u);
  EXPECT_EQ(permissions(data_ / "admin-password"), 0600u);
  EXPECT_EQ(permissions(data_ / "authentication.xml"), 0600u);
  // Nothing else in the folder is writable by others: not slapd's configuration, not the pid
  // file that --stop trusts.
  for (const fs::directory_entry& made : fs::recursive_directory_iterator(data_)) {
    EXPECT_EQ(permissions(made.path()) & 022, 0u) << made.path();
  }
  const std::string document =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<authentication><gateway><url>ldap://127.0.0.1:" +
      std::to_string(port_) + "</url><authname>" + kAdminDn + "</authname><password>" + password +
      "</password><objectname>" + kAdminDn +
      "</objectname><primaryGateway/></gateway>"
      "</authentication>\n";
  EXPECT_EQ(first.out, document);
  EXPECT_EQ(readFile(data_ / "authentication.xml"), document);
  EXPECT_NE(first.err.find((data_ / "authentication.xml").string()), std::string::npos)
      << first.err;

  // The administrator reads the demo data and the units halbrin made.
  const Identity admin{kAdminDn, password};
  const LdapClient ldap = client();
  const SearchResult computers =
      ldap.ldapSearch(admin, "o=orvanta", "sub", "(objectClass=orvantacomputer)", {"cn"});
  ASSERT_EQ(computers.exitCode, 0) << computers.err;
  EXPECT_EQ(computers.entries.size(), 3u);
  for (const std::string& dn : {std::string("ou=pub,ou=RPM,ou=SoftwareRepository,o=orvanta"),
                                std::string("ou=secure,ou=RPM,ou=SoftwareRepository,o=orvanta"),
                                kPc2, std::string("cn=Nightly inventory,ou=Actions,o=orvanta")}) {
    EXPECT_EQ(ldap.ldapSearch(admin, dn, "base", "(objectClass=*)").entries.size(), 1u) << dn;
  }
  const SearchResult search =
      ldap.ldapSearch(admin, "o=orvanta", "sub",
                      "(&(objectClass=orvantapolicy)(orvantapolicytype=search))", {"cn"});
  ASSERT_EQ(search.entries.size(), 1u) << search.err;

  // A demo computer with a password reads its own entry and what is linked to it, never
  // another computer.
  ASSERT_EQ(ldap.ldapPasswd(admin, kPc1, "pc1 secret").exitCode, 0);
  const Identity pc1{kPc1, "pc1 secret"};
  EXPECT_EQ(ldap.ldapSearch(pc1, kPc1, "base", "(objectClass=*)").entries.size(), 1u);
  EXPECT_EQ(ldap.ldapSearch(pc1, "cn=Lab printer,ou=Printers,o=orvanta", "base", "(objectClass=*)")
                .entries.size(),
            1u);
  EXPECT_TRUE(ldap.ldapSearch(pc1, kPc2, "base", "(objectClass=*)").entries.empty());
  EXPECT_EQ(
      ldap.ldapSearch(pc1, "o=orvanta", "sub", "(objectClass=orvantacomputer)").entries.size(), 1u);
  // Anonymous clients may bind, nothing more.
  EXPECT_TRUE(ldap.ldapSearch({}, "o=orvanta", "sub", "(objectClass=*)").entries.empty());

  // A second run reuses everything: same document, no second copy of the demo data, and the
  // password set above still works.
  const ProcessResult second = runScript({});
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  EXPECT_EQ(second.out, document);
  EXPECT_EQ(ldap.ldapSearch(admin, "o=orvanta", "sub", "(objectClass=orvantacomputer)", {"cn"})
                .entries.size(),
            3u);
  EXPECT_EQ(ldap.ldapWhoami(pc1).exitCode, 0);

  // --stop stops it; the next run starts it again on the remembered port.
  ASSERT_EQ(runScript({"--stop"}).exitCode, 0);
  EXPECT_EQ(ldap.ldapWhoami(admin).exitCode, kServerDown);
  const ProcessResult third = runScript({});
  ASSERT_EQ(third.exitCode, 0) << third.err;
  EXPECT_EQ(third.out, document);
  EXPECT_EQ(ldap.ldapWhoami(pc1).exitCode, 0);
}

TEST_F(DirectoryScriptTest, RefusesAFolderItDidNotMake) {
  fs::create_directories(data_);
  std::ofstream(data_ / "precious.txt") << "keep me\n";
  const ProcessResult refused = runScript({"--port", std::to_string(port_)});
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.err.find("not made by this script"), std::string::npos) << refused.err;
  EXPECT_EQ(readFile(data_ / "precious.txt"), "keep me\n");
  EXPECT_EQ(client().ldapWhoami({}).exitCode, kServerDown);

  EXPECT_NE(runScript({"--port", "http"}).exitCode, 0);
}

}  // namespace
