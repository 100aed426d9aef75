// rename and move: a child of the current location gets a new name or a new parent.
#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/object_commands.h"
#include "tarvik/search_forms.h"

namespace tarvik {
namespace {

// Both commands work on the listing, which they load first when it is not loaded.
void ensureListing(Console& console) {
  if (!console.listing().loaded()) {
    console.loadListing(false, Console::Form::kText);
  }
}

// The answer of renameObject or moveObject: an error ends the command with the listing kept;
// otherwise (success, or no usable answer after "Wierd error") the listing is discarded.
void finishRelocation(Console& console, nvo::DOM_Node answer) {
  if (!isCommandResult(answer)) {
    console.out() << "Wierd error\n";
  } else if (printError(answer, console.out())) {
    return;
  }
  console.discardListing();
}

}  // namespace

void renameCommand(Console& console, const std::string& /*line*/) {
  ensureListing(console);
  const auto name = console.prompter().askStream("Name of object to rename:  ");
  if (!name) {
    console.out() << "Aborting rename\n";
    return;
  }
  const LocationEntry* child = console.listing().find(*name);
  if (child == nullptr) {
    console.out() << "Object not found\n";
    return;
  }
  const std::string objectId = child->objectId;
  const auto newName = console.prompter().askStream("New Name:  ");
  if (!newName) {
    console.out() << "Aborting rename\n";
    return;
  }
  TextCommand command("catNone", "renameObject");
  command.element("objectID", objectId).element("newname", *newName);
  finishRelocation(console, console.gateway().send(command));
}

void moveCommand(Console& console, const std::string& /*line*/) {
  ensureListing(console);
  const std::string name = console.prompter().askLine("Name of object to move: ").value_or("");
  if (name.empty()) {
    console.out() << "Aborting move\n";
    return;
  }
  const LocationEntry* child = console.listing().find(name);
  if (child == nullptr) {
    console.out() << "Object not found\n";
    return;
  }
  const std::string objectId = child->objectId;
  const std::string parent =
      console.prompter().askLine("New Parent CN (just the name, no ou= stuff):  ").value_or("");
  if (parent.empty()) {
    console.out() << "Aborting move\n";
    return;
  }
  const std::string parentId = lookupContainer(console, parent);
  if (parentId.empty()) {
    console.out() << "Could not find new parent object\n";
    return;
  }
  TextCommand command("catNone", "moveObject");
  command.element("objectID", objectId).element("newparent", parentId);
  finishRelocation(console, console.gateway().send(command));
}

}  // namespace tarvik
