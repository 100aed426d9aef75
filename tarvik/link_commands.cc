// link, locate and eventlist.
#include "tarvik/link_commands.h"

#include <array>
#include <optional>
#include <string_view>

#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/search_forms.h"

namespace tarvik {

using nvo::DOM_Node;
using nvo::XMLParser;

namespace {

// The kinds of object link offers, by menu number (index + 1).
struct LinkKind {
  std::string_view menuLine;
  std::string_view nameQuestion;  // empty: the kind is refused
  std::string_view objectClass;
  bool container;  // found by the container lookup instead of by name within the class
};

constexpr std::array<LinkKind, 8> kLinkKinds{{
    {"  1 - action", "Action name : ", "orvantaaction", false},
    {"  2 - profile", "Profile name : ", "orvantaprofile", false},
    {"  3 - policy", "Policy name : ", "orvantapolicy", false},
    {"  4 - rpm", "", "", false},
    {"  5 - computer", "Computer name : ", "orvantacomputer", false},
    {"  6 - computergroup", "Group name : ", "orvantacomputergroup", false},
    {"  7 - organization", "organization name : ", "organization", true},
    {"  8 - organizationalunit", "organizationalunit name : ", "organizationalunit", true},
}};

// One side of a link: the menu, the kind question, then the kind's name question. Nothing when
// the command ends here (an empty answer, an invalid one, or the refused kind, each with its
// message).
struct Chosen {
  const LinkKind* kind;
  std::string name;
};

std::optional<Chosen> chooseObject(Console& console, const std::string& question) {
  for (const LinkKind& kind : kLinkKinds) {
    console.out() << kind.menuLine << "\n";
  }
  const std::string answer = console.prompter().askLine(question).value_or("");
  if (answer.empty()) {
    return std::nullopt;
  }
  if (answer.size() != 1 || answer[0] < '1' || answer[0] > '8') {
    console.out() << answer << " is invalid!\n";
    return std::nullopt;
  }
  const LinkKind& kind = kLinkKinds[static_cast<std::size_t>(answer[0] - '1')];
  if (kind.nameQuestion.empty()) {
    console.out() << "Uh, I'm not gonna do that...\n";
    return std::nullopt;
  }
  return Chosen{&kind, console.prompter().askLine(std::string(kind.nameQuestion)).value_or("")};
}

// The object's ID; empty (after "Object could not be found : NAME") when there is none.
std::string findObject(Console& console, const Chosen& chosen) {
  const std::string id =
      chosen.kind->container
          ? lookupContainer(console, chosen.name)
          : lookupByName(console, chosen.name, std::string(chosen.kind->objectClass));
  if (id.empty()) {
    console.out() << "Object could not be found : " << chosen.name << "\n";
  }
  return id;
}

// The kinds locate and eventlist list, by argument.
struct ListKind {
  std::string_view argument;
  std::string_view objectClass;
  bool eventlistOnly;  // the policies of type "search"
};

constexpr std::array<ListKind, 5> kListKinds{{
    {"printers", "orvantaprinter", false},
    {"profiles", "orvantaprofile", false},
    {"policies", "orvantapolicy", false},
    {"actions", "orvantaaction", false},
    {"search", "orvantapolicy", true},
}};

// Both listing commands up to the answer: the usage message for an empty argument, the object
// question, and the command with the kind's tags (none for an argument not in the table).
// Nothing when the command ended at its usage message.
std::optional<DOM_Node> askLinked(Console& console, const std::string& line,
                                  const std::string& commandName, bool eventlist) {
  const std::string argument = argumentOf(line);
  if (argument.empty()) {
    console.out() << "USAGE: " << (eventlist ? "eventlist" : "locate")
                  << " < printers | profiles | actions | policies >\n";
    return std::nullopt;
  }
  const std::string name = console.prompter().askLine("For which object? : ").value_or("");
  const LocationEntry* object = console.listing().find(name);
  Tags tags;
  for (const ListKind& kind : kListKinds) {
    if (kind.argument != argument || (kind.eventlistOnly && !eventlist)) {
      continue;
    }
    tags.emplace_back("objectclass", kind.objectClass);
    if (kind.eventlistOnly) {
      tags.emplace_back("attribute", "orvantapolicytype");
      tags.emplace_back("value", "search");
    }
    if (object != nullptr && !object->objectId.empty()) {
      tags.emplace_back("objectID", object->objectId);
    }
  }
  XMLParser builder;
  startBuilder(builder, commandName, "catNone", tags);
  return console.gateway().send(builder);
}

// The end of both listing commands: each text on a line after two blanks; when there is none,
// the answer's error, or else "Nothing found.". The error check runs only then, so results
// that come with an error are shown.
void printLinked(Console& console, DOM_Node answer, const std::vector<std::string>& texts) {
  if (texts.empty()) {
    if (!printError(answer, console.out())) {
      console.out() << "Nothing found.\n";
    }
    return;
  }
  for (const std::string& text : texts) {
    console.out() << "  " << text << "\n";
  }
}

}  // namespace

void linkCommand(Console& console, const std::string& /*line*/) {
  const std::optional<Chosen> first = chooseObject(console, "Link what? : ");
  if (!first) {
    return;
  }
  console.out() << " \n";
  const std::optional<Chosen> second = chooseObject(console, "Link to? : ");
  if (!second) {
    return;
  }
  if (first->name.empty() || second->name.empty()) {
    console.out() << "It is hard to create links if you don't provide the names chief!\n";
    return;
  }
  const std::string firstId = findObject(console, *first);
  if (firstId.empty()) {
    return;
  }
  const std::string secondId = findObject(console, *second);
  if (secondId.empty()) {
    return;
  }
  const auto operation = console.prompter().askStream("Link operation : (add|remove) [add] ");
  XMLParser builder;
  startBuilder(builder, "linkObjects", "catNone",
               {{"objectID", firstId},
                {"objectID2", secondId},
                {"flags", operation && !operation->empty() ? *operation : "add"}});
  if (checkResult(console.gateway().send(builder), console.out()) == Outcome::kOk) {
    console.out() << "Success!\n";
  }
}

void locateCommand(Console& console, const std::string& line) {
  const std::optional<DOM_Node> answer = askLinked(console, line, "findAllLinkedObjects", false);
  if (!answer || !isCommandResult(*answer)) {
    return;
  }
  std::vector<std::string> ids;
  for (DOM_Node object : objectsOf(*answer)) {
    ids.push_back(childText(object, "objectID"));
  }
  printLinked(console, *answer, ids);
}

void eventlistCommand(Console& console, const std::string& line) {
  const std::optional<DOM_Node> answer = askLinked(console, line, "readLinkedObjects", true);
  if (!answer || !isCommandResult(*answer)) {
    return;
  }
  std::vector<std::string> names;
  for (DOM_Node name : childrenNamed(*answer, "objectname")) {
    names.push_back(XMLParser::getStringValue(name));
  }
  printLinked(console, *answer, names);
}

}  // namespace tarvik
