// This workstation's primary network interface and its hardware address, as Linux shows them:
// the interface of the default route (/proc/net/route, lowest metric), or, without a default
// route, the first interface in /sys/class/net that is not loopback and has a hardware address.
#ifndef BRENXD_TOOLS_PRIMARY_INTERFACE_H_
#define BRENXD_TOOLS_PRIMARY_INTERFACE_H_

#include <optional>
#include <string>

namespace brenxd {

// The interface of the default route with the lowest metric in the text of /proc/net/route.
std::optional<std::string> defaultRouteInterface(const std::string& routeTable);

// The MAC address of the primary interface as the kernel writes it ("52:54:00:12:34:56"), or
// nothing when no interface has one.
std::optional<std::string> primaryMacAddress();

}  // namespace brenxd

#endif  // BRENXD_TOOLS_PRIMARY_INTERFACE_H_
