// The object commands on a real terminal against a real directory: create, cat, modify,
// rename, move, resolve, search and delete, with their confirmations, the errors the directory
// answers, and the objectID that survives a rename and a move.
#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

TEST_F(ConsoleTest, ObjectCommandsChangeTheDirectory) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Printers", {"Printers : "});
  const std::string p = "Printers : ";
  for (const char* usage : {"cat", "create", "delete", "modify", "resolve", "search"}) {
    s.say(usage,
          {std::string("USAGE: ") + usage +
               (std::string(usage) == "delete" || std::string(usage) == "modify" ? " <objectName>"
                : std::string(usage) == "create" || std::string(usage) == "search"
                    ? " <object class>"
                    : " <object name>"),
           p});
  }
  // create: an empty answer to "more attributes" asks for one; the directory's own errors.
  s.say("create orvantaprinter", {"Enter object name : "});
  s.say("P3", {"Add more attributes (yes/no) [yes] : "});
  s.say("", {"Enter attribute name : "});
  s.say("orvantaprinterlocation", {"Enter attribute value : "});
  s.say("Hall", {"Add more attributes (yes/no) [yes] : "});
  s.say("no", {"Create object with ID : {ID}", p});
  const std::string created = s.ids().back();
  s.say("create orvantaprinter", {"Enter object name : "});
  s.say("Lab printer", {"Add more attributes (yes/no) [yes] : "});
  s.say("nope", {"Error : 68", "Msg   : Already exists", p});
  s.say("create orvantaprinter", {"Enter object name : "});
  s.say("P5", {"Add more attributes (yes/no) [yes] : "});
  s.say("yes", {"Enter attribute name : "});
  s.say("bogusattr", {"Enter attribute value : "});
  s.say("x", {"Add more attributes (yes/no) [yes] : "});
  s.say("no",
        {"Error : 17", "Msg   : Undefined attribute type: bogusattr: attribute type undefined", p});
  // The listing was discarded by the creation: cat finds nothing until ls reloads it.
  s.say("cat P3", {p});
  s.say("ls", {"  Lab printer", "  Office printer", "  P3", p});
  // modify: replace with escaped markup, add a second attribute, then delete it whole.
  s.say("modify P9", {"No such object : P9", p});
  s.say("modify P3", {"What attribute do you want to modify? "});
  s.say("orvantaprinterlocation", {"How do you want to modify it? (add/delete/replace) [add] "});
  s.say("replace", {"Enter values (blank to end value input) : "});
  s.say("Hall & <Annex>", {"Enter values (blank to end value input) : "});
  s.say("", {"Do you want to modify another attribute? (yes/no) [no] "});
  s.say("yes", {"What attribute do you want to modify? "});
  s.say("description", {"How do you want to modify it? (add/delete/replace) [add] "});
  s.say("", {"Enter values (blank to end value input) : "});
  s.say("first", {"Enter values (blank to end value input) : "});
  s.say("second", {"Enter values (blank to end value input) : "});
  s.say("", {"Do you want to modify another attribute? (yes/no) [no] "});
  s.say("no", {p});
  s.say("cat P3", {"Object : P3", "  objectID : {ID}", "  objectclass : orvantaprinter",
                   "  displayname : P3", "  objectname : cn=P3,ou=Printers,o=orvanta", "  cn : P3",
                   "  orvantaprinterlocation : Hall & <Annex>", "  description : first",
                   "  description : second", p});
  EXPECT_EQ(s.ids().back(), created);
  s.say("modify P3", {"What attribute do you want to modify? "});
  s.say("description", {"How do you want to modify it? (add/delete/replace) [add] "});
  s.say("delete", {"Enter values (blank to end value input) : "});
  s.say("", {"Do you want to modify another attribute? (yes/no) [no] "});
  s.say("", {p});
  s.say("cat P3", {"Object : P3", "  objectID : {ID}", "  objectclass : orvantaprinter",
                   "  displayname : P3", "  objectname : cn=P3,ou=Printers,o=orvanta", "  cn : P3",
                   "  orvantaprinterlocation : Hall & <Annex>", p});
  // rename and move keep the object's identity.
  s.say("rename", {"Name of object to rename:  "});
  s.say("P9", {"Object not found", p});
  s.say("rename", {"Name of object to rename:  "});
  s.say("P3", {"New Name:  "});
  s.say("Office printer", {"Error : 68", "Msg   : Already exists", p});
  s.say("rename", {"Name of object to rename:  "});
  s.say("P3", {"New Name:  "});
  s.say("P4", {p});
  s.say("ls", {"  Lab printer", "  Office printer", "  P4", p});
  s.say("move", {"Name of object to move: "});
  s.say("", {"Aborting move", p});
  s.say("move", {"Name of object to move: "});
  s.say("P4", {"New Parent CN (just the name, no ou= stuff):  "});
  s.say("Nowhere", {"Could not find new parent object", p});
  s.say("move", {"Name of object to move: "});
  s.say("P4", {"New Parent CN (just the name, no ou= stuff):  "});
  s.say("Lab", {p});
  s.say("ls", {"  Lab printer", "  Office printer", p});
  s.say("resolve cn=P4,ou=Lab,ou=Workstations,o=orvanta", {"ObjectID is : {ID}", p});
  EXPECT_EQ(s.ids().back(), created);
  s.say("resolve cn=P3,ou=Printers,o=orvanta", {"ObjectID is : ", p});
  s.say("resolve garbage", {"Error : 1005", "Msg   : not a directory name: garbage", p});
  // search prints its command before sending it; an empty condition value is left out.
  s.say("search orvantaprinter", {"Add attribute to be returned? (yes/no) [no] : "});
  s.say("yes", {"Enter attribute name : "});
  s.say("orvantaprinterlocation", {"Add attribute to be returned? (yes/no) [no] : "});
  s.say("no", {"Add search attribute (yes/no) [no] : "});
  s.say("yes", {"Enter attribute name : "});
  s.say("cn", {"Enter attribute value : "});
  s.say("P4", {"Enter operation : (EQ|LT|GT) [EQ] "});
  s.say("", {"Add search attribute (yes/no) [no] : "});
  s.say("yes", {"Enter attribute name : "});
  s.say("description", {"Enter attribute value : "});
  s.say("", {"Enter operation : (EQ|LT|GT) [EQ] "});
  s.say("GT", {"Add search attribute (yes/no) [no] : "});
  s.say("n", {"<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" "
              "name=\"searchObjects\"><includeobjectclass>orvantaprinter</includeobjectclass>"
              "<attribute>orvantaprinterlocation</attribute><searchParams><cn op=\"EQ\">P4</cn>"
              "</searchParams></command>",
              "*** Result 0", "  objectID : {ID}", "  objectclass : orvantaprinter",
              "  displayname : P4", "  objectname : cn=P4,ou=Lab,ou=Workstations,o=orvanta",
              "  orvantaprinterlocation : Hall & <Annex>", "Objects found : 1", p});
  s.say("search orvantaaction", {"Add attribute to be returned? (yes/no) [no] : "});
  s.say("", {"Add search attribute (yes/no) [no] : "});
  s.say("yes", {"Enter attribute name : "});
  s.say("cn", {"Enter attribute value : "});
  s.say("Nothing like it", {"Enter operation : (EQ|LT|GT) [EQ] "});
  s.say("", {"Add search attribute (yes/no) [no] : "});
  s.say("", {"<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" "
             "name=\"searchObjects\"><includeobjectclass>orvantaaction</includeobjectclass>"
             "<searchParams><cn op=\"EQ\">Nothing like it</cn></searchParams></command>",
             "Search found no matches.", p});
  // A container that is no organizational unit is found as an organization.
  s.say("move", {"Name of object to move: "});
  s.say("Lab printer", {"New Parent CN (just the name, no ou= stuff):  "});
  s.say("orvanta", {p});
  s.say("ls", {"  Office printer", p});
  // delete: only "yes" confirms; "*" removes every listed child.
  s.say("delete Office printer",
        {"Are you sure you want to delete: Office printer (yes/no) [no] "});
  s.say("y", {p});
  s.say("delete *", {"Really delete all objects? (yes/no) [no]"});
  s.say("yes", {"Delete objectID : {ID}", p});
  s.say("delete *", {"Really delete all objects? (yes/no) [no]"});
  s.say("yes", {p});  // the removal discarded the listing: nothing is listed to delete
  s.say("ls", {p});
  s.say("cd ..", {"orvanta : "});
  s.say("ls",
        {"  Actions", "  Groups", "  Lab printer", "  Policies", "  Printers", "  Profiles",
         "  SoftwareRepository", "  Workstations", "  admin", "  administrators", "orvanta : "});
  s.say("delete Lab printer", {"Are you sure you want to delete: Lab printer (yes/no) [no] "});
  s.say("yes", {"Delete objectID : {ID}", "orvanta : "});
  s.say("ls",
        {"  Actions", "  Groups", "  Policies", "  Printers", "  Profiles", "  SoftwareRepository",
         "  Workstations", "  admin", "  administrators", "orvanta : "});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

