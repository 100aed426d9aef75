#include "tarvik/console.h"

#include "tarvik/command_table.h"
#include "tarvik/login.h"

namespace tarvik {

using nvo::DOM_Node;
using nvo::XMLParser;

Console::Console(nvo::MUXClient& session, Prompter& prompter, std::ostream& out)
    : session_(session), prompter_(prompter), out_(out), gateway_(session) {}

void Console::loadListing(bool print, Form form) {
  if (!listing_.loaded()) {
    DOM_Node answer = enumerate(form);
    if (checkResult(answer, out_) == Outcome::kOk) {
      storeObjects(answer);
    }
  }
  if (print && listing_.loaded()) {
    for (const auto& [name, entry] : listing_.entries()) {
      out_ << "  " << name << "\n";
    }
  }
}

DOM_Node Console::enumerate(Form form) {
  const bool root = location_.atRoot();
  const std::string name = root ? "enumerateBaseObjects" : "enumerateObjects";
  Tags tags;
  if (!root) {
    tags = {{"objectID", location_.current().objectId},
            {"objectclass", location_.current().objectClass}};
  }
  if (form == Form::kText) {
    TextCommand command("catNone", name);
    for (const auto& [tag, value] : tags) {
      command.element(tag, value);
    }
    return gateway_.send(command);
  }
  XMLParser builder;
  startBuilder(builder, name, "catNone", tags);
  return gateway_.send(builder);
}

void Console::storeObjects(DOM_Node answer) {
  bool stored = false;
  for (DOM_Node object : objectsOf(answer)) {
    listing_.store(LocationEntry{childText(object, "objectID"), childText(object, "displayname"),
                                 childText(object, "objectclass")});
    stored = true;
  }
  if (stored) {
    listing_.markLoaded();
  }
}

void Console::locationChanged() {
  listing_.discard();
  loadListing(false);
}

bool Console::step() {
  const std::optional<std::string> line =
      prompter_.askLine(location_.current().displayName + " : ");
  if (!line) {
    return false;
  }
  if (const Command* command = findCommand(*line)) {
    command->handler(*this, *line);
  } else if (!line->empty()) {
    out_ << "ERROR : Unknown command " << *line << "\n";
  }
  return !stopping_;
}

void Console::run() {
  while (step()) {
  }
}

std::string argumentOf(const std::string& line) {
  const std::size_t blank = line.find(' ');
  return blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

int runConsole(Console& console) {
  std::ostream& out = console.out();
  if (!login(console.session(), console.prompter())) {
    out << "Invalid credentials, Unable to authenticate!\n";
    return 0;
  }
  out << "NVO Debugging Tool \n";
  console.loadListing(false);
  console.run();
  out << "Disconnecting from nvod (endSession) ...\n";
  out.flush();
  console.session().endSession();
  return 0;
}

}  // namespace tarvik
