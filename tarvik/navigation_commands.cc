#include "tarvik/navigation_commands.h"

#include "tarvik/command_table.h"
#include "tarvik/console.h"

namespace tarvik {

void quitCommand(Console& console, const std::string& /*line*/) {
  console.stop();
}

void helpCommand(Console& console, const std::string& /*line*/) {
  console.out() << helpText();
}

void lsCommand(Console& console, const std::string& /*line*/) {
  console.loadListing(true);
}

namespace {

// Levels that each upward target climbs; 0 for a target that is not one.
int levelsUp(const std::string& target) {
  if (target == "..") {
    return 1;
  }
  if (target == "...") {
    return 2;
  }
  if (target == "....") {
    return 3;
  }
  return 0;
}

}  // namespace

void cdCommand(Console& console, const std::string& line) {
  const std::string target = argumentOf(line);
  LocationState& location = console.location();
  const int levels = levelsUp(target);
  if (target == "/" || levels > 0) {
    const bool moved = target == "/" ? location.toRoot() : location.up(levels);
    if (!moved) {
      console.out() << "At root\n";
      return;
    }
  } else {
    const LocationEntry* child = console.listing().find(target);
    if (child == nullptr) {
      return;
    }
    location.enter(LocationEntry(*child));
  }
  console.locationChanged();
}

}  // namespace tarvik
