// What replaceInventory changes, worked out from what the directory holds: pure, so that the
// order of the changes (which slapd's transactions depend on) is tested without a server.
#ifndef GATEWAY_INVENTORY_PLAN_H_
#define GATEWAY_INVENTORY_PLAN_H_

#include <cstddef>
#include <string>
#include <vector>

#include "gateway/command.h"
#include "gateway/directory.h"

namespace nvo {

struct InventoryPlan {
  std::vector<DirChange> changes;  // in the order they must be applied
  std::size_t added = 0;
  std::size_t removed = 0;
  std::size_t unchanged = 0;
};

// The changes that make the inventory of `computerDn` the one `report` gives, from its present
// `orvantainstalledpackage` entries (with cn, orvantaname, orvantaversion, orvantarelease,
// orvantaarch) and its present `orvantamodel` values. An entry holding exactly a reported
// package under the name installedPackageCn gives it is kept; every other entry is deleted.
// Order: deletes of entries whose name a new entry takes, the adds, the other deletes, the
// model. slapd 2.5's mdb fails a transaction in which an entry loses its last child, so the
// computer keeps children throughout whenever the report has any package.
InventoryPlan planInventory(const std::string& computerDn, const std::vector<DirEntry>& present,
                            const std::vector<std::string>& presentModel,
                            const ReplaceInventory& report);

}  // namespace nvo

#endif  // GATEWAY_INVENTORY_PLAN_H_
