// Package facts the gateway tools read from the machine: an RPM file's name, version and
// release (librpm), the installed packages of dpkg's status database or of an RPM database,
// and the hardware model. Nothing here talks to the directory.
#ifndef GATEWAY_TOOLS_PACKAGES_H_
#define GATEWAY_TOOLS_PACKAGES_H_

#include <optional>
#include <string>
#include <vector>

namespace nvo::tools {

struct Package {
  std::string name;
  std::string version;
  std::string release;
  std::string arch;

  bool operator==(const Package&) const = default;
};

// The name, version, release and architecture in the header of the RPM file `path`; the
// signature is not checked (the repository takes what the administrator gives it). nullopt
// with `error` set when the file cannot be read or is no RPM package.
std::optional<Package> readRpmFile(const std::string& path, std::string& error);

// The installed packages of an RPM database (`dbPath`, or rpm's configured one when empty),
// without the gpg-pubkey pseudo-packages. nullopt with `error` when it cannot be opened.
std::optional<std::vector<Package>> readRpmDatabase(const std::string& dbPath, std::string& error);

// A Debian version "[epoch:]upstream[-revision]" as the inventory keeps it: version = upstream
// (the epoch dropped), release = revision (empty for a native package).
Package debianPackage(const std::string& name, const std::string& debianVersion,
                      const std::string& arch);

// The packages dpkg's status database (the text of /var/lib/dpkg/status) records as installed
// (Status "... installed"), in the file's order. Stanzas without Package or Version are
// skipped.
std::vector<Package> parseDpkgStatus(const std::string& text);

// The hardware model in the file `path` (/sys/class/dmi/id/product_name): its first line,
// trimmed; nullopt with `reason` when the file is absent, unreadable or blank.
std::optional<std::string> readModel(const std::string& path, std::string& reason);

}  // namespace nvo::tools

#endif  // GATEWAY_TOOLS_PACKAGES_H_
