// LdapReference: the reference side of the gateway figures. It does over libldap the least a
// program must do to carry out each gateway command the bench measures, on one bound LDAPv3
// connection: the directory operations the command needs and nothing else (no command text
// built or parsed, no reply written). An objectID is an entryUUID, found by a subtree search
// below the directory's base, as the gateway must find it.
//
// Every call throws std::runtime_error naming the operation and the library's text when the
// directory refuses it. Not thread-safe.
#ifndef BENCH_LDAP_REFERENCE_H_
#define BENCH_LDAP_REFERENCE_H_

#include <cstddef>
#include <memory>
#include <string>

namespace nvo_bench {

class LdapReference {
 public:
  // Connects to `url` and binds as `dn` with `password`.
  LdapReference(const std::string& url, const std::string& dn, const std::string& password,
                std::string base);
  LdapReference(const LdapReference&) = delete;
  LdapReference& operator=(const LdapReference&) = delete;
  ~LdapReference();

  // The objectID of the entry named `dn`, or empty when there is none (resolveObject).
  std::string resolve(const std::string& dn);
  // The objectID of the computer with MAC `mac` below the container `containerId`, or empty
  // (the agent's searchObjects).
  std::string searchByMac(const std::string& containerId, const std::string& mac);
  // Creates computer `name` below `containerId` with `password` (set hashed through Password
  // Modify) and `mac`; returns its objectID (the agent's createObject).
  std::string add(const std::string& containerId, const std::string& name,
                  const std::string& password, const std::string& mac);
  // Sets the password of `objectId` (the agent's modifyObject).
  void setPassword(const std::string& objectId, const std::string& password);
  // Reads the header attributes of every child of `containerId` and returns how many there
  // were (enumerateObjects).
  std::size_t enumerate(const std::string& containerId);

 private:
  struct Connection;
  std::string dnOf(const std::string& objectId);

  std::unique_ptr<Connection> connection_;
  std::string base_;
};

}  // namespace nvo_bench

#endif  // BENCH_LDAP_REFERENCE_H_
