// The shell's own commands: quit (and q), help, ls, cd.
#ifndef TARVIK_NAVIGATION_COMMANDS_H_
#define TARVIK_NAVIGATION_COMMANDS_H_

#include <string>

namespace tarvik {

class Console;

// Stops the command loop.
void quitCommand(Console& console, const std::string& line);
// Prints the help text.
void helpCommand(Console& console, const std::string& line);
// Loads the child listing when needed and prints it.
void lsCommand(Console& console, const std::string& line);
// Changes the current location: "/" to the root, ".." one level up, "..." two, "...." three,
// anything else down into the child of that display name.
void cdCommand(Console& console, const std::string& line);

}  // namespace tarvik

#endif  // TARVIK_NAVIGATION_COMMANDS_H_
