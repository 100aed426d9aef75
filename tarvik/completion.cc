#include "tarvik/completion.h"

#include <algorithm>

#include "tarvik/command_table.h"
#include "tarvik/location.h"

namespace tarvik {
namespace {

Completion commandNames(std::string_view typed) {
  Completion c;
  const Command* only = nullptr;
  for (const Command& command : commandTable()) {
    if (!command.alias && command.name.starts_with(typed)) {
      c.candidates.emplace_back(command.name);
      only = &command;
    }
  }
  std::sort(c.candidates.begin(), c.candidates.end());
  c.appendBlank = c.candidates.size() == 1 && only->argument != Argument::kNone;
  return c;
}

}  // namespace

Completion completeLine(std::string_view line, const ChildListing& listing) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) {
    return commandNames(line);
  }
  const std::string_view name = line.substr(0, blank);
  const auto table = commandTable();
  const auto command = std::find_if(table.begin(), table.end(), [&](const Command& c) {
    return c.name == name && c.match == Match::kFirstWord;
  });
  Completion c;
  c.start = blank + 1;
  if (command == table.end() || command->argument != Argument::kChildName) {
    return c;
  }
  const std::string_view typed = line.substr(blank + 1);
  for (const auto& [displayName, entry] : listing.entries()) {
    if (std::string_view(displayName).starts_with(typed)) {
      c.candidates.push_back(displayName);
    }
  }
  return c;
}

std::string commonPrefix(const std::vector<std::string>& words) {
  if (words.empty()) {
    return {};
  }
  std::string prefix = words.front();
  for (const std::string& w : words) {
    const auto end = std::mismatch(prefix.begin(), prefix.end(), w.begin(), w.end()).first;
    prefix.erase(end, prefix.end());
  }
  return prefix;
}

}  // namespace tarvik
