// rpmlink, getrpmdetails and searchcomputers on a real terminal against a real directory: the
// repository's packages put on and taken off a profile's install and remove lists (read back
// with cat), their details by UUID, and computers found by installed package versions (in
// package-version order) and by hardware model, with and without "not".
#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

const std::string kLinkOperation = "Link operation : (add|remove) [add] ";
const std::string kInstall = "RPM is to be installed or un-unstalled? : (inst|uninst) [inst] ";
const std::string kName = "Enter rpm name : [no name] ";
const std::string kVersion = "Enter rpm version : [no version] ";
const std::string kRelease = "Enter rpm release : [no release] ";
const std::string kOperator = "Enter operation : (EQ|LT|GT|IS) [EQ] ";
const std::string kProfile = "Profile name to link to : ";

// The demo repository's packages.
const std::string kAgent = "17198c38-dea7-430b-9819-c4f62114a7da";
const std::string kOffice = "f25e7e4c-a2f1-449b-b461-e05c695e026e";
const std::string kLegacy = "0bd1b2b4-1f0e-406b-baac-89757964502b";
const std::string kVpn = "6bd4faf4-27a8-4a53-b296-30064bb3be16";

class ConsoleInventoryTest : public ConsoleTest {
 protected:
  ConsoleInventoryTest() {
    extraLdif_ =
        "dn: cn=Lab profile,ou=Profiles,o=orvanta\n"
        "objectClass: orvantaprofile\n"
        "cn: Lab profile\n";
  }
};

// One rpmlink dialogue up to the profile question: operation, list, then the three conditions
// as (value, operator) pairs; an empty value asks no operator.
void rpmlink(ScriptedSession& s, const std::string& operation, const std::string& list,
             const std::vector<std::pair<std::string, std::string>>& conditions) {
  s.say("rpmlink", {kLinkOperation});
  s.say(operation, {kInstall});
  s.say(list, {kName});
  const std::vector<std::string> next{kVersion, kRelease, kProfile};
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    const auto& [value, op] = conditions[i];
    if (value.empty()) {
      s.say("", {next[i]});
    } else {
      s.say(value, {kOperator});
      s.say(op, {next[i]});
    }
  }
}

TEST_F(ConsoleInventoryTest, RpmlinkFillsTheProfileListsAndGetrpmdetailsReadsThem) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Profiles", {"Profiles : "});
  const std::string p = "Profiles : ";

  // Versions above 1.0 in package-version order (1.0.2, 2.1, 7.4; not 0.9), onto the install
  // list; the release "3" on the remove list.
  rpmlink(s, "", "", {{"", ""}, {"1.0", "GT"}, {"", ""}});
  s.say("Lab profile",
        {kAgent + " Adding rpm : nvo-agent 1.0.2 1", kOffice + " Adding rpm : office-suite 7.4 3",
         kVpn + " Adding rpm : vpn-keys 2.1 1", p});
  rpmlink(s, "add", "uninst", {{"legacy*", "IS"}, {"", ""}, {"", ""}});
  s.say("Lab profile", {kLegacy + " Adding rpm : legacy-viewer 0.9 12", p});
  s.say("cat Lab profile",
        {"Object : Lab profile", "  objectID : {ID}", "  objectclass : orvantaprofile",
         "  displayname : Lab profile", "  objectname : cn=Lab profile,ou=Profiles,o=orvanta",
         "  cn : Lab profile", "  orvantauuidlist : " + kAgent, "  orvantauuidlist : " + kOffice,
         "  orvantauuidlist : " + kVpn, "  orvantauuidremovelist : " + kLegacy, p});
  // Taken off the install list again: any list answer but "uninst" is the install list.
  rpmlink(s, "remove", "install", {{"vpn-keys", ""}, {"2.1", "EQ"}, {"1", ""}});
  s.say("Lab profile", {kVpn + " Removing rpm : vpn-keys 2.1 1", p});
  // Versions below 1.0.2: only 0.9 (1.0.2 itself is not below).
  rpmlink(s, "remove", "uninst", {{"", ""}, {"1.0.2", "LT"}, {"", ""}});
  s.say("Lab profile", {kLegacy + " Removing rpm : legacy-viewer 0.9 12", p});
  s.say(
      "cat Lab profile",
      {"Object : Lab profile", "  objectID : {ID}", "  objectclass : orvantaprofile",
       "  displayname : Lab profile", "  objectname : cn=Lab profile,ou=Profiles,o=orvanta",
       "  cn : Lab profile", "  orvantauuidlist : " + kAgent, "  orvantauuidlist : " + kOffice, p});
  // No package matches: the modification is sent without attributes and changes nothing. An
  // unknown profile ends before the search; a value with markup is searched for as typed.
  rpmlink(s, "", "", {{"no-such-package", ""}, {"", ""}, {"", ""}});
  s.say("Lab profile", {p});
  rpmlink(s, "", "", {{"a<b&c", ""}, {"", ""}, {"", ""}});
  s.say("Lab profile", {p});
  rpmlink(s, "", "", {{"", ""}, {"", ""}, {"", ""}});
  s.say("No profile", {"Object could not be found : No profile", p});
  rpmlink(s, "", "", {{"nvo-agent", "LIKE"}, {"", ""}, {"", ""}});
  s.say("Lab profile", {"Error : 1007", "Msg   : unknown operator LIKE", p});
  // End of input at a condition question ends the command without sending.
  s.say("rpmlink", {kLinkOperation});
  s.say("", {kInstall});
  s.say("", {kName});
  terminal->press("C-d");
  s.shows("ERROR: Unable to read answer!");
  s.expect({p});

  // getrpmdetails: the UUIDs typed, an unknown one, none at all.
  const std::string uuid = "Enter rpm uuid : [blank to quit] ";
  s.say("getrpmdetails", {uuid});
  s.say(kAgent, {uuid});
  s.say(kOffice, {uuid});
  s.say(kVpn, {uuid});
  s.say("",
        {"nvo-agent 1.0.2 1", "office-suite 7.4 3", "vpn-keys 2.1 1", "Total RPMs found : 3", p});
  s.say("getrpmdetails", {uuid});
  s.say("00000000-0000-0000-0000-000000000000", {uuid});
  s.say("", {"Search found no matches.", "Total RPMs found : 0", p});
  s.say("getrpmdetails", {uuid});
  s.say("", {"Search found no matches.", "Total RPMs found : 0", p});
  s.say("getrpmdetails", {uuid});
  s.say(kLegacy, {uuid});
  terminal->press("C-d");
  s.shows("ERROR: Unable to read answer!");
  s.expect({p});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

