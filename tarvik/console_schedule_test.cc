// Action creation with the schedule dialogue, cat printing the stored schedule back, and policy
// creation, on a real terminal against a real directory.
#include "tarvik/testing/console_fixture.h"

namespace tarvik_test {
namespace {

const std::vector<std::string> kMenu{"0 - Never",
                                     "1 - Always",
                                     "2 - Yearly (not supported yet)",
                                     "3 - Monthly (not supported yet)",
                                     "4 - Weekly (not supported yet)",
                                     "5 - Daily",
                                     "6 - Time",
                                     "7 - Relative",
                                     "8 - Immediate",
                                     "9 - Event Based",
                                     "Choose schedule type (0-9): "};
const std::string kPrompt = "Actions : ";

// Lines `a`, then lines `b`.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Starts an action named `name` running `path` and answers the type question with `type`.
void startAction(ScriptedSession& s, const std::string& name, const std::string& type) {
  s.say("create orvantaaction", {"Enter scheduled action name : "});
  s.say(name, {"Enter full path to executable: "});
  s.say("/usr/bin/" + name, kMenu);
  s.answer(type);
}

// cat of an action created by startAction, with the lines of its schedule.
std::vector<std::string> catAction(const std::string& name,
                                   const std::vector<std::string>& schedule) {
  return std::vector<std::string>{"Object : " + name,
                                  "  objectID : {ID}",
                                  "  objectclass : orvantaaction",
                                  "  displayname : " + name,
                                  "  objectname : cn=" + name + ",ou=Actions,o=orvanta",
                                  "  cn : " + name,
                                  "  orvantacommandline : /usr/bin/" + name,
                                  "  orvantaschedule"} +
         schedule + std::vector<std::string>{kPrompt};
}

TEST_F(ConsoleTest, ScheduleDialogueForEachKindOfTypeAndCatPrintsItBack) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Actions", {kPrompt});

  // daily: a blank name and bad type answers are asked again; every time part must have one
  // value; the repeat parts are optional; any non-blank character marks a day.
  s.say("create orvantaaction", {"Enter scheduled action name : "});
  s.say("", {"Enter scheduled action name : "});
  s.say("backup", {"Enter full path to executable: "});
  s.say("/usr/bin/backup", kMenu);
  s.say("10", kMenu);
  s.say(" 1", kMenu);
  s.say("", kMenu);
  s.say("5", {"Schedule start hours : "});
  s.say("", {"Schedule start minutes : "});
  s.say("30", {"Schedule start seconds : "});
  s.say("", {"Schedule end hours : "});
  s.say("", {"Schedule end minutes : "});
  s.say("", {"Schedule end seconds : "});
  s.say("", {"You must provide an end time for this schedule type!", "", "Schedule end hours : "});
  s.say("4", {"Schedule end minutes : "});
  s.say("", {"Schedule end seconds : "});
  s.say("", {"Schedule duration hours : "});
  s.say("", {"Schedule duration minutes : "});
  s.say("", {"Schedule duration seconds : "});
  s.say("",
        {"You must provide a duration for this schedule type!", "", "Schedule duration hours : "});
  s.say("", {"Schedule duration minutes : "});
  s.say("", {"Schedule duration seconds : "});
  s.say("45", {"Does the schedule repeat? (yes/[no]) :"});
  s.say("yes", {"Schedule repeat hours : "});
  s.say("", {"Schedule repeat minutes : "});
  s.say("15", {"Schedule repeat seconds : "});
  s.say("", {"Should the schedule randomly fire ? (yes/[no]) :"});
  s.say("Yes", {"                                                     SMTWTFS",
                "Place a '*' under days this schedule should be run : "});
  s.say("*    x*", {"Created object : {ID}", kPrompt});
  s.say("ls", {"  Nightly inventory", "  backup", kPrompt});
  s.say("cat backup",
        catAction("backup", {"    Schedule Type      : daily", "    Schedule Mask      : SMTWTFS",
                             "                         *    **", "    Random dispatch    : false",
                             "    Schedule repeats   : true", "    Start Time         : 0:30:0",
                             "    End Time           : 4:0:0", "    Repeat Time        : 0:15:0",
                             "    Duration           : 0:0:45"}));

  // time: a date needs all three parts; only the accepted attempt is stored.
  startAction(s, "stamp", "6");
  s.expect({"Schedule year : "});
  s.say("2027", {"Schedule month : "});
  s.say("3", {"Schedule day : "});
  s.say("", {"You must provide a valid date for this schedule type!", "", "Schedule year : "});
  s.say("2028", {"Schedule month : "});
  s.say("4", {"Schedule day : "});
  s.say("14", {"Schedule start hours : "});
  s.say("", {"Schedule start minutes : "});
  s.say("", {"Schedule start seconds : "});
  s.say("",
        {"You must provide a start time for this schedule type!", "", "Schedule start hours : "});
  s.say("12", {"Schedule start minutes : "});
  s.say("", {"Schedule start seconds : "});
  s.say("", {"Created object : {ID}", kPrompt});

