#include "halbrin/repository_layout.h"

namespace halbrin {
namespace {

constexpr std::string_view kRpmPrefix = "ou=RPM, ";
constexpr std::string_view kSecurePrefix = "ou=secure, ";
constexpr std::string_view kPublicPrefix = "ou=pub, ";

constexpr std::string_view kAciBeforeDn = "(target=\"ldap:///";
constexpr std::string_view kAciAfterDn =
    "\")(targetattr=\"*\")(version 3.0; acl \"unknown\"; allow (all) userdn = "
    "\"ldap:///anyone\"; )";
constexpr std::string_view kEDirectoryAcl = "16#subtree#[Root]#[Entry Rights]";

std::string concat(std::string_view prefix, const std::string& rest) {
  std::string text;
  text.reserve(prefix.size() + rest.size());
  text.append(prefix);
  text.append(rest);
  return text;
}

}  // namespace

OuDns buildOuDns(const std::string& repository) {
  std::string rpm = concat(kRpmPrefix, repository);
  std::string secure = concat(kSecurePrefix, rpm);
  std::string pub = concat(kPublicPrefix, rpm);
  return {repository, std::move(rpm), std::move(secure), std::move(pub)};
}

const std::string* findOverlongDn(const OuDns& dns) {
  for (const std::string& dn : dns) {
    if (dn.size() > kMaxTextLength) {
      return &dn;
    }
  }
  return nullptr;
}

std::optional<std::string> firstComponentValue(std::string_view dn) {
  const std::size_t equals = dn.find('=');
  if (equals == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t comma = dn.find(',', equals + 1);
  if (comma == std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(dn.substr(equals + 1, comma - equals - 1));
}

std::optional<Attribute> accessRule(DirectoryKind kind, const std::string& publicDn) {
  switch (kind) {
    case DirectoryKind::kIPlanet: {
      std::string aci = concat(kAciBeforeDn, publicDn);
      aci.append(kAciAfterDn);
      return Attribute{"aci", {std::move(aci)}};
    }
    case DirectoryKind::kEDirectory:
      return Attribute{"ACL", {std::string(kEDirectoryAcl)}};
    case DirectoryKind::kUnknown:
    case DirectoryKind::kOpenLdap:
      break;
  }
  return std::nullopt;
}

}  // namespace halbrin
