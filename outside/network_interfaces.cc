#include "outside/network_interfaces.h"

#include <errno.h>
#include <ifaddrs.h>
#include <string.h>

#include <memory>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include "outside/base_exception.h"

namespace teska {
namespace {

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

bool isLoopback(const ifaddrs& entry, uint32_t address) {
  return (entry.ifa_flags & IFF_LOOPBACK) != 0 || (ntohl(address) >> 24) == 127;
}

}  // namespace

std::string NetworkInterface::getIPAddressString() const {
  in_addr address{};
  address.s_addr = address_;
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
    return std::string();
  }
  return text;
}

NetworkInterfaces::NetworkInterfaces(bool includeLoopback) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    // An empty list would look like a machine without interfaces and go unnoticed.
    char buffer[128];
    throw BaseException("getifaddrs", std::string("NetworkInterfaces - getifaddrs: ") +
                                          strerror_r(errno, buffer, sizeof buffer));
  }
  std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);
  for (const ifaddrs* entry = raw; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
        (entry->ifa_flags & IFF_UP) == 0) {
      continue;
    }
    sockaddr_in address{};
    memcpy(&address, entry->ifa_addr, sizeof address);
    if (!includeLoopback && isLoopback(*entry, address.sin_addr.s_addr)) {
      continue;
    }
    interfaces_.emplace_back(entry->ifa_name != nullptr ? entry->ifa_name : "",
                             address.sin_addr.s_addr);
  }
}

}  // namespace teska
