#include "tarvik/command_table.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tarvik/event_commands.h"
#include "tarvik/inventory_commands.h"
#include "tarvik/link_commands.h"
#include "tarvik/navigation_commands.h"
#include "tarvik/object_commands.h"

namespace tarvik {
namespace {

constexpr Match kWhole = Match::kWholeLine;
constexpr Match kWord = Match::kFirstWord;

constexpr std::array kCommands{
    Command{"quit", kWhole, Argument::kNone, 2, false, &quitCommand},
    Command{"q", kWhole, Argument::kNone, -1, true, &quitCommand},
    Command{"help", kWhole, Argument::kNone, 1, false, &helpCommand},
    Command{"rpmlink", kWhole, Argument::kNone, 17, false, &rpmlinkCommand},
    Command{"rename", kWord, Argument::kNone, 15, false, &renameCommand},
    Command{"move", kWord, Argument::kNone, 16, false, &moveCommand},
    Command{"ls", kWhole, Argument::kNone, 10, false, &lsCommand},
    Command{"cd", kWord, Argument::kChildName, 3, false, &cdCommand},
    Command{"cat", kWord, Argument::kChildName, 0, false, &catCommand},
    Command{"create", kWord, Argument::kText, 6, false, &createCommand},
    Command{"delete", kWord, Argument::kChildName, 9, false, &deleteCommand},
    Command{"modify", kWord, Argument::kChildName, 13, false, &modifyCommand},
    Command{"locate", kWord, Argument::kText, 7, false, &locateCommand},
    Command{"readprinter", kWord, Argument::kText, 5, false, &readprinterCommand},
    Command{"search", kWord, Argument::kText, 11, false, &searchCommand},
    Command{"searchcomputers", kWord, Argument::kNone, 14, false, &searchcomputersCommand},
    Command{"getrpmdetails", kWord, Argument::kNone, 12, false, &getrpmdetailsCommand},
    Command{"link", kWord, Argument::kNone, 4, false, &linkCommand},
    Command{"fire", kWord, Argument::kText, -1, false, &fireCommand},
    Command{"resolve", kWord, Argument::kText, 8, false, &resolveCommand},
    Command{"eventlist", kWord, Argument::kText, -1, false, &eventlistCommand},
    Command{"cache", kWord, Argument::kText, -1, false, &cacheCommand},
};

std::string_view firstWord(std::string_view line) {
  return line.substr(0, line.find(' '));
}

}  // namespace

std::span<const Command> commandTable() {
  return kCommands;
}

const Command* findCommand(std::string_view line) {
  for (const Command& c : kCommands) {
    const std::string_view compared = c.match == Match::kWholeLine ? line : firstWord(line);
    if (compared == c.name) {
      return &c;
    }
  }
  return nullptr;
}

std::string helpText() {
  std::vector<std::string_view> slots;
  for (const Command& c : kCommands) {
    if (c.helpSlot >= 0) {
      slots.resize(std::max(slots.size(), static_cast<std::size_t>(c.helpSlot) + 1));
      slots[static_cast<std::size_t>(c.helpSlot)] = c.name;
    }
  }
  // Columns of 20 characters; the third is as wide as its longest name (15), and the closing
  // row ends with its last name.
  constexpr std::array<std::size_t, 3> kWidths{20, 20, 15};
  std::string text = "*** TARVIK commands ********************************\n";
  for (std::size_t row = 0; row * 3 < slots.size(); ++row) {
    std::string line;
    for (std::size_t col = 0; col < 3 && row * 3 + col < slots.size(); ++col) {
      const std::string_view name = slots[row * 3 + col];
      line.append(name).append(kWidths[col] > name.size() ? kWidths[col] - name.size() : 0, ' ');
    }
    if ((row + 1) * 3 >= slots.size()) {
      line.erase(line.find_last_not_of(' ') + 1);
    }
    text.append(line).append("\n");
  }
  return text;
}

}  // namespace tarvik
