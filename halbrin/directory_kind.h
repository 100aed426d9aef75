#pragma once

#include <string_view>
#include <vector>

#include "halbrin/directory_connection.h"

namespace halbrin {

// The directory product behind the server, as far as the tool cares: it decides whether and how
// the public OU gets an access rule. The numbers are the ones users see in diagnostics.
enum class DirectoryKind : int {
  kUnknown = 0,
  kOpenLdap = 1,
  kIPlanet = 2,
  kEDirectory = 3,
};

// The root DSE attributes the detection asks for, in the order they are requested.
const std::vector<std::string>& rootDseAttributesWanted();

// Decides the kind from the root DSE attributes in server order. Starts at kUnknown; every
// matching attribute overwrites the kind, so the last match wins:
//   "objectclass" / "objectClass" with a value equal to "OpenLDAProotDSE" -> kOpenLdap;
//   "vendorName" with a value beginning with "Novell"                      -> kEDirectory;
//   "netscapemdsuffix", whatever its values                                -> kIPlanet.
// Names and values are compared exactly (case as written). Never fails.
DirectoryKind decideKind(const std::vector<Attribute>& rootDse);

// Reads the root DSE through `connection` and decides the kind; a failed search gives
// kUnknown. Does not throw beyond std::bad_alloc.
DirectoryKind detectKind(DirectoryConnection& connection);

// The line announcing `kind`, without its line ending.
std::string_view detectedMessage(DirectoryKind kind);

}  // namespace halbrin
