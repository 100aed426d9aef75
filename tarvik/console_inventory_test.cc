// rpmlink, getrpmdetails and searchcomputers on a real terminal against a real directory that
// the real tools filled: the repository's packages (imported by nvo-rpm-import) put on and
// taken off a profile's install and remove lists (read back with cat), their details by UUID,
// and computers found by installed package versions (reported by nvo-inventory; in
// package-version order) and by hardware model, with and without "not".
#include <sstream>

#include "tarvik/testing/console_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/daemon_process.h"
#include "tests/support/scratch_dir.h"

namespace tarvik_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kLinkOperation = "Link operation : (add|remove) [add] ";
const std::string kInstall = "RPM is to be installed or un-unstalled? : (inst|uninst) [inst] ";
const std::string kName = "Enter rpm name : [no name] ";
const std::string kVersion = "Enter rpm version : [no version] ";
const std::string kRelease = "Enter rpm release : [no release] ";
const std::string kOperator = "Enter operation : (EQ|LT|GT|IS) [EQ] ";
const std::string kProfile = "Profile name to link to : ";

// Packages of the demo repository.
const std::string kOffice = "f25e7e4c-a2f1-449b-b461-e05c695e026e";
const std::string kVpn = "6bd4faf4-27a8-4a53-b296-30064bb3be16";

const char kPc1[] = "cn=lab-pc1-00:16:3e:00:00:01,ou=Lab,ou=Workstations,o=orvanta";
const char kPc2[] = "cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta";
const char kRpmbuild[] = "/usr/bin/rpmbuild";
const char kDpkgStatus[] = "/var/lib/dpkg/status";

using Conditions = std::vector<std::pair<std::string, std::string>>;

// Answers the three RPM condition questions with (value, operator) pairs, an empty value asking
// no operator; the screen then continues with `after`.
void answerConditions(ScriptedSession& s, const Conditions& conditions,
                      const std::vector<std::string>& after) {
  const std::vector<std::string> next{kVersion, kRelease};
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    const auto& [value, op] = conditions[i];
    const std::vector<std::string> lines =
        i + 1 == conditions.size() ? after : std::vector<std::string>{next[i]};
    if (value.empty()) {
      s.say("", lines);
    } else {
      s.say(value, {kOperator});
      s.say(op, lines);
    }
  }
}

// One rpmlink dialogue up to the profile question.
void rpmlink(ScriptedSession& s, const std::string& operation, const std::string& list,
             const Conditions& conditions) {
  s.say("rpmlink", {kLinkOperation});
  s.say(operation, {kInstall});
  s.say(list, {kName});
  answerConditions(s, conditions, {kProfile});
}

const std::string kHaveOrNot = "Search for computers that have or not : (have|not) [have] ";
const std::string kKind = "Search Hardware or Software : (HW|SW) [SW] ";

// Lines `a`, then the line `b`.
std::vector<std::string> operator+(std::vector<std::string> a, const std::string& b) {
  a.push_back(b);
  return a;
}

// searchcomputers for software: the computers `found`, then the command prompt `prompt`.
void searchSoftware(ScriptedSession& s, const std::string& have, const Conditions& conditions,
                    const std::vector<std::string>& found, const std::string& prompt) {
  s.say("searchcomputers", {kHaveOrNot});
  s.say(have, {kKind});
  s.say("", {kName});
  answerConditions(s, conditions, found + prompt);
}

