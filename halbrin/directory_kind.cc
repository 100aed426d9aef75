#include "halbrin/directory_kind.h"

#include <algorithm>
#include <string>

namespace halbrin {
namespace {

bool anyValue(const Attribute& attribute, bool (*matches)(std::string_view)) {
  return std::any_of(attribute.values.begin(), attribute.values.end(),
                     [matches](const std::string& value) { return matches(value); });
}

bool isOpenLdapRootClass(std::string_view value) {
  return value == "OpenLDAProotDSE";
}

bool isNovellVendor(std::string_view value) {
  return value.starts_with("Novell");
}

}  // namespace

const std::vector<std::string>& rootDseAttributesWanted() {
  static const std::vector<std::string> kWanted = {"namingcontexts", "objectclass", "vendorName",
                                                   "netscapemdsuffix"};
  return kWanted;
}

DirectoryKind decideKind(const std::vector<Attribute>& rootDse) {
  DirectoryKind kind = DirectoryKind::kUnknown;
  for (const Attribute& attribute : rootDse) {
    if (attribute.name == "objectclass" || attribute.name == "objectClass") {
      if (anyValue(attribute, isOpenLdapRootClass)) {
        kind = DirectoryKind::kOpenLdap;
      }
    } else if (attribute.name == "vendorName") {
      if (anyValue(attribute, isNovellVendor)) {
        kind = DirectoryKind::kEDirectory;
      }
    } else if (attribute.name == "netscapemdsuffix") {
      kind = DirectoryKind::kIPlanet;
    }
  }
  return kind;
}

DirectoryKind detectKind(DirectoryConnection& connection) {
  std::optional<std::vector<Attribute>> rootDse = connection.readRootDse(rootDseAttributesWanted());
  if (!rootDse) {
    return DirectoryKind::kUnknown;
  }
  return decideKind(*rootDse);
}

std::string_view detectedMessage(DirectoryKind kind) {
  switch (kind) {
    case DirectoryKind::kOpenLdap:
      return "Detected OpenLDAP directory";
    case DirectoryKind::kIPlanet:
      return "Detected iPlanet LDAP directory";
    case DirectoryKind::kEDirectory:
      return "Detected eDirectory LDAP directory, using defaults";
    case DirectoryKind::kUnknown:
      break;
  }
  return "Detected unknown LDAP directory, using defaults";
}

}  // namespace halbrin
