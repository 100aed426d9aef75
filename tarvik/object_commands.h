// Commands that read and change single objects below the current location: cat, create,
// delete, modify, rename, move, resolve and search.
#ifndef TARVIK_OBJECT_COMMANDS_H_
#define TARVIK_OBJECT_COMMANDS_H_

#include <string>
#include <string_view>

#include "gateway/dom_node.h"

namespace tarvik {

class Console;

// cat NAME | cat .: prints the object's attributes (a stored schedule in its own form).
void catCommand(Console& console, const std::string& line);
// create CLASS: asks for a name and attributes and creates a child of the current location;
// the classes orvantaaction and orvantapolicy have their own dialogues.
void createCommand(Console& console, const std::string& line);
// delete NAME | delete *: removes one child, or every listed child, after a confirmation.
void deleteCommand(Console& console, const std::string& line);
// modify NAME: adds, deletes or replaces values of the child's attributes.
void modifyCommand(Console& console, const std::string& line);
// rename, move: give a child a new name, or a new parent container.
void renameCommand(Console& console, const std::string& line);
void moveCommand(Console& console, const std::string& line);
// resolve DN: prints the object ID of a directory name.
void resolveCommand(Console& console, const std::string& line);
// search CLASS: a free search with return attributes and conditions.
void searchCommand(Console& console, const std::string& line);

// The end of every creation: after the command-result check, a non-empty objectID child of
// `answer` prints `label` + ID and discards the listing; an empty one prints "Me thinks we
// don't understand".
void reportCreated(Console& console, nvo::DOM_Node answer, std::string_view label);

}  // namespace tarvik

#endif  // TARVIK_OBJECT_COMMANDS_H_
