// The inventory commands over data the real tools put into the directory: packages built here
// by rpmbuild and imported by nvo-rpm-import, and inventories reported by nvo-inventory as the
// computers themselves, one from a dpkg status file written here, one from this machine's own
// package database. The console links the imported packages to a profile, reads their details
// back and finds the computers by package version (in package-version order) and by model.
#include <sstream>

#include "tarvik/testing/console_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/daemon_process.h"
#include "tests/support/scratch_dir.h"

namespace tarvik_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char kPc1[] = "cn=lab-pc1-00:16:3e:00:00:01,ou=Lab,ou=Workstations,o=orvanta";
const char kPc2[] = "cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta";
const char kRpmbuild[] = "/usr/bin/rpmbuild";
const char kDpkgStatus[] = "/var/lib/dpkg/status";

class ConsoleRealDataTest : public ConsoleTest {
 protected:
  ConsoleRealDataTest() {
    extraLdif_ =
        "dn: cn=Lab profile,ou=Profiles,o=orvanta\n"
        "objectClass: orvantaprofile\n"
        "cn: Lab profile\n";
  }

  void SetUp() override {
    if (!fs::exists(kRpmbuild) || !fs::exists(kDpkgStatus)) {
      GTEST_SKIP() << "needs rpmbuild (Debian package rpm) and a dpkg status database";
    }
    ConsoleTest::SetUp();
  }

