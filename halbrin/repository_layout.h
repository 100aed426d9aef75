#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "halbrin/directory_connection.h"
#include "halbrin/directory_kind.h"

namespace halbrin {

// Longest text the tool accepts for an argument or a built DN. Longer texts are refused before
// anything is sent: cutting a DN would create the wrong entries.
inline constexpr std::size_t kMaxTextLength = 199;

// Positions of the four OUs in creation order.
inline constexpr std::size_t kRepositoryOu = 0;
inline constexpr std::size_t kRpmOu = 1;
inline constexpr std::size_t kSecureOu = 2;
inline constexpr std::size_t kPublicOu = 3;

using OuDns = std::array<std::string, 4>;

// The DNs of the four OUs for repository DN `repository`, by plain concatenation (a blank after
// each added comma): the repository itself, "ou=RPM, " + it, "ou=secure, ou=RPM, " + it and
// "ou=pub, ou=RPM, " + it. Never cuts; the caller checks lengths against kMaxTextLength.
OuDns buildOuDns(const std::string& repository);

// The first of `dns` longer than kMaxTextLength, or nullptr when all fit.
const std::string* findOverlongDn(const OuDns& dns);

// The value of the first component of `dn`: the text after the first "=" up to, not including,
// the next ",". std::nullopt when `dn` has no "=", or no "," after it.
std::optional<std::string> firstComponentValue(std::string_view dn);

// The access rule attribute the public OU `publicDn` carries on a server of `kind`: `aci` for
// kIPlanet, `ACL` for kEDirectory, none for the others. The aci text embeds the whole DN.
std::optional<Attribute> accessRule(DirectoryKind kind, const std::string& publicDn);

}  // namespace halbrin
