// The console when its directory goes away in the middle of a session: a command meets the
// stopped directory, prints the error and the prompt comes back; once the directory runs again
// the next command works on the same session, also after a restart between two commands.
#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

TEST_F(ConsoleTest, DirectoryStoppedAndRestartedInTheMiddleOfASession) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Workstations", {"Workstations : "});
  const std::vector<std::string> listing{"  Lab", "  Office", "Workstations : "};
  s.say("ls", listing);

  // The listing of the current location was loaded before: ls shows it without asking.
  // Commands that ask the directory print its error and the prompt comes back.
  server().stop();
  const std::vector<std::string> down{"Error : -1", "Msg   : Can't contact LDAP server"};
  auto then = [](std::vector<std::string> lines, const std::string& prompt) {
    lines.push_back(prompt);
    return lines;
  };
  s.say("cat Lab", then(down, "Workstations : "));
  s.say("cd Lab", then(down, "Lab : "));
  s.say("ls", then(down, "Lab : "));
  server().start();
  const std::vector<std::string> lab{"  lab-pc1-00:16:3e:00:00:01", "  lab-pc2-00:16:3e:00:00:02",
                                     "Lab : "};
  s.say("ls", lab);

  // Restarted between two commands: the session's connection is gone and is opened again.
  server().stop();
  server().start();
  s.say("cat lab-pc2-00:16:3e:00:00:02",
        {"Object : lab-pc2-00:16:3e:00:00:02", "  objectID : {ID}",
         "  objectclass : orvantacomputer", "  displayname : lab-pc2-00:16:3e:00:00:02",
         "  objectname : cn=lab-pc2-00:16:3e:00:00:02,ou=Lab,ou=Workstations,o=orvanta",
         "  cn : lab-pc2-00:16:3e:00:00:02", "  orvantaidtype : 1",
         "  orvantaid : 00:16:3e:00:00:02", "  orvantamodel : Demo Workstation 200", "Lab : "});
  s.say("q", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
