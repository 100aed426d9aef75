// Commands on the software repository, the computers' inventories and the printers: rpmlink,
// getrpmdetails, searchcomputers and readprinter.
#ifndef TARVIK_INVENTORY_COMMANDS_H_
#define TARVIK_INVENTORY_COMMANDS_H_

#include <string>

namespace tarvik {

class Console;

// rpmlink: adds the repository packages that match the RPM conditions to a profile's install
// or remove list (or takes them off it).
void rpmlinkCommand(Console& console, const std::string& line);
// getrpmdetails: name, version and release of the packages with the UUIDs typed.
void getrpmdetailsCommand(Console& console, const std::string& line);
// searchcomputers: the computers below the current location that have (or have not) matching
// software installed, or a matching hardware model.
void searchcomputersCommand(Console& console, const std::string& line);
// readprinter NAME: the attributes of the printer of that name.
void readprinterCommand(Console& console, const std::string& line);

}  // namespace tarvik

#endif  // TARVIK_INVENTORY_COMMANDS_H_
