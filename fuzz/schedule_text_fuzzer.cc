// Fuzz target: the console's schedule printer (tarvik::scheduleLines), which cat runs on the
// text stored in an action's orvantaschedule attribute: anyone who may write the action
// controls it.
//
// Properties checked besides "never crashes": the first line is "  orvantaschedule", the only
// one when the text is no document; every other line is one of the printer's labelled lines
// or the mask row under "SMTWTFS" (25 blanks and seven of '*' or ' '); no line holds a control
// character, so a stored value can neither add a line nor steer the terminal. A schedule the
// console itself writes with the input as its event name prints that name back exactly when it
// is printable ASCII.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tarvik/schedule.h"

namespace {

constexpr std::string_view kLabels[] = {
    "    Schedule Type      : ", "    Schedule Mask      : SMTWTFS", "    Random dispatch    : ",
    "    Schedule repeats   : ", "    Event Name         : ",        "    Date               : ",
    "    Start Time         : ", "    End Time           : ",        "    Repeat Time        : ",
    "    Duration           : ",
};

bool maskRow(std::string_view line) {
  return line.size() == 32 && line.substr(0, 25) == std::string(25, ' ') &&
         std::all_of(line.begin() + 25, line.end(), [](char c) { return c == '*' || c == ' '; });
}

void checkLines(const std::vector<std::string>& lines) {
  FUZZ_CHECK(!lines.empty() && lines.front() == "  orvantaschedule");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    FUZZ_CHECK(maskRow(line) ||
               std::any_of(std::begin(kLabels), std::end(kLabels),
                           [&](std::string_view label) { return line.starts_with(label); }));
    FUZZ_CHECK(std::none_of(line.begin(), line.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    }));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkLines(tarvik::scheduleLines(text));

  tarvik::Schedule event;
  event.type = "event";
  event.eventName = text;
  const std::vector<std::string> written = tarvik::scheduleLines(tarvik::scheduleDocument(event));
  checkLines(written);
  const bool printable = !text.empty() && std::all_of(text.begin(), text.end(),
                                                      [](char c) { return c >= 0x20 && c < 0x7F; });
  if (printable) {
    FUZZ_CHECK(written.size() == 3);
    FUZZ_CHECK(written[2] == "    Event Name         : " + text);
  }
  return 0;
}