  // relative: start and the repeat question; immediate: only the repeat question.
  startAction(s, "later", "7");
  s.expect({"Schedule start hours : "});
  s.say("1", {"Schedule start minutes : "});
  s.say("", {"Schedule start seconds : "});
  s.say("", {"Does the schedule repeat? (yes/[no]) :"});
  s.say("y", {"Created object : {ID}", kPrompt});
  startAction(s, "now", "8");
  s.expect({"Does the schedule repeat? (yes/[no]) :"});
  s.say("", {"Created object : {ID}", kPrompt});
  // event: the name only; never and the unsupported yearly are sent all the same.
  startAction(s, "onboot", "9");
  s.expect({"Event name : "});
  s.say("boot & <shutdown>", {"Created object : {ID}", kPrompt});
  startAction(s, "idle", "0");
  s.expect({"Created object : {ID}", kPrompt});

  s.say("ls", {"  Nightly inventory", "  backup", "  idle", "  later", "  now", "  onboot",
               "  stamp", kPrompt});
  s.say("cat stamp",
        catAction("stamp", {"    Schedule Type      : time", "    Date               : 4-14-2028",
                            "    Start Time         : 12:0:0"}));
  s.say("cat later",
        catAction("later", {"    Schedule Type      : relative", "    Schedule repeats   : false",
                            "    Start Time         : 1:0:0"}));
  s.say("cat now",
        catAction("now", {"    Schedule Type      : immediate", "    Schedule repeats   : false"}));
  s.say("cat onboot", catAction("onboot", {"    Schedule Type      : event",
                                           "    Event Name         : boot & <shutdown>"}));
  s.say("cat idle", catAction("idle", {"    Schedule Type      : never"}));
  s.say("q", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

// End of input at a question that is asked until answered gives the creation up: nothing is
// sent, and the console goes on reading commands.
TEST_F(ConsoleTest, EndOfInputAbandonsTheActionAndPoliciesAreCreated) {
  auto terminal = startConsole(true);
  ScriptedSession s(*terminal);
  s.expect({"NVO Debugging Tool ", "Top : "});
  s.say("cd orvanta", {"orvanta : "});
  s.say("cd Actions", {kPrompt});
  const std::vector<std::vector<std::string>> givenUp{
      {},                    // at the name
      {"x"},                 // at the path
      {"x", "/bin/x"},       // at the type
      {"x", "/bin/x", "6"},  // at the date
      {"x", "/bin/x", "5"},  // at the start time
  };
  for (const std::vector<std::string>& answers : givenUp) {
    s.say("create orvantaaction", {"Enter scheduled action name : "});
    for (std::size_t i = 0; i < answers.size(); ++i) {
      const std::vector<std::string> next[] = {
          {"Enter full path to executable: "}, kMenu, {"Schedule year : "}};
      s.say(answers[i],
            i < 2 ? next[i]
                  : (answers[i] == "6" ? next[2]
                                       : std::vector<std::string>{"Schedule start hours : "}));
    }
    terminal->press("C-d");
    s.expect({kPrompt});
  }
  s.say("ls", {"  Nightly inventory", kPrompt});

  s.say("cd ..", {"orvanta : "});
  s.say("cd Policies", {"Policies : "});
  s.say("create orvantapolicy", {"Enter object name : "});
  s.say("Wallpaper", {"Enter policy type: "});
  s.say("desktop", {"Enter xml data : "});
  s.say("<desktop><wallpaper>a&amp;b.png</wallpaper></desktop>",
        {"Create object with ID : {ID}", "Policies : "});
  s.say("create orvantapolicy", {"Enter object name : "});
  s.say("Bare", {"Enter policy type: "});
  s.say("", {"Enter xml data : "});
  s.say("<x/>", {"Create object with ID : {ID}", "Policies : "});
  s.say("ls", {"  Bare", "  Find printers", "  Office desktop", "  Wallpaper", "Policies : "});
  s.say("cat Wallpaper",
        {"Object : Wallpaper", "  objectID : {ID}", "  objectclass : orvantapolicy",
         "  displayname : Wallpaper", "  objectname : cn=Wallpaper,ou=Policies,o=orvanta",
         "  cn : Wallpaper", "  orvantapolicytype : desktop",
         "  orvantaxml : <desktop><wallpaper>a&amp;b.png</wallpaper></desktop>", "Policies : "});
  s.say("cat Bare", {"Object : Bare", "  objectID : {ID}", "  objectclass : orvantapolicy",
                     "  displayname : Bare", "  objectname : cn=Bare,ou=Policies,o=orvanta",
                     "  cn : Bare", "Policies : "});
  s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
}

}  // namespace
}  // namespace tarvik_test