// searchcomputers for hardware (`hw`: the answer to the kind question).
void searchHardware(ScriptedSession& s, const std::string& have, const std::string& hw,
                    const std::pair<std::string, std::string>& model,
                    const std::vector<std::string>& found, const std::string& prompt) {
  s.say("searchcomputers", {kHaveOrNot});
  s.say(have, {kKind});
  s.say(hw, {"Enter Model : "});
  s.say(model.first, {kOperator});
  s.say(model.second, found + prompt);
}

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
  const std::vector<std::string> imported =
      runTool("nvo-rpm-import",
              {"-a", adminSession(), makePackage("tarvik-tool", "1.9", "1"),
               makePackage("tarvik-tool", "1.10", "1"), makePackage("tarvik-extra", "2.0", "3")});
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
  EXPECT_EQ(
      runTool("nvo-inventory", {"-a", sessionOf(kPc2, "pc2-secret"), "--dpkg-status", status,
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
  // tarvik-tool above 1.9 onto the install list, tarvik-extra onto the remove list; any list
  // answer but "uninst" is the install list: versions above 2.0 (7.4, 2.1; not 2.0 itself).
  rpmlink(s, "", "inst", {{"tarvik-tool", ""}, {"1.9", "GT"}, {"", ""}});
  s.say("Lab profile", {tool110 + " Adding rpm : tarvik-tool 1.10 1", p});
  rpmlink(s, "add", "uninst", {{"tarvik-e*", "IS"}, {"", ""}, {"", ""}});
  s.say("Lab profile", {extra + " Adding rpm : tarvik-extra 2.0 3", p});
  rpmlink(s, "", "install", {{"", ""}, {"2.0", "GT"}, {"", ""}});
  s.say("Lab profile",
        {kOffice + " Adding rpm : office-suite 7.4 3", kVpn + " Adding rpm : vpn-keys 2.1 1", p});
  const std::vector<std::string> catHead{"Object : Lab profile",
                                         "  objectID : {ID}",
                                         "  objectclass : orvantaprofile",
                                         "  displayname : Lab profile",
                                         "  objectname : cn=Lab profile,ou=Profiles,o=orvanta",
                                         "  cn : Lab profile",
                                         "  orvantauuidlist : " + tool110,
                                         "  orvantauuidlist : " + kOffice};
  s.say("cat Lab profile",
        catHead + ("  orvantauuidlist : " + kVpn) + ("  orvantauuidremovelist : " + extra) + p);
  // "remove" takes them off again.
  rpmlink(s, "remove", "", {{"vpn-keys", "EQ"}, {"2.1", ""}, {"1", ""}});
  s.say("Lab profile", {kVpn + " Removing rpm : vpn-keys 2.1 1", p});
  rpmlink(s, "remove", "uninst", {{"tarvik-extra", ""}, {"", ""}, {"", ""}});
  s.say("Lab profile", {extra + " Removing rpm : tarvik-extra 2.0 3", p});
  s.say("cat Lab profile", catHead + p);
  // No match sends a modification without attributes; typed markup is sent as typed and the
  // gateway's refusal of the search ends the command; an unknown profile ends before the search;
  // the gateway refuses an unknown operator.
  rpmlink(s, "", "", {{"no-such-package", ""}, {"", ""}, {"", ""}});
  s.say("Lab profile", {p});
  rpmlink(s, "", "", {{"a<b&c", ""}, {"", ""}, {"", ""}});
  s.say("Lab profile", {"Error : 1000",
                        "Msg   : the command document is not usable: XML parse error at line 1, "
                        "column 322: attribute name expected",
                        p});
  rpmlink(s, "", "", {{"", ""}, {"", ""}, {"", ""}});
  s.say("No profile", {"Object could not be found : No profile", p});
  rpmlink(s, "", "", {{"tarvik-tool", "LIKE"}, {"", ""}, {"", ""}});
  s.say("Lab profile", {"Error : 1007", "Msg   : unknown operator LIKE", p});
  s.say("cat Lab profile", catHead + p);
  // End of input at a condition question ends the command without sending.
  s.say("rpmlink", {kLinkOperation});
  s.say("", {kInstall});
  s.say("", {kName});
  terminal->press("C-d");
  s.shows("ERROR: Unable to read answer!");
  s.expect({p});

  // getrpmdetails: the UUIDs typed, an unknown one, none at all, end of input.
  const std::string uuid = "Enter rpm uuid : [blank to quit] ";
  s.say("getrpmdetails", {uuid});
  s.say(tool110, {uuid});
  s.say(extra, {uuid});
  s.say(tool19, {uuid});
  s.say("", {"tarvik-tool 1.9 1", "tarvik-tool 1.10 1", "tarvik-extra 2.0 3",
             "Total RPMs found : 3", p});
  s.say("getrpmdetails", {uuid});
  s.say("00000000-0000-0000-0000-000000000000", {uuid});
  s.say("", {"Search found no matches.", "Total RPMs found : 0", p});
  s.say("getrpmdetails", {uuid});
  s.say("", {"Search found no matches.", "Total RPMs found : 0", p});
  s.say("getrpmdetails", {uuid});
  s.say(tool19, {uuid});
  terminal->press("C-d");
  s.shows("ERROR: Unable to read answer!");
  s.expect({p});

  // The reported inventories beside the demo's office-pc1 (bash 5.2.15, "Demo Laptop 10").
  s.say("cd ..", {"orvanta : "});
  s.say("cd Workstations", {"Workstations : "});
  const std::string w = "Workstations : ";
  const std::string lab1 = "Computer : lab-pc1-00:16:3e:00:00:01";
  const std::string lab2 = "Computer : lab-pc2-00:16:3e:00:00:02";
  const std::string office1 = "Computer : office-pc1-00:16:3e:00:00:11";
  searchSoftware(s, "", {{"tarvik-tool", ""}, {"1.9", "GT"}, {"", ""}}, {lab2}, w);
  searchSoftware(s, "not", {{"tarvik-tool", ""}, {"1.9", "GT"}, {"", ""}}, {lab1, office1}, w);
  searchSoftware(s, "have", {{"tarvik-tool", ""}, {"1.10", "LT"}, {"1", ""}}, {}, w);
  searchSoftware(s, "", {{"bash", ""}, {"", ""}, {"", ""}}, {lab1, office1}, w);
  // Models as versions compare: 7 < 8 < 12; "Demo" sorts after "Console". Only "SW" is
  // software: "hw" and "x" search the hardware.
  searchHardware(s, "", "HW", {"Console Test Box 8", "LT"}, {lab2}, w);
  searchHardware(s, "", "hw", {"Console Test Box 8", "GT"}, {lab1, office1}, w);
  searchHardware(s, "have", "hw", {"Console*", "IS"}, {lab1, lab2}, w);
  searchHardware(s, "not", "x", {"Console*", "IS"}, {office1}, w);
  searchHardware(s, "", "HW", {"Demo Laptop 10", ""}, {office1}, w);
  s.say("searchcomputers", {kHaveOrNot});
  s.say("", {kKind});
  s.say("HW", {"Enter Model : "});
  s.say("", {"ERROR: How am I supposed to search for that?", w});
  s.say("cd Lab", {"Lab : "});
  searchHardware(s, "not", "HW", {"Console Test Box 12", ""}, {lab2}, "Lab : ");
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