// Stream questions at end of input: each ends its command with its message, sending nothing.
TEST_F(ConsoleTest, StreamQuestionsEndTheirCommandAtEndOfInput) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  const std::string p = "orvanta : ";
  struct Case {
    std::vector<std::string> answers;  // before the end of input
    std::vector<std::string> prompts;  // the question each answer gets, then the last one
    std::string message;
  };
  const Case cases[] = {
      {{"create orvantaprinter"}, {"Enter object name : "}, "ERROR: Unable to read objectName!"},
      {{"create orvantaprinter", "X"},
       {"Enter object name : ", "Add more attributes (yes/no) [yes] : "},
       "ERROR: Unable to read answer!"},
      {{"create orvantaprinter", "X", ""},
       {"Enter object name : ", "Add more attributes (yes/no) [yes] : ", "Enter attribute name : "},
       "ERROR: Unable to read objectName!"},
      {{"rename"}, {"Name of object to rename:  "}, "Aborting rename"},
      {{"rename", "Groups"}, {"Name of object to rename:  ", "New Name:  "}, "Aborting rename"},
      {{"search cn"},
       {"Add attribute to be returned? (yes/no) [no] : "},
       "ERROR: Unable to read answer!"},
      {{"create orvantapolicy"}, {"Enter object name : "}, "ERROR: Unable to read objectName!"},
      {{"create orvantapolicy", "X"},
       {"Enter object name : ", "Enter policy type: "},
       "ERROR: Unable to read policyType!"},
      {{"create orvantapolicy", "X", "t"},
       {"Enter object name : ", "Enter policy type: ", "Enter xml data : "},
       "ERROR: Unable to read xmlData!"},
  };
  for (const Case& c : cases) {
    s.say(c.answers[0], {c.prompts[0]});
    for (std::size_t i = 1; i < c.answers.size(); ++i) {
      s.say(c.answers[i], {c.prompts[i]});
    }
    terminal->press("C-d");
    // The question's line keeps the cursor; the message follows on it.
    s.shows(c.message);
    s.expect({p});
  }
  // The operator question takes end of input as EQ and the search goes on.
  s.say("search organizationalunit", {"Add attribute to be returned? (yes/no) [no] : "});
  s.say("", {"Add search attribute (yes/no) [no] : "});
  s.say("yes", {"Enter attribute name : "});
  s.say("ou", {"Enter attribute value : "});
  s.say("Groups", {"Enter operation : (EQ|LT|GT) [EQ] "});
  terminal->press("C-d");
  s.shows("Add search attribute (yes/no) [no] : ");
  s.say("",
        {"<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" "
         "name=\"searchObjects\"><includeobjectclass>organizationalunit"
         "</includeobjectclass><searchParams><ou op=\"EQ\">Groups</ou></searchParams>"
         "</command>",
         "*** Result 0", "  objectID : {ID}", "  objectclass : organizationalunit",
         "  displayname : Groups", "  objectname : ou=Groups,o=orvanta", "Objects found : 1", p});
  s.say("delete Groups", {"Are you sure you want to delete: Groups (yes/no) [no] "});
  terminal->press("C-d");
  s.shows(p);  // nothing is removed, and the prompt follows the question on its line
  s.expect({});
  s.say("ls", {"  Actions", "  Groups", "  Policies", "  Printers", "  Profiles",
               "  SoftwareRepository", "  Workstations", "  admin", "  administrators", p});
  s.say("q", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
