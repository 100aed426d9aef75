// Debugging commands that call the gateway client library's cache and event functions directly:
// cache and fire.
#ifndef TARVIK_EVENT_COMMANDS_H_
#define TARVIK_EVENT_COMMANDS_H_

#include <string>

namespace tarvik {

class Console;

// cache CLASS: fills and reads the library's cache of linked objects, printing one line per
// call.
void cacheCommand(Console& console, const std::string& line);
// fire EVENT: signals the event through the event service.
void fireCommand(Console& console, const std::string& line);

}  // namespace tarvik

#endif  // TARVIK_EVENT_COMMANDS_H_
