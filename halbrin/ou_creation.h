#pragma once

#include <optional>
#include <string>

#include "halbrin/directory_connection.h"

namespace halbrin {

// Result of createOu when the DN has no first component followed by a comma.
inline constexpr int kOuNoFirstComponent = 5;
// Result of createOu when the server refused the add for any reason but "already exists".
inline constexpr int kOuAddFailed = 4;

// Creates the organizational unit `dn` with objectclass "organizationalunit", `ou` = the value
// of the DN's first component, and `extra` when given.
// Returns kResultSuccess (created), kResultAlreadyExists (left as it was, `extra` not added),
// kOuNoFirstComponent (nothing sent), or kOuAddFailed after the library wrote its report for
// "ldap_add_ext_s" to standard error.
int createOu(DirectoryConnection& connection, const std::string& dn,
             const std::optional<Attribute>& extra);

}  // namespace halbrin
