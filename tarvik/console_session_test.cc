// The console's login, navigation, listing rules, dispatch and completion, on a real terminal
// against a real directory.
#include <netdb.h>
#include <unistd.h>

#include <array>

#include "tarvik/login.h"
#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

using nvo_test::SlapdServer;

const std::vector<std::string> kHelp{"*** TARVIK commands ********************************",
                                     "cat                 help                quit           ",
                                     "cd                  link                readprinter    ",
                                     "create              locate              resolve        ",
                                     "delete              ls                  search         ",
                                     "getrpmdetails       modify              searchcomputers",
                                     "rename              move                rpmlink"};

// The local host's canonical name, found here through getaddrinfo, independently of the
// console's own lookup.
std::string canonicalHostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) {
    return tarvik::kPlaceholderHostName;
  }
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.data(), nullptr, &hints, &found) != 0) {
    return tarvik::kPlaceholderHostName;
  }
  std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : name.data();
  freeaddrinfo(found);
  return canonical;
}

// The login dialogue runs when the library has no session file; typed values that XML would
// take as markup reach the directory unchanged; a wrong password is refused.
TEST_F(ConsoleTest, LoginDialogueEscapesTypedValuesAndRefusesAWrongPassword) {
  const std::string password = "p&ss<w>rd\"'";
  ASSERT_EQ(server().ldapPasswd(SlapdServer::admin(), SlapdServer::kAdminDn, password).exitCode, 0);
  const std::string host = canonicalHostName();
  for (const std::string& typed : {password, std::string("wrong")}) {
    auto terminal = startConsole(false);
    ScriptedSession s(*terminal);
    s.expect({"NVO Repository URL: [LDAP://" + host + ":389] : "});
    s.say(server().uri(), {"User DN [cn=admin," + tarvik::defaultOrganisation(host) + "] : "});
    s.say(SlapdServer::kAdminDn, {"Enter password: "});
    s.answerUnseen(typed);
    s.expect({"Object Name [cn=admin,o=orvanta] : "});
    if (typed == password) {
      s.say("", {"NVO Debugging Tool ", "Top : "});
      s.say("q", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
    } else {
      s.say("", {"Invalid credentials, Unable to authenticate!", "[exit 0]"});
    }
  }
}

class NavigationTest : public ConsoleTest {
 protected:
  // Two children with the same display name: the later in the directory's answer wins. slapd's
  // mdb answers a one-level search in the order of the children's RDNs (shorter first, then
  // byte-wise), so cn=Twin comes before ou=Twin.
  NavigationTest() {
    extraLdif_ =
        "dn: ou=Twin,o=orvanta\nobjectClass: organizationalUnit\nou: Twin\n\n"
        "dn: cn=Twin,o=orvanta\nobjectClass: orvantaaction\ncn: Twin\n";
  }
};

TEST_F(NavigationTest, SessionFileSkipsTheDialogueAndCdWalksTheTree) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("ls", {"  orvanta", "Top : "});
  s.say("cd ..", {"At root", "Top : "});
  s.say("cd /", {"At root", "Top : "});
  s.say("cd nowhere", {"Top : "});
  s.say("cd", {"Top : "});
  for (const char* unknown : {"ls foo", "ls ", "quit ", "help me", "searchcomputer", "Q"}) {
    s.say(unknown, {std::string("ERROR : Unknown command ") + unknown, "Top : "});
  }
  s.say("", {"Top : "});
  std::vector<std::string> help = kHelp;
  help.push_back("Top : ");
  s.say("help", help);
  s.say("cd orvanta", {"orvanta : "});
  s.say("ls",
        {"  Actions", "  Groups", "  Policies", "  Printers", "  Profiles", "  SoftwareRepository",
         "  Twin", "  Workstations", "  admin", "  administrators", "orvanta : "});
  s.say("cat Twin",
        {"Object : Twin", "  objectID : {ID}", "  objectclass : organizationalunit",
         "  displayname : Twin", "  objectname : ou=Twin,o=orvanta", "  ou : Twin", "orvanta : "});
  s.say("cd Workstations", {"Workstations : "});
  s.say("cd Lab", {"Lab : "});
  s.say("ls", {"  lab-pc1-00:16:3e:00:00:01", "  lab-pc2-00:16:3e:00:00:02", "Lab : "});
  const std::string pc1 = "lab-pc1-00:16:3e:00:00:01";
  s.say("cd " + pc1, {pc1 + " : "});
  s.say("ls", {"  bash", "  openssl", pc1 + " : "});
  s.say("cat bash", {"Object : bash", "  objectID : {ID}",
                     "  objectclass : orvantainstalledpackage", "  displayname : bash",
                     "  objectname : cn=bash,cn=" + pc1 + ",ou=Lab,ou=Workstations,o=orvanta",
                     "  cn : bash", "  orvantaname : bash", "  orvantaversion : 5.2.15",
                     "  orvantarelease : 2+b2", "  orvantaarch : amd64", pc1 + " : "});
  s.say("cat openssh", {pc1 + " : "});
  s.say("cd ...", {"Workstations : "});
  s.say("cd ....", {"Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Groups", {"Groups : "});
  s.say("cat Lab machines",
        {"Object : Lab machines", "  objectID : {ID}", "  objectclass : orvantacomputergroup",
         "  displayname : Lab machines", "  objectname : cn=Lab machines,ou=Groups,o=orvanta",
         "  cn : Lab machines", "  member : cn=" + pc1 + ",ou=Lab,ou=Workstations,o=orvanta",
         "                  displayname : " + pc1,
         "                  objectname  : cn=" + pc1 + ",ou=Lab,ou=Workstations,o=orvanta",
         "  member : cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta",
         "                  displayname : lab-pc2-00:16:3e:00:00:02",
         "                  objectname  : cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,"
         "o=orvanta",
         "  orvantalink : cn=Lab printer,ou=Printers,o=orvanta",
         "                  displayname : Lab printer",
         "                  objectname  : cn=Lab printer,ou=Printers,o=orvanta", "Groups : "});
  s.say("cd /", {"Top : "});
  s.say("cat .", {"Error : 1003", "Msg   : missing element objectID", "Top : "});
  // End of input at the command prompt ends the console as quit does.
  s.terminal().press("C-d");
  s.expect({"Disconnecting from nvod (endSession) ...", "[exit 0]"});
  // The help lines keep their blanks to the column's end.
  const std::vector<std::string> exact = terminal->lines(true);
  auto first = std::find(exact.begin(), exact.end(), kHelp.front());
  ASSERT_NE(first, exact.end());
  EXPECT_EQ(std::vector<std::string>(first, first + static_cast<long>(kHelp.size())), kHelp);
}

TEST_F(ConsoleTest, TabCompletesCommandNamesAndListedNames) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  terminal->type("he");
  terminal->press("Tab");
  s.shows("help");
  std::vector<std::string> help = kHelp;
  help.push_back("Top : ");
  s.enter(help);
  terminal->type("cd o");
  terminal->press("Tab");
  s.shows("cd orvanta");
  s.enter({"orvanta : "});
  // Several names: the list below the line, then the line again.
  terminal->type("cd P");
  terminal->press("Tab");
  s.shows("cd P");
  s.expect({"Policies  Printers  Profiles", "orvanta : cd P"});
  terminal->type("ri");
  terminal->press("Tab");
  s.shows("rinters");
  s.enter({"Printers : "});
  // A name with a blank is completed whole.
  terminal->type("cat Lab");
  terminal->press("Tab");
  s.shows("cat Lab printer");
  s.enter({"Object : Lab printer", "  objectID : {ID}", "  objectclass : orvantaprinter",
           "  displayname : Lab printer", "  objectname : cn=Lab printer,ou=Printers,o=orvanta",
           "  cn : Lab printer", "  orvantaprinteruri : ipp://printer-lab.example.org/ipp/print",
           "  orvantaprinterlocation : Lab, room 101", "Printers : "});
  terminal->type("mod");
  terminal->press("Tab");
  terminal->type("Off");
  terminal->press("Tab");
  s.shows("modify Office printer");
  s.enter({"What attribute do you want to modify? "});
  terminal->press("C-d");
  s.expect({"How do you want to modify it? (add/delete/replace) [add] "});
  s.say("", {"Enter values (blank to end value input) : "});
  s.say("", {"Do you want to modify another attribute? (yes/no) [no] "});
  s.say("", {"Printers : "});
  s.say("q", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
