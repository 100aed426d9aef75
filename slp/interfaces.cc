#include "slp/interfaces.h"

#include <ifaddrs.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include <net/if.h>
#include <netinet/in.h>

#include "slp/socket_ops.h"

namespace vslp {

std::vector<InterfaceAddress> listInterfaces() {
  ifaddrs* raw = nullptr;
  if (::getifaddrs(&raw) != 0) {
    return {};
  }
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> list(raw, &::freeifaddrs);
  std::vector<InterfaceAddress> out;
  for (ifaddrs* i = raw; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
        (i->ifa_flags & IFF_UP) == 0) {
      continue;
    }
    sockaddr_in sa{};
    std::memcpy(&sa, i->ifa_addr, sizeof sa);
    InterfaceAddress a;
    a.name = i->ifa_name;
    a.index = static_cast<int>(::if_nametoindex(i->ifa_name));
    a.address = Endpoint::from(sa).addr;
    a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    a.multicast = (i->ifa_flags & IFF_MULTICAST) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
    out.push_back(a);
  }
  return out;
}

std::vector<InterfaceAddress> multicastInterfaces(const std::vector<InterfaceAddress>& all,
                                                  const std::vector<std::string>& configured) {
  std::vector<InterfaceAddress> out;
  for (const InterfaceAddress& a : all) {
    if (a.loopback || !a.multicast) {
      continue;
    }
    if (!configured.empty() &&
        std::none_of(configured.begin(), configured.end(),
                     [&a](const std::string& text) { return parseAddress(text) == a.address; })) {
      continue;
    }
    bool seen = std::any_of(out.begin(), out.end(),
                            [&a](const InterfaceAddress& o) { return o.index == a.index; });
    if (!seen) {
      out.push_back(a);
    }
  }
  return out;
}

}  // namespace vslp
