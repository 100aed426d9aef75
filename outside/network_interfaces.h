// NetworkInterfaces: a snapshot, taken at construction, of the machine's IPv4 interfaces that
// are up. Loopback interfaces are left out unless asked for, because the list is what a daemon
// advertises to other hosts. A machine with no such interface gives count() 0, which is not an
// error. An interface with several IPv4 addresses appears once per address. Immutable after
// construction, so any thread may read it.
#ifndef OUTSIDE_NETWORK_INTERFACES_H_
#define OUTSIDE_NETWORK_INTERFACES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace teska {

class NetworkInterface {
 public:
  NetworkInterface(std::string name, uint32_t address)
      : name_(std::move(name)), address_(address) {}

  const std::string& name() const { return name_; }
  uint32_t address() const { return address_; }  // IPv4, network order
  std::string getIPAddressString() const;        // dotted quad

 private:
  std::string name_;
  uint32_t address_;
};

class NetworkInterfaces {
 public:
  // `includeLoopback` adds loopback interfaces (IFF_LOOPBACK or 127.0.0.0/8); callers pass
  // false. Throws BaseException (what "getifaddrs") when the list cannot be read.
  explicit NetworkInterfaces(bool includeLoopback = false);

  std::size_t count() const { return interfaces_.size(); }
  // Precondition: index < count().
  const NetworkInterface& operator[](std::size_t index) const { return interfaces_[index]; }

 private:
  std::vector<NetworkInterface> interfaces_;
};

}  // namespace teska

#endif  // OUTSIDE_NETWORK_INTERFACES_H_
