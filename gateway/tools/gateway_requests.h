// The command documents nvo-rpm-import and nvo-inventory send, and what they make of the
// replies. Building a document is pure; the steps that talk go through a MUXClient only.
#ifndef GATEWAY_TOOLS_GATEWAY_REQUESTS_H_
#define GATEWAY_TOOLS_GATEWAY_REQUESTS_H_

#include <optional>
#include <string>
#include <vector>

#include "gateway/mux_client.h"
#include "gateway/tools/packages.h"

namespace nvo::tools {

// --- the software repository ---

// A repository unit below ou=RPM,ou=SoftwareRepository: "pub" or "secure".
struct RepositoryUnit {
  std::string objectId;
  std::string dn;
};

// A fresh random UUID (version 4) in 8-4-4-4-12 lower-case hex.
std::string newUuid();

// searchObjects for organizational units named `unit`.
std::string findUnitCommand(const std::string& unit);
// searchObjects in the repository for orvantarpm entries with the package's name, version and
// release (the directory matches them case-insensitively; the caller compares exactly).
std::string findPackageCommand(const Package& package);
// createObject of an orvantarpm entry named by `uuid` below the unit `unitId`.
std::string createPackageCommand(const std::string& unitId, const std::string& uuid,
                                 const Package& package);

// The unit ou=<unit>,ou=RPM,ou=SoftwareRepository,<base> of the directory; nullopt when it has
// none. Throws std::runtime_error when the directory refuses the search.
std::optional<RepositoryUnit> findRepositoryUnit(MUXClient& client, const std::string& unit);

struct ImportResult {
  bool added = false;
  std::string uuid;  // the new package's, or the one already there
};
// Adds `package` to `unit` unless a package of the same name, version and release is there.
// Throws std::runtime_error when the directory refuses.
ImportResult importPackage(MUXClient& client, const RepositoryUnit& unit, const Package& package);

// --- the computer's inventory ---

// replaceInventory for the session's own computer: the model (none: unknown) and packages.
std::string inventoryCommand(const std::optional<std::string>& model,
                             const std::vector<Package>& packages);

struct InventoryResult {
  std::string added;
  std::string removed;
  std::string unchanged;
};
// Sends the report; throws std::runtime_error when the directory refuses it.
InventoryResult reportInventory(MUXClient& client, const std::optional<std::string>& model,
                                const std::vector<Package>& packages);

}  // namespace nvo::tools

#endif  // GATEWAY_TOOLS_GATEWAY_REQUESTS_H_