  // Runs the tool `name` of the build; fails the test unless it exits 0. Its output lines.
  std::vector<std::string> runTool(const std::string& name, std::vector<std::string> args) {
    args.insert(args.begin(), nvo_test::buildBinary(name));
    const nvo_test::ProcessResult run = nvo_test::runCommand(args, {}, 120s);
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  // An empty noarch package made by rpmbuild below the scratch folder; its file.
  std::string makePackage(const std::string& name, const std::string& version,
                          const std::string& release) {
    const std::string specFile =
        scratch_.write(name + "-" + version + ".spec",
                       "Name: " + name + "\nVersion: " + version + "\nRelease: " + release +
                           "\nSummary: console test\nLicense: none\nBuildArch: noarch\n"
                           "%description\nAn empty package for the console test.\n%files\n");
    const fs::path top = scratch_.path() / "rpm";
    const nvo_test::ProcessResult built = nvo_test::runCommand(
        {kRpmbuild, "-bb", "--quiet", "--define", "_topdir " + top.string(), specFile}, {}, 120s);
    EXPECT_EQ(built.exitCode, 0) << built.err;
    return (top / "RPMS" / "noarch" / (name + "-" + version + "-" + release + ".noarch.rpm"))
        .string();
  }

  // The administrator's authentication document.
  std::string adminSession() {
    const std::string file = (scratch_.path() / "admin.xml").string();
    writeAuthenticationFile(file, server().uri(), nvo_test::SlapdServer::kAdminDn,
                            nvo_test::SlapdServer::kAdminPassword);
    return file;
  }

  // An authentication document for `dn`, after giving it `password`.
  std::string sessionOf(const std::string& dn, const std::string& password) {
    EXPECT_EQ(server().ldapPasswd(nvo_test::SlapdServer::admin(), dn, password).exitCode, 0);
    const std::string file = (scratch_.path() / (password + ".xml")).string();
    writeAuthenticationFile(file, server().uri(), dn, password);
    return file;
  }

  nvo_test::ScratchDir scratch_{"tarvik-real-data"};
};

TEST_F(ConsoleRealDataTest, ImportedPackagesAndReportedInventoriesThroughTheConsole) {
  // Versions 1.9 and 1.10: by text 1.10 would sort first, by package version it is the newer.
  const std::vector<std::string> imported = runTool(
      "nvo-rpm-import", {"-a", adminSession(), makePackage("tarvik-tool", "1.9", "1"),
                         makePackage("tarvik-tool", "1.10", "1"),
                         makePackage("tarvik-extra", "2.0", "3")});
  ASSERT_EQ(imported.size(), 3u);
  std::vector<std::string> uuids;
  for (const std::string& line : imported) {
    ASSERT_EQ(line.rfind("added ", 0), 0u) << line;
    uuids.push_back(line.substr(6, 36));
  }
  const std::string& tool19 = uuids[0];
  const std::string& tool110 = uuids[1];
  const std::string& extra = uuids[2];

  // lab-pc2 reports tarvik-tool 1.10-1 (no bash any more) and its model; lab-pc1 reports this
  // machine's own packages, bash among them.
  const std::string status = scratch_.write(
      "status",
      "Package: tarvik-tool\nStatus: install ok installed\nArchitecture: all\nVersion: 1.10-1\n"
      "Description: console test\n\n");
  EXPECT_EQ(runTool("nvo-inventory",
                    {"-a", sessionOf(kPc2, "pc2-secret"), "--dpkg-status", status,
                     "--model-file", scratch_.write("model2", "Console Test Box 7\n")}),
            (std::vector<std::string>{"model: Console Test Box 7",
                                      "packages: 1 (added 1, removed 1, unchanged 0)"}));
  EXPECT_EQ(runTool("nvo-inventory", {"-a", sessionOf(kPc1, "pc1-secret"), "--model-file",
                                      scratch_.write("model1", "Console Test Box 12\n")})
                .front(),
            "model: Console Test Box 12");

  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Profiles", {"Profiles : "});
  const std::string p = "Profiles : ";
  const std::string op = "Enter operation : (EQ|LT|GT|IS) [EQ] ";
  // tarvik-tool above 1.9 onto the install list, tarvik-extra onto the remove list.
  s.say("rpmlink", {"Link operation : (add|remove) [add] "});
  s.say("", {"RPM is to be installed or un-unstalled? : (inst|uninst) [inst] "});
  s.say("inst", {"Enter rpm name : [no name] "});
  s.say("tarvik-tool", {op});
  s.say("", {"Enter rpm version : [no version] "});
  s.say("1.9", {op});
  s.say("GT", {"Enter rpm release : [no release] "});
  s.say("", {"Profile name to link to : "});
  s.say("Lab profile", {tool110 + " Adding rpm : tarvik-tool 1.10 1", p});
  s.say("rpmlink", {"Link operation : (add|remove) [add] "});
  s.say("add", {"RPM is to be installed or un-unstalled? : (inst|uninst) [inst] "});
  s.say("uninst", {"Enter rpm name : [no name] "});
  s.say("tarvik-e*", {op});
  s.say("IS", {"Enter rpm version : [no version] "});
  s.say("", {"Enter rpm release : [no release] "});
  s.say("", {"Profile name to link to : "});
  s.say("Lab profile", {extra + " Adding rpm : tarvik-extra 2.0 3", p});
  s.say("cat Lab profile",
        {"Object : Lab profile", "  objectID : {ID}", "  objectclass : orvantaprofile",
         "  displayname : Lab profile", "  objectname : cn=Lab profile,ou=Profiles,o=orvanta",
         "  cn : Lab profile", "  orvantauuidlist : " + tool110,
         "  orvantauuidremovelist : " + extra, p});
  s.say("getrpmdetails", {"Enter rpm uuid : [blank to quit] "});
  s.say(tool110, {"Enter rpm uuid : [blank to quit] "});
  s.say(extra, {"Enter rpm uuid : [blank to quit] "});
  s.say(tool19, {"Enter rpm uuid : [blank to quit] "});
  s.say("", {"tarvik-tool 1.9 1", "tarvik-tool 1.10 1", "tarvik-extra 2.0 3",
             "Total RPMs found : 3", p});

  // The reported inventories, searched below ou=Lab.
  s.say("cd ..", {"orvanta : "});
  s.say("cd Workstations", {"Workstations : "});
  s.say("cd Lab", {"Lab : "});
  const std::string lab1 = "Computer : lab-pc1-00:16:3e:00:00:01";
  const std::string lab2 = "Computer : lab-pc2-00:16:3e:00:00:02";
  struct Case {
    std::string have;
    std::string name;
    std::string version;
    std::string versionOp;
    std::vector<std::string> found;
  };
  const Case cases[] = {
      {"", "tarvik-tool", "1.9", "GT", {lab2}},
      {"not", "tarvik-tool", "1.9", "GT", {lab1}},
      {"", "tarvik-tool", "1.10", "LT", {}},
      {"", "bash", "", "", {lab1}},
  };
  for (const Case& c : cases) {
    s.say("searchcomputers", {"Search for computers that have or not : (have|not) [have] "});
    s.say(c.have, {"Search Hardware or Software : (HW|SW) [SW] "});
    s.say("SW", {"Enter rpm name : [no name] "});
    s.say(c.name, {op});
    s.say("", {"Enter rpm version : [no version] "});
    if (!c.version.empty()) {
      s.say(c.version, {op});
    }
    s.say(c.versionOp, {"Enter rpm release : [no release] "});
    std::vector<std::string> found = c.found;
    found.push_back("Lab : ");
    s.say("", found);
  }
  s.say("searchcomputers", {"Search for computers that have or not : (have|not) [have] "});
  s.say("", {"Search Hardware or Software : (HW|SW) [SW] "});
  s.say("HW", {"Enter Model : "});
  s.say("Console Test Box 8", {op});
  s.say("LT", {lab2, "Lab : "});  // 7 < 8 < 12 as versions compare
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