TEST_F(ConsoleInventoryTest, SearchcomputersBySoftwareAndHardware) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Workstations", {"Workstations : "});
  const std::string w = "Workstations : ";
  const std::string haveOrNot = "Search for computers that have or not : (have|not) [have] ";
  const std::string kind = "Search Hardware or Software : (HW|SW) [SW] ";
  const std::string lab1 = "Computer : lab-pc1-00:16:3e:00:00:01";
  const std::string lab2 = "Computer : lab-pc2-00:16:3e:00:00:02";
  const std::string office1 = "Computer : office-pc1-00:16:3e:00:00:11";

  struct Software {
    std::string have;
    std::vector<std::pair<std::string, std::string>> conditions;  // name, version, release
    std::vector<std::string> found;
  };
  const Software software[] = {
      // bash 5.2.15 (lab-pc1, office-pc1) and 5.1 (lab-pc2), by package-version order.
      {"", {{"bash", ""}, {"5.2", "GT"}, {"", ""}}, {lab1, office1}},
      {"have", {{"bash", ""}, {"5.2", "LT"}, {"", ""}}, {lab2}},
      {"not", {{"bash", "EQ"}, {"5.2", "GT"}, {"", ""}}, {lab2}},
      {"", {{"openssl", ""}, {"", ""}, {"1~deb12u2", ""}}, {lab1}},
      {"not", {{"openssl", ""}, {"", ""}, {"", ""}}, {lab2, office1}},
      {"", {{"zsh", ""}, {"", ""}, {"", ""}}, {}},
  };
  for (const Software& c : software) {
    s.say("searchcomputers", {haveOrNot});
    s.say(c.have, {kind});
    s.say("", {kName});
    const std::vector<std::string> next{kVersion, kRelease};
    for (std::size_t i = 0; i < c.conditions.size(); ++i) {
      const auto& [value, op] = c.conditions[i];
      const bool last = i + 1 == c.conditions.size();
      std::vector<std::string> after = last ? c.found : std::vector<std::string>{next[i]};
      if (last) {
        after.push_back(w);
      }
      if (value.empty()) {
        s.say("", after);
      } else {
        s.say(value, {kOperator});
        s.say(op, after);
      }
    }
  }

  struct Hardware {
    std::string have;
    std::string hw;
    std::string model;
    std::string op;
    std::vector<std::string> found;
  };
  const Hardware hardware[] = {
      {"", "HW", "Demo Workstation 100", "", {lab1}},
      {"have", "hw", "Demo Workstation*", "IS", {lab1, lab2}},  // only "SW" is software
      {"not", "x", "Demo Workstation*", "IS", {office1}},
      // As versions compare: "Workstation" sorts after "Laptop", and 10 > 9 but 10 < 11.
      {"", "HW", "Demo Laptop 9", "GT", {lab1, lab2, office1}},
      {"", "HW", "Demo Laptop 11", "LT", {office1}},
      {"", "HW", "Demo Laptop", "", {}},
  };
  for (const Hardware& c : hardware) {
    s.say("searchcomputers", {haveOrNot});
    s.say(c.have, {kind});
    s.say(c.hw, {"Enter Model : "});
    s.say(c.model, {kOperator});
    std::vector<std::string> found = c.found;
    found.push_back(w);
    s.say(c.op, found);
  }
  s.say("searchcomputers", {haveOrNot});
  s.say("", {kind});
  s.say("HW", {"Enter Model : "});
  s.say("", {"ERROR: How am I supposed to search for that?", w});
  // Below ou=Lab only.
  s.say("cd Lab", {"Lab : "});
  s.say("searchcomputers", {haveOrNot});
  s.say("not", {kind});
  s.say("HW", {"Enter Model : "});
  s.say("Demo Workstation 100", {kOperator});
  s.say("", {lab2, "Lab : "});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
