// Commands on the relations between directory objects: link, and locate and eventlist, which
// list the objects of one kind linked to an object.
#ifndef TARVIK_LINK_COMMANDS_H_
#define TARVIK_LINK_COMMANDS_H_

#include <string>

namespace tarvik {

class Console;

// link: asks for two objects by kind and name, and links the first to the second (or, with the
// operation "remove", removes that link).
void linkCommand(Console& console, const std::string& line);
// locate KIND: the IDs of the objects of KIND linked to a child of the current location.
void locateCommand(Console& console, const std::string& line);
// eventlist KIND: the names of the objects of KIND linked to a child of the current location;
// KIND "search" lists the search policies.
void eventlistCommand(Console& console, const std::string& line);

}  // namespace tarvik

#endif  // TARVIK_LINK_COMMANDS_H_
