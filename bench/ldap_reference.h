// LdapReference: the reference side of the gateway figures. It does over libldap the least a
// program must do to carry out each gateway command the bench measures, on one bound LDAPv3
// connection: the directory operations the command needs and nothing else (no command text
// built or parsed, no reply written). An objectID is an entryUUID, found by a subtree search
// below the directory's base, as the gateway must find it.
//
// Calls throw std::runtime_error naming the operation and the library's text. Not thread-safe.
#ifndef BENCH_LDAP_REFERENCE_H_
#define BENCH_LDAP_REFERENCE_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "bench/gateway_side.h"

namespace nvo_bench {

class LdapReference : public GatewaySide {
 public:
  // Connects to `url` and binds as `dn` with `password`.
  LdapReference(const std::string& url, const std::string& dn, const std::string& password,
                std::string base);
  LdapReference(const LdapReference&) = delete;
  LdapReference& operator=(const LdapReference&) = delete;
  ~LdapReference() override;

  std::string resolve(const std::string& dn) override;
  std::string searchByMac(const std::string& containerId, const std::string& mac) override;
  std::string add(const std::string& containerId, const std::string& name,
                  const std::string& password, const std::string& mac) override;
  void setPassword(const std::string& objectId, const std::string& password) override;
  std::size_t enumerate(const std::string& containerId) override;

  // What a listing hands on per object: its DN and objectID.
  using Visit = std::function<void(const std::string& dn, const std::string& objectId)>;
  // enumerateObjects as the console asks for it: every child of `containerId` with its header
  // attributes, handed to `visit`; how many there were.
  std::size_t enumerate(const std::string& containerId, const Visit& visit);
  // enumerateBaseObjects: the naming contexts read from the root entry, then each context's
  // own entry with its header attributes, handed to `visit`.
  void enumerateBase(const Visit& visit);

 private:
  struct Connection;
  std::string dnOf(const std::string& objectId);

  std::unique_ptr<Connection> connection_;
  std::string base_;
};

}  // namespace nvo_bench

#endif  // BENCH_LDAP_REFERENCE_H_
