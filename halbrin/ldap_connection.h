#pragma once

#include <memory>
#include <string>

#include "halbrin/directory_connection.h"

// The client library's session type, kept out of this header so that only the adapter sees the
// library's declarations.
struct ldap;

namespace halbrin {

// DirectoryConnection over OpenLDAP's client library: the only place that calls it. Owns one
// session handle; destruction unbinds it if unbind() was not called. Move-only; one thread.
class LdapConnection final : public DirectoryConnection {
 public:
  // ldap_init for `host` and `port`, then protocol version 3 (the library's default, version 2,
  // is refused by current servers; every operation the tool makes is the same in version 3).
  // Returns nullptr when the library gives no handle or refuses the version. Sends nothing:
  // the library connects on the first operation.
  static std::unique_ptr<DirectoryConnection> open(const std::string& host, int port);

  bool bind(const std::string& dn, const std::string& password) override;
  std::optional<std::vector<Attribute>> readRootDse(
      const std::vector<std::string>& wanted) override;
  int addEntry(const std::string& dn, const std::vector<Attribute>& attributes) override;
  void reportError(const std::string& operation) override;
  int unbind() override;

 private:
  struct Unbinder {
    void operator()(ldap* session) const;
  };
  using SessionPtr = std::unique_ptr<ldap, Unbinder>;

  explicit LdapConnection(SessionPtr session);

  SessionPtr session_;
};

}  // namespace halbrin
