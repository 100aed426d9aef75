// rpmlink, getrpmdetails, searchcomputers and readprinter.
//
// Values typed into these text-form commands go into the document as typed, like those of every
// text-form command: a value holding "<" or "&" is the administrator's own markup, and what the
// gateway answers to it is shown by the command-result check. Package UUIDs read from the
// repository are directory data, which anyone with write access to the repository controls:
// they are escaped as XML text before they go into the profile's modification.
#include "tarvik/inventory_commands.h"

#include <array>
#include <string_view>

#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/search_forms.h"

namespace tarvik {

using nvo::DOM_Node;
using nvo::XMLParser;

namespace {

constexpr const char* kConditionOperator = "Enter operation : (EQ|LT|GT|IS) [EQ] ";

std::string escaped(const std::string& value) {
  return XMLParser::makeXMLString(value, false);
}

// The RPM condition questions, appended inside searchParams: name, version and release, each
// followed by the operator question when answered. False when a read failed (the message is
// printed and nothing is to be sent).
bool askRpmConditions(Console& console, TextCommand& command) {
  struct Question {
    std::string_view attribute;
    std::string_view prompt;
  };
  constexpr std::array<Question, 3> kQuestions{{
      {"orvantaname", "Enter rpm name : [no name] "},
      {"orvantaversion", "Enter rpm version : [no version] "},
      {"orvantarelease", "Enter rpm release : [no release] "},
  }};
  for (const Question& q : kQuestions) {
    const auto value = console.prompter().askStream(std::string(q.prompt));
    if (!value) {
      console.out() << kAnswerUnread;
      return false;
    }
    if (!value->empty()) {
      const std::string op = askOperator(console.prompter(), kConditionOperator);
      command.append(condition(q.attribute, op, *value));
    }
  }
  return true;
}

// The answer to a question with a default: the default when the read failed or gave nothing.
std::string answerOr(const std::optional<std::string>& answer, const std::string& fallback) {
  return answer && !answer->empty() ? *answer : fallback;
}

}  // namespace

void rpmlinkCommand(Console& console, const std::string& /*line*/) {
  Prompter& ask = console.prompter();
  const std::string operation =
      answerOr(ask.askStream("Link operation : (add|remove) [add] "), "add");
  const bool adding = operation == "add";
  const std::string list =
      ask.askStream("RPM is to be installed or un-unstalled? : (inst|uninst) [inst] ") ==
              std::optional<std::string>("uninst")
          ? "orvantauuidremovelist"
          : "orvantauuidlist";

  TextCommand search("catSWRepository", "searchObjects");
  search.append(classFilter("orvantarpm"));
  for (const char* attribute : {"orvantaname", "orvantaversion", "orvantarelease", "orvantauuid"}) {
    search.append(returnAttribute(attribute));
  }
  search.append("<searchParams>");
  if (!askRpmConditions(console, search)) {
    return;
  }
  search.append("</searchParams>");

  const std::string profile = ask.askLine("Profile name to link to : ").value_or("");
  const std::string profileId = lookupByName(console, profile, "orvantaprofile");
  if (profileId.empty()) {
    console.out() << "Object could not be found : " << profile << "\n";
    return;
  }

  DOM_Node found = console.gateway().send(search);
  TextCommand modification("catNone", "modifyObject");
  modification.element("objectID", profileId);
  if (isCommandResult(found)) {
    if (printError(found, console.out())) {
      return;
    }
    for (DOM_Node package : objectsOf(found)) {
      const std::string name = childText(package, "orvantaname");
      const std::string uuid = childText(package, "orvantauuid");
      if (uuid.empty()) {
        console.out() << "*** What is this invalid trash, no UUID on : " << name << "\n";
        continue;
      }
      console.out() << uuid << " " << (adding ? "Adding" : "Removing") << " rpm : " << name << " "
                    << childText(package, "orvantaversion") << " "
                    << childText(package, "orvantarelease") << "\n";
      modification.append("<attribute name=\"" + list + "\" op=\"" + (adding ? "add" : "delete") +
                          "\">" + escaped(uuid) + "</attribute>");
    }
  }
  checkResult(console.gateway().send(modification), console.out());
}

void getrpmdetailsCommand(Console& console, const std::string& /*line*/) {
  TextCommand command("catSWRepository", "getRPMDetailsFromUUIDsBig");
  for (;;) {
    const auto uuid = console.prompter().askStream("Enter rpm uuid : [blank to quit] ");
    if (!uuid) {
      console.out() << kAnswerUnread;
      return;
    }
    if (uuid->empty()) {
      break;
    }
    command.element("orvantauuid", *uuid);
  }
  DOM_Node answer = console.gateway().send(command);
  const Outcome outcome = checkResult(answer, console.out());
  if (outcome == Outcome::kError) {
    return;
  }
  std::size_t printed = 0;
  if (outcome == Outcome::kOk) {
    const std::vector<DOM_Node> packages = objectsOf(answer);
    if (packages.empty()) {
      console.out() << "Search found no matches.\n";
    }
    for (DOM_Node package : packages) {
      console.out() << childText(package, "orvantaname") << " "
                    << childText(package, "orvantaversion") << " "
                    << childText(package, "orvantarelease") << "\n";
      ++printed;
    }
  }
  console.out() << "Total RPMs found : " << printed << "\n";
}

void searchcomputersCommand(Console& console, const std::string& /*line*/) {
  Prompter& ask = console.prompter();
  const bool negated = ask.askLine("Search for computers that have or not : (have|not) [have] ") ==
                       std::optional<std::string>("not");
  const bool software =
      answerOr(ask.askLine("Search Hardware or Software : (HW|SW) [SW] "), "SW") == "SW";

  TextCommand command(software ? "catSWInventory" : "catHWInventory",
                      software ? "searchSWInventory" : "searchHWInventory");
  command.element("objectID", console.location().current().objectId);
  if (negated) {
    command.append(kNoMatch);
  }
  command.append("<searchParams>");
  if (software) {
    if (!askRpmConditions(console, command)) {
      return;
    }
  } else {
    const std::string model = ask.askLine("Enter Model : ").value_or("");
    if (model.empty()) {
      console.out() << "ERROR: How am I supposed to search for that?\n";
      return;
    }
    const std::string op = askOperator(ask, kConditionOperator);
    command.append(condition("orvantamodel", op, model));
  }
  command.append("</searchParams>");

  DOM_Node answer = console.gateway().send(command);
  if (checkResult(answer, console.out()) == Outcome::kOk) {
    for (DOM_Node computer : objectsOf(answer)) {
      console.out() << "Computer : " << childText(computer, "displayname") << "\n";
    }
  }
}

void readprinterCommand(Console& console, const std::string& line) {
  const std::string name = argumentOf(line);
  if (name.empty()) {
    console.out() << "USAGE: readPrinter <printername>\n";
    return;
  }
  TextCommand command("catNone", "readPrinter");
  command.element("printername", name);
  DOM_Node answer = console.gateway().send(command);
  if (!isCommandResult(answer)) {
    return;
  }
  const std::vector<DOM_Node> printers = objectsOf(answer);
  if (printers.empty()) {
    if (!printError(answer, console.out())) {
      console.out() << "No printers found.\n";
    }
    return;
  }
  for (DOM_Node c = XMLParser::firstChild(printers.front(), false); !c.isNull();
       c = XMLParser::nextSibling(c, false)) {
    console.out() << " " << XMLParser::getName(c) << " = " << XMLParser::getStringValue(c) << "\n";
  }
}

}  // namespace tarvik
