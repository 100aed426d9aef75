// The host's IPv4 interface addresses (getifaddrs), and the selection the configuration
// property net.slp.interfaces makes among them. Any thread.
#ifndef SLP_INTERFACES_H_
#define SLP_INTERFACES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vslp {

struct InterfaceAddress {
  std::string name;
  int index = 0;
  uint32_t address = 0;  // host byte order
  bool loopback = false;
  bool multicast = false;  // up, running and multicast-capable
};

// Every IPv4 address of every interface that is up. Empty when the list cannot be read.
std::vector<InterfaceAddress> listInterfaces();

// The entries of `all` that are usable for multicast (not loopback, multicast-capable) and,
// when `configured` (dotted-decimal addresses) is not empty, listed there. One entry per
// interface index.
std::vector<InterfaceAddress> multicastInterfaces(const std::vector<InterfaceAddress>& all,
                                                  const std::vector<std::string>& configured);

}  // namespace vslp

#endif  // SLP_INTERFACES_H_
