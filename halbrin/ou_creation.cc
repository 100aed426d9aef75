#include "halbrin/ou_creation.h"

#include <vector>

#include "halbrin/repository_layout.h"

namespace halbrin {

int createOu(DirectoryConnection& connection, const std::string& dn,
             const std::optional<Attribute>& extra) {
  std::optional<std::string> ou = firstComponentValue(dn);
  if (!ou) {
    return kOuNoFirstComponent;
  }
  std::vector<Attribute> attributes = {{"objectclass", {"organizationalunit"}},
                                       {"ou", {std::move(*ou)}}};
  if (extra) {
    attributes.push_back(*extra);
  }
  const int result = connection.addEntry(dn, attributes);
  if (result == kResultSuccess || result == kResultAlreadyExists) {
    return result;
  }
  connection.reportError("ldap_add_ext_s");
  return kOuAddFailed;
}

}  // namespace halbrin
