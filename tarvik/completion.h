// What Tab completes: a command name at the start of the line, or, after a command that takes
// the display name of a child (cd, cat, delete, modify), a name of the child listing. Pure.
#ifndef TARVIK_COMPLETION_H_
#define TARVIK_COMPLETION_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class ChildListing;

struct Completion {
  std::size_t start = 0;                // where the completed word begins in the line
  std::vector<std::string> candidates;  // replacements for the text from `start`, sorted
  bool appendBlank = false;             // after a lone candidate (a command taking an argument)
};

// The completion of `line`, the text before the cursor. A display name is completed as the
// whole argument (blanks included), from the listing as it is; nothing is fetched.
Completion completeLine(std::string_view line, const ChildListing& listing);

// The longest common prefix of `words`; empty for none.
std::string commonPrefix(const std::vector<std::string>& words);

}  // namespace tarvik

#endif  // TARVIK_COMPLETION_H_
