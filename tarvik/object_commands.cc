// cat, create, delete and modify; the other object commands are in object_relocation.cc and
// object_queries.cc.
#include "tarvik/object_commands.h"

#include <vector>

#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/schedule_commands.h"

namespace tarvik {

using nvo::DOM_Node;
using nvo::XMLParser;

namespace {

// One child of a read object: "  name : text", then its displayname and objectname XML
// attributes when it names another object.
void printAttribute(std::ostream& out, DOM_Node child) {
  const std::string name = XMLParser::getName(child);
  const std::string text = XMLParser::getStringValue(child);
  if (name == "orvantaschedule") {
    printSchedule(out, text);
    return;
  }
  if (name.empty() || text.empty()) {
    return;
  }
  out << "  " << name << " : " << text << "\n";
  if (!child.isElement()) {
    return;
  }
  const std::string displayName = XMLParser::getAttributeValue(child, "displayname");
  if (!displayName.empty()) {
    out << "                  displayname : " << displayName << "\n";
  }
  const std::string objectName = XMLParser::getAttributeValue(child, "objectname");
  if (!objectName.empty()) {
    out << "                  objectname  : " << objectName << "\n";
  }
}

// Sends removeAllObjects for one object; true when the gateway reported no error.
bool removeObject(Console& console, const std::string& objectId) {
  XMLParser builder;
  startBuilder(builder, "removeAllObjects", "catNone", {{"objectID", objectId}});
  if (checkResult(console.gateway().send(builder), console.out()) != Outcome::kOk) {
    return false;
  }
  console.out() << "Delete objectID : " << objectId << "\n";
  return true;
}

bool confirmed(Console& console, const std::string& question) {
  return console.prompter().askStream(question) == std::optional<std::string>("yes");
}

// The attribute loop of create: false when a read failed (its message printed).
bool askAttributes(Console& console, XMLParser& builder) {
  Prompter& ask = console.prompter();
  for (;;) {
    const auto more = ask.askStream("Add more attributes (yes/no) [yes] : ");
    if (!more) {
      console.out() << kAnswerUnread;
      return false;
    }
    if (!more->empty() && *more != "yes") {
      return true;
    }
    const auto name = ask.askStream("Enter attribute name : ");
    const auto value = name ? ask.askStream("Enter attribute value : ") : std::nullopt;
    if (!value) {
      console.out() << "ERROR: Unable to read objectName!\n";
      return false;
    }
    if (!name->empty() && !value->empty()) {
      builder.addString("<attribute name=\"" + *name + "\">" + *value + "</attribute>");
    }
  }
}

// One attribute pass of modify: the name, the operation and its values, appended to `command`.
void askModification(Console& console, TextCommand& command) {
  Prompter& ask = console.prompter();
  const std::string name = ask.askLine("What attribute do you want to modify? ").value_or("");
  std::string op =
      ask.askLine("How do you want to modify it? (add/delete/replace) [add] ").value_or("");
  if (op.empty()) {
    op = "add";
  }
  const std::string element = "<attribute name=\"" + name + "\" op=\"" + op + "\"";
  for (;;) {
    const std::string value =
        ask.askLine("Enter values (blank to end value input) : ").value_or("");
    if (value.empty()) {
      if (op == "delete") {
        command.append(element + "/>");
      }
      return;
    }
    command.append(element + ">" + XMLParser::makeXMLString(value, false) + "</attribute>");
  }
}

}  // namespace

void reportCreated(Console& console, DOM_Node answer, std::string_view label) {
  if (checkResult(answer, console.out()) != Outcome::kOk) {
    return;
  }
  const std::string objectId = childText(answer, "objectID");
  if (objectId.empty()) {
    console.out() << "Me thinks we don't understand\n";
    return;
  }
  console.out() << label << objectId << "\n";
  console.discardListing();
}

void catCommand(Console& console, const std::string& line) {
  const std::string name = argumentOf(line);
  if (name.empty()) {
    console.out() << "USAGE: cat <object name>\n";
    return;
  }
  const LocationEntry* child = console.listing().find(name);
  if (name != "." && child == nullptr) {
    return;
  }
  XMLParser builder;
  startBuilder(
      builder, "readObject", "catNone",
      {{"objectID", name == "." ? console.location().current().objectId : child->objectId}});
  DOM_Node answer = console.gateway().send(builder);
  if (checkResult(answer, console.out()) != Outcome::kOk) {
    return;
  }
  DOM_Node object = XMLParser::findFirstChild(answer, "object", false);
  if (object.isNull()) {
    return;
  }
  console.out() << "Object : " << name << "\n";
  for (DOM_Node c = XMLParser::firstChild(object, false); !c.isNull(); c = c.getNextSibling()) {
    printAttribute(console.out(), c);
  }
}

void createCommand(Console& console, const std::string& line) {
  const std::string objectClass = argumentOf(line);
  if (objectClass.empty()) {
    console.out() << "USAGE: create <object class>\n";
    return;
  }
  if (objectClass == "orvantaaction") {
    createAction(console);
    return;
  }
  if (objectClass == "orvantapolicy") {
    createPolicy(console);
    return;
  }
  const auto name = console.prompter().askStream("Enter object name : ");
  if (!name) {
    console.out() << "ERROR: Unable to read objectName!\n";
    return;
  }
  XMLParser builder;
  startBuilder(builder, "createObject", "catNone",
               {{"objectID", console.location().current().objectId},
                {"objectclass", objectClass},
                {"name", *name}});
  if (askAttributes(console, builder)) {
    reportCreated(console, console.gateway().send(builder), "Create object with ID : ");
  }
}

void deleteCommand(Console& console, const std::string& line) {
  const std::string name = argumentOf(line);
  if (name.empty()) {
    console.out() << "USAGE: delete <objectName>\n";
    return;
  }
  std::vector<std::string> doomed;
  if (name == "*") {
    if (!confirmed(console, "Really delete all objects? (yes/no) [no]")) {
      return;
    }
    for (const auto& [displayName, entry] : console.listing().entries()) {
      doomed.push_back(entry.objectId);
    }
  } else {
    const LocationEntry* child = console.listing().find(name);
    if (child == nullptr) {
      return;
    }
    const std::string objectId = child->objectId;
    if (!confirmed(console, "Are you sure you want to delete: " + name + " (yes/no) [no] ")) {
      return;
    }
    doomed.push_back(objectId);
  }
  bool removed = false;
  for (const std::string& objectId : doomed) {
    removed = removeObject(console, objectId) || removed;
  }
  if (removed) {
    console.discardListing();
  }
}

void modifyCommand(Console& console, const std::string& line) {
  const std::string name = argumentOf(line);
  if (name.empty()) {
    console.out() << "USAGE: modify <objectName>\n";
    return;
  }
  const LocationEntry* child = console.listing().find(name);
  if (child == nullptr) {
    console.out() << "No such object : " << name << "\n";
    return;
  }
  TextCommand command("catNone", "modifyObject");
  command.element("objectID", child->objectId);
  do {
    askModification(console, command);
  } while (console.prompter().askLine("Do you want to modify another attribute? (yes/no) [no] ") ==
           std::optional<std::string>("yes"));
  checkResult(console.gateway().send(command), console.out());
}

}  // namespace tarvik
