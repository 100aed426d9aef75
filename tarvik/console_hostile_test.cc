// Hostile text on both sides of the console, on a real terminal against a real directory:
// values typed with filter, DN and markup characters change only the object they name, as
// literal text; a schedule stored by someone who may write an action neither adds lines to
// cat's output nor reaches the terminal as control sequences.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

using Snapshot = std::map<std::string, std::map<std::string, std::vector<std::string>>>;

Snapshot snapshot(const nvo_test::SlapdServer& server) {
  Snapshot entries;
  for (const nvo_test::Entry& e : server.searchSubtree("o=orvanta")) {
    entries[e.dn] = e.attributes;
  }
  return entries;
}

class ConsoleHostileTest : public ConsoleTest {
 protected:
  // An action whose stored schedule holds a line break with a copy of a label after it, a
  // carriage return and a tab, as character references (the document's own text).
  ConsoleHostileTest() {
    extraLdif_ =
        "dn: cn=Hostile,ou=Actions,o=orvanta\nobjectClass: orvantaaction\ncn: Hostile\n"
        "orvantaschedule: <orvantaschedule><scheduletype>never&#10;    Schedule Type      : "
        "always</scheduletype><eventname>boot&#13;&#9;</eventname></orvantaschedule>\n";
  }
};

TEST_F(ConsoleHostileTest, TypedAndStoredTextChangeAndShowOnlyWhatTheyAre) {
  const Snapshot before = snapshot(server());
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Actions", {"Actions : "});
  s.say("cat Hostile",
        {"Object : Hostile", "  objectID : {ID}", "  objectclass : orvantaaction",
         "  displayname : Hostile", "  objectname : cn=Hostile,ou=Actions,o=orvanta",
         "  cn : Hostile", "  orvantaschedule",
         "    Schedule Type      : never\\x0a    Schedule Type      : always",
         "    Event Name         : boot\\x0d\\x09", "Actions : "});
  s.say("cd ..", {"orvanta : "});
  s.say("cd Printers", {"Printers : "});
  const std::string p = "Printers : ";

  // Names holding DN and filter characters are one RDN each, below the current container.
  const std::vector<std::string> names = {"P1,ou=Lab+cn=x", "*)(cn=*", "#P3\\"};
  for (const std::string& name : names) {
    s.say("create orvantaprinter", {"Enter object name : "});
    s.say(name, {"Add more attributes (yes/no) [yes] : "});
    s.say("no", {"Create object with ID : {ID}", p});
  }
  s.say("ls", {"  #P3\\", "  *)(cn=*", "  Lab printer", "  Office printer", "  P1,ou=Lab+cn=x", p});
  // A value with filter and markup characters is stored as typed.
  const std::string value = "x)(cn=*</attribute><attribute name=\"cn\">y";
  s.say("modify *)(cn=*", {"What attribute do you want to modify? "});
  s.say("description", {"How do you want to modify it? (add/delete/replace) [add] "});
  s.say("replace", {"Enter values (blank to end value input) : "});
  s.say(value, {"Enter values (blank to end value input) : "});
  s.say("", {"Do you want to modify another attribute? (yes/no) [no] "});
  s.say("no", {p});
  // A search value with filter characters matches that text only.
  for (const std::string& sought : {std::string("*"), std::string("Lab printer)(cn=*")}) {
    s.say("search orvantaprinter", {"Add attribute to be returned? (yes/no) [no] : "});
    s.say("", {"Add search attribute (yes/no) [no] : "});
    s.say("yes", {"Enter attribute name : "});
    s.say("cn", {"Enter attribute value : "});
    s.say(sought, {"Enter operation : (EQ|LT|GT) [EQ] "});
    s.say("", {"Add search attribute (yes/no) [no] : "});
    s.say("", {"<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" "
               "name=\"searchObjects\"><includeobjectclass>orvantaprinter</includeobjectclass>"
               "<searchParams><cn op=\"EQ\">" +
                   sought + "</cn></searchParams></command>",
               "Search found no matches.", p});
  }
  // A name typed for resolve that is no DN of the directory resolves to nothing.
  s.say("resolve cn=*,ou=Printers,o=orvanta", {"ObjectID is : ", p});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});

  // The directory holds exactly what was typed: three new printers named as typed, below
  // ou=Printers, one with the typed description; nothing else changed.
  const Snapshot after = snapshot(server());
  std::set<std::string> added;
  for (const auto& [dn, attributes] : after) {
    auto old = before.find(dn);
    if (old == before.end()) {
      added.insert(attributes.at("cn").at(0));
      EXPECT_TRUE(dn.ends_with(",ou=Printers,o=orvanta")) << dn;
      EXPECT_EQ(attributes.at("cn").size(), 1u) << dn;
      const bool described = attributes.at("cn").at(0) == "*)(cn=*";
      EXPECT_EQ(attributes.count("description"), described ? 1u : 0u) << dn;
      if (described) {
        EXPECT_EQ(attributes.at("description"), std::vector<std::string>{value});
      }
    } else {
      EXPECT_EQ(attributes, old->second) << dn;
    }
  }
  EXPECT_EQ(after.size(), before.size() + names.size());
  EXPECT_EQ(added, std::set<std::string>(names.begin(), names.end()));
}

}  // namespace
}  // namespace tarvik_test
