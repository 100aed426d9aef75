// link, locate, eventlist, readprinter and cache on a real terminal against a real directory
// with the demo data: links made and removed through both lookups, and the linked objects found
// from a computer, through its group and through its containers.
#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

// Lines `a`, then lines `b`.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> kKinds{
    "  1 - action",   "  2 - profile",       "  3 - policy",       "  4 - rpm",
    "  5 - computer", "  6 - computergroup", "  7 - organization", "  8 - organizationalunit"};
const std::vector<std::string> kLinkWhat = kKinds + std::vector<std::string>{"Link what? : "};
const std::vector<std::string> kLinkTo =
    std::vector<std::string>{" "} + kKinds + std::vector<std::string>{"Link to? : "};
const std::string kOperation = "Link operation : (add|remove) [add] ";

// One whole link dialogue: kind and name of both objects, then the operation; `outcome` is what
// follows the operation's answer.
void link(ScriptedSession& s, const std::string& whatKind, const std::string& whatQuestion,
          const std::string& what, const std::string& toKind, const std::string& toQuestion,
          const std::string& to, const std::string& operation,
          const std::vector<std::string>& outcome) {
  s.say("link", kLinkWhat);
  s.say(whatKind, {whatQuestion});
  s.say(what, kLinkTo);
  s.say(toKind, {toQuestion});
  s.say(to, {kOperation});
  s.say(operation, outcome);
}

TEST_F(ConsoleTest, LinksAreMadeAndRemovedAndFoundFromTheComputer) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  const std::string o = "orvanta : ";

  // The menu's edge cases: nothing sent, nothing asked further.
  s.say("link", kLinkWhat);
  s.say("", {o});
  s.say("link", kLinkWhat);
  s.say("9", {"9 is invalid!", o});
  s.say("link", kLinkWhat);
  s.say("4", {"Uh, I'm not gonna do that...", o});
  s.say("link", kLinkWhat);
  s.say("1", {"Action name : "});
  s.say("Nightly inventory", kLinkTo);
  s.say("4", {"Uh, I'm not gonna do that...", o});
  s.say("link", kLinkWhat);
  s.say("3", {"Policy name : "});
  s.say("Office desktop", kLinkTo);
  s.say("12", {"12 is invalid!", o});
  s.say("link", kLinkWhat);
  s.say("2", {"Profile name : "});
  s.say("", kLinkTo);
  s.say("5", {"Computer name : "});
  s.say("lab-pc2-00:16:3e:00:00:02",
        {"It is hard to create links if you don't provide the names chief!", o});
  s.say("link", kLinkWhat);
  s.say("2", {"Profile name : "});
  s.say("No such profile", kLinkTo);
  s.say("5", {"Computer name : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"Object could not be found : No such profile", o});
  s.say("link", kLinkWhat);
  s.say("2", {"Profile name : "});
  s.say("Base desktop", kLinkTo);
  s.say("8", {"organizationalunit name : "});
  s.say("Nowhere", {"Object could not be found : Nowhere", o});

  // "remove" undoes the demo's link of the action to ou=Workstations: the action no longer
  // reaches the computers below it. Removing it again is the directory's error.
  s.say("cd Workstations", {"Workstations : "});
  s.say("cd Lab", {"Lab : "});
  const std::string lab = "Lab : ";
  s.say("locate actions", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"  {ID}", lab});
  const std::string action = s.ids().back();
  link(s, "1", "Action name : ", "Nightly inventory", "8",
       "organizationalunit name : ", "Workstations", "remove", {"Success!", lab});
  s.say("locate actions", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"Nothing found.", lab});
  link(s, "1", "Action name : ", "Nightly inventory", "8",
       "organizationalunit name : ", "Workstations", "remove",
       {"Error : 16", "Msg   : No such attribute: modify/delete: orvantalink: no such attribute",
        lab});
  link(s, "1", "Action name : ", "Nightly inventory", "8",
       "organizationalunit name : ", "Workstations", "unlink",
       {"Error : 1008", "Msg   : linkObjects flags must be add or remove, not unlink", lab});

  // The action linked to the computer itself and to its group, the policy to its container
  // ou=Lab. (Kind 7, an organization found after no unit of that name, is in the cache test.)
  link(s, "1", "Action name : ", "Nightly inventory", "5",
       "Computer name : ", "lab-pc2-00:16:3e:00:00:02", "", {"Success!", lab});
  link(s, "3", "Policy name : ", "Office desktop", "8", "organizationalunit name : ", "Lab", "add",
       {"Success!", lab});
  link(s, "1", "Action name : ", "Nightly inventory", "6", "Group name : ", "Lab machines", "",
       {"Success!", lab});
  s.say("locate actions", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"  {ID}", lab});
  EXPECT_EQ(s.ids().back(), action);
  s.say("locate actions", {"For which object? : "});
  s.say("lab-pc1-00:16:3e:00:00:01", {"  {ID}", lab});  // through the group
  EXPECT_EQ(s.ids().back(), action);
  s.say("eventlist policies", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"  cn=Find printers,ou=Policies,o=orvanta",
                                      "  cn=Office desktop,ou=Policies,o=orvanta", lab});
  s.say("eventlist search", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"  cn=Find printers,ou=Policies,o=orvanta", lab});
  s.say("eventlist profiles", {"For which object? : "});
  s.say("lab-pc1-00:16:3e:00:00:01", {"  cn=Base desktop,ou=Profiles,o=orvanta", lab});
  s.say("locate printers", {"For which object? : "});
  s.say("lab-pc1-00:16:3e:00:00:01", {"  {ID}", lab});
  s.say("locate profiles", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"Nothing found.", lab});
  s.say("eventlist printers", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"  cn=Lab printer,ou=Printers,o=orvanta", lab});

  // Through the container: from ou=Lab seen from ou=Workstations.
  s.say("cd ..", {"Workstations : "});
  const std::string ws = "Workstations : ";
  s.say("eventlist policies", {"For which object? : "});
  s.say("Lab", {"  cn=Find printers,ou=Policies,o=orvanta",
                "  cn=Office desktop,ou=Policies,o=orvanta", ws});
  s.say("eventlist policies", {"For which object? : "});
  s.say("Office", {"  cn=Office desktop,ou=Policies,o=orvanta", ws});
  s.say("locate actions", {"For which object? : "});
  s.say("Office", {"Nothing found.", ws});
  // Usage lines; "search" is eventlist's only; a kind outside the table sends no tags, so the
  // gateway asks for the class.
  s.say("locate", {"USAGE: locate < printers | profiles | actions | policies >", ws});
  s.say("eventlist", {"USAGE: eventlist < printers | profiles | actions | policies >", ws});
  s.say("locate search", {"For which object? : "});
  s.say("Lab", {"Error : 1003", "Msg   : missing element objectclass", ws});
  s.say("eventlist computers", {"For which object? : "});
  s.say("Lab", {"Error : 1003", "Msg   : missing element objectclass", ws});

  // The link to the computer removed again; the policy link to ou=Lab stays.
  s.say("cd Lab", {lab});
  link(s, "1", "Action name : ", "Nightly inventory", "5",
       "Computer name : ", "lab-pc2-00:16:3e:00:00:02", "remove", {"Success!", lab});
  s.say("locate actions", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"  {ID}", lab});  // still through the group
  link(s, "1", "Action name : ", "Nightly inventory", "6", "Group name : ", "Lab machines",
       "remove", {"Success!", lab});
  s.say("locate actions", {"For which object? : "});
  s.say("lab-pc2-00:16:3e:00:00:02", {"Nothing found.", lab});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

