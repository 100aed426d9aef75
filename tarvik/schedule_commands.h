// Creation of actions (with the schedule dialogue) and of policies, and the printing of a
// stored schedule that cat uses.
#ifndef TARVIK_SCHEDULE_COMMANDS_H_
#define TARVIK_SCHEDULE_COMMANDS_H_

#include <ostream>
#include <string>

namespace tarvik {

class Console;

// create orvantaaction: name, executable, schedule type and the questions of that type, then
// one createObject carrying the command line and the escaped schedule document. At end of
// input, a question that is asked until answered abandons the creation without sending.
void createAction(Console& console);

// create orvantapolicy: name, policy type and XML data, sent as one createObject.
void createPolicy(Console& console);

// Prints scheduleLines(text), each line ending with a newline.
void printSchedule(std::ostream& out, const std::string& text);

}  // namespace tarvik

#endif  // TARVIK_SCHEDULE_COMMANDS_H_
