// GatewaySide: the five gateway commands the gateway figures measure, as each side of a figure
// carries them out (LdapReference over raw libldap, GatewayClient through MUXClient). Every call
// throws std::runtime_error when the directory or the gateway refuses it.
#ifndef BENCH_GATEWAY_SIDE_H_
#define BENCH_GATEWAY_SIDE_H_

#include <cstddef>
#include <string>

namespace nvo_bench {

class GatewaySide {
 public:
  virtual ~GatewaySide() = default;

  // The objectID of the entry named `dn`, or empty when there is none (resolveObject).
  virtual std::string resolve(const std::string& dn) = 0;
  // The objectID of the computer with MAC `mac` below the container `containerId`, or empty
  // (the agent's searchObjects).
  virtual std::string searchByMac(const std::string& containerId, const std::string& mac) = 0;
  // Creates computer `name` below `containerId` with `password` (stored hashed) and `mac`;
  // returns its objectID (the agent's createObject).
  virtual std::string add(const std::string& containerId, const std::string& name,
                          const std::string& password, const std::string& mac) = 0;
  // Sets the password of `objectId` (the agent's modifyObject).
  virtual void setPassword(const std::string& objectId, const std::string& password) = 0;
  // Lists the children of `containerId` with their header attributes and returns how many
  // there were (enumerateObjects).
  virtual std::size_t enumerate(const std::string& containerId) = 0;
};

}  // namespace nvo_bench

#endif  // BENCH_GATEWAY_SIDE_H_