// With a policy of type "inventory" for the cache's attribute calls.
class ConsoleCacheTest : public ConsoleTest {
 protected:
  ConsoleCacheTest() {
    extraLdif_ =
        "dn: cn=Inventory,ou=Policies,o=orvanta\n"
        "objectClass: orvantapolicy\n"
        "cn: Inventory\n"
        "orvantapolicytype: inventory\n";
  }
};

TEST_F(ConsoleCacheTest, ReadprinterAndCachePrintWhatTheyGet) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  const std::string top = "Top : ";
  s.say("readprinter", {"USAGE: readPrinter <printername>", top});
  s.say("readprinter Lab printer",
        {" objectID = {ID}", " objectclass = orvantaprinter", " displayname = Lab printer",
         " objectname = cn=Lab printer,ou=Printers,o=orvanta", " cn = Lab printer",
         " orvantaprinteruri = ipp://printer-lab.example.org/ipp/print",
         " orvantaprinterlocation = Lab, room 101", top});
  s.say("readprinter No printer", {"No printers found.", top});
  s.say("readprinter a<b&c",  // sent as typed, like every text-form value
        {"Error : 1000",
         "Msg   : the command document is not usable: XML parse error at line 1, column 97: "
         "attribute name expected",
         top});

  // The cache holds the objects linked to the session's own object (the administrator, below
  // o=orvanta): nothing yet, then the two policies linked to the organization.
  s.say("cache", {"USAGE: cache <objectclass>", top});
  s.say("cache orvantapolicy", {"For which object? : "});
  s.say("orvanta",
        {"AddToCache Event : <commandResult/>", "AddToCacheWithAttribute Event : <commandResult/>",
         "ReadCache Value : <commandResult/>", "ReadCacheWithAttribute value : <commandResult/>",
         top});
  for (const char* policy : {"Inventory", "Office desktop"}) {
    link(s, "3", "Policy name : ", policy, "7", "organization name : ", "orvanta", "",
         {"Success!", top});
  }
  s.say("cache orvantapolicy", {"For which object? : "});
  const std::string inventory =
      "<object><objectID>{ID}</objectID><objectclass>orvantapolicy</objectclass>"
      "<displayname>Inventory</displayname><objectname>cn=Inventory,ou=Policies,o=orvanta"
      "</objectname><cn>Inventory</cn><orvantapolicytype>inventory</orvantapolicytype></object>";
  const std::string both =
      "<commandResult>" + inventory +
      "<object><objectID>{ID}</objectID><objectclass>orvantapolicy</objectclass>"
      "<displayname>Office desktop</displayname><objectname>cn=Office desktop,ou=Policies,"
      "o=orvanta</objectname><cn>Office desktop</cn><orvantapolicytype>desktop"
      "</orvantapolicytype><orvantaxml>&lt;?xml version=&apos;1.0&apos; encoding=&apos;UTF-8"
      "&apos;?&gt;&lt;desktop&gt;&lt;wallpaper&gt;office.png&lt;/wallpaper&gt;&lt;/desktop&gt;"
      "</orvantaxml></object></commandResult>";
  const std::string typed =
      "<commandResult><objectname>cn=Inventory,ou=Policies,o=orvanta"
      "</objectname>" +
      inventory + "</commandResult>";
  s.say("", {"AddToCache Event : " + both, "AddToCacheWithAttribute Event : " + typed,
             "ReadCache Value : " + both, "ReadCacheWithAttribute value : " + typed, top});
  // A class the gateway refuses: both calls for it fail; the attribute calls do not.
  s.say("cache no class", {"For which object? : "});
  s.say("", {"AddToCache perhaps failed, returned NULL", "AddToCacheWithAttribute Event : " + typed,
             "ReadCache perhaps failed, returned NULL", "ReadCacheWithAttribute value : " + typed,
             top});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
