// The console's commands as data: one table, in the order lines are tested against it, drives
// dispatch, the help text and Tab completion.
//
// A row matches either the whole line exactly or the line's first word (the text before the
// first blank, or the whole line). Handlers receive the whole line; those that take an
// argument read it with argumentOf (console.h).
#ifndef TARVIK_COMMAND_TABLE_H_
#define TARVIK_COMMAND_TABLE_H_

#include <span>
#include <string>
#include <string_view>

namespace tarvik {

class Console;

using Handler = void (*)(Console& console, const std::string& line);

enum class Match { kWholeLine, kFirstWord };

// What follows the command name, for completion: nothing to complete, free text, or the
// display name of a child of the current location.
enum class Argument { kNone, kText, kChildName };

struct Command {
  std::string_view name;
  Match match;
  Argument argument;
  int helpSlot;  // place in the help text (row by row, three per row); -1: not listed
  bool alias;    // another name of the row before it; not offered by completion
  Handler handler;
};

// Every row, in test order.
std::span<const Command> commandTable();

// The first row that `line` matches, or null.
const Command* findCommand(std::string_view line);

// The help text, every line ending with a newline.
std::string helpText();

}  // namespace tarvik

#endif  // TARVIK_COMMAND_TABLE_H_
