// The raw XML pieces of the agent's gateway commands. Every value joined to them is escaped as
// XML text, so a workstation's MAC text stays one value however it is written: it cannot close
// an element and add search parameters or attributes of its own.
#ifndef BRENXD_COMMAND_BODIES_H_
#define BRENXD_COMMAND_BODIES_H_

#include <string>

namespace brenxd {

// searchObjects: computers whose id type is 1 (a MAC address) and whose id is `mac`.
std::string searchParamsBody(const std::string& mac);
// createObject: the password, id type 1 and the MAC as attributes of the new computer.
std::string createAttributesBody(const std::string& password, const std::string& mac);
// modifyObject: the password replaced.
std::string replacePasswordBody(const std::string& password);

}  // namespace brenxd

#endif  // BRENXD_COMMAND_BODIES_H_
