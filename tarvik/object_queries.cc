// resolve and search: commands that find objects without changing anything.
#include <optional>

#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/object_commands.h"
#include "tarvik/search_forms.h"

namespace tarvik {

using nvo::DOM_Node;
using nvo::XMLParser;

namespace {

constexpr const char* kNameUnread = "ERROR: Unable to read objectName!\n";

// The yes/no question that opens each pass of a search loop.
enum class Next { kMore, kDone, kFailed };

Next askNext(Console& console, const std::string& question) {
  const auto answer = console.prompter().askStream(question);
  if (!answer) {
    console.out() << kAnswerUnread;
    return Next::kFailed;
  }
  return *answer == "yes" ? Next::kMore : Next::kDone;
}

// The return-attribute loop; false when a read failed (its message printed).
bool askReturnAttributes(Console& console, TextCommand& command) {
  Next next;
  while ((next = askNext(console, "Add attribute to be returned? (yes/no) [no] : ")) ==
         Next::kMore) {
    const auto name = console.prompter().askStream("Enter attribute name : ");
    if (!name) {
      console.out() << kNameUnread;
      return false;
    }
    if (!name->empty()) {
      command.append(returnAttribute(*name));
    }
  }
  return next == Next::kDone;
}

// The condition loop, inside searchParams; false when a read failed (its message printed).
bool askConditions(Console& console, TextCommand& command) {
  Prompter& ask = console.prompter();
  Next next;
  while ((next = askNext(console, "Add search attribute (yes/no) [no] : ")) == Next::kMore) {
    const auto name = ask.askStream("Enter attribute name : ");
    const auto value = name ? ask.askStream("Enter attribute value : ") : std::nullopt;
    if (!value) {
      console.out() << kNameUnread;
      return false;
    }
    const std::string op = askOperator(ask, "Enter operation : (EQ|LT|GT) [EQ] ");
    if (!name->empty() && !value->empty()) {
      command.append(condition(*name, op, *value));
    }
  }
  return next == Next::kDone;
}

void printResults(std::ostream& out, DOM_Node answer) {
  const std::vector<DOM_Node> objects = objectsOf(answer);
  if (objects.empty()) {
    out << "Search found no matches.\n";
    return;
  }
  for (std::size_t i = 0; i < objects.size(); ++i) {
    out << "*** Result " << i << "\n";
    for (DOM_Node c = XMLParser::firstChild(objects[i], false); !c.isNull();
         c = c.getNextSibling()) {
      const std::string name = XMLParser::getName(c);
      const std::string text = XMLParser::getStringValue(c);
      if (!name.empty() && !text.empty()) {
        out << "  " << name << " : " << text << "\n";
      }
    }
  }
  out << "Objects found : " << objects.size() << "\n";
}

}  // namespace

void resolveCommand(Console& console, const std::string& line) {
  const std::string name = argumentOf(line);
  if (name.empty()) {
    console.out() << "USAGE: resolve <object name>\n";
    return;
  }
  XMLParser builder;
  startBuilder(builder, "resolveObject", "catNone", {{"objectname", name}});
  DOM_Node answer = console.gateway().send(builder);
  const Outcome outcome = checkResult(answer, console.out());
  if (outcome == Outcome::kError) {
    return;
  }
  const std::vector<DOM_Node> objects =
      outcome == Outcome::kOk ? objectsOf(answer) : std::vector<DOM_Node>{};
  console.out() << "ObjectID is : "
                << (objects.empty() ? std::string() : childText(objects.front(), "objectID"))
                << "\n";
}

void searchCommand(Console& console, const std::string& line) {
  const std::string objectClass = argumentOf(line);
  if (objectClass.empty()) {
    console.out() << "USAGE: search <object class>\n";
    return;
  }
  TextCommand command("catNone", "searchObjects");
  command.append(classFilter(objectClass));
  if (!askReturnAttributes(console, command)) {
    return;
  }
  command.append("<searchParams>");
  if (!askConditions(console, command)) {
    return;
  }
  command.append("</searchParams>");
  const std::string text = command.text();
  console.out() << text << "\n";
  DOM_Node answer = console.gateway().sendText(text);
  if (checkResult(answer, console.out()) == Outcome::kOk) {
    printResults(console.out(), answer);
  }
}

}  // namespace tarvik
