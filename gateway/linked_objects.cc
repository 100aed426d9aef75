#include "gateway/linked_objects.h"

#include <algorithm>
#include <set>

#include "gateway/command_reply.h"
#include "gateway/ldap_text.h"

namespace nvo {

namespace {

const char kLinkAttribute[] = "orvantalink";
const char kLinkHolder[] = "orvantalinkholder";

bool holds(const std::vector<std::string>& values, const std::string& wanted) {
  std::string lower = lowerAscii(wanted);
  return std::any_of(values.begin(), values.end(),
                     [&](const std::string& v) { return lowerAscii(v) == lower; });
}

// The entries whose links count for `dn`: itself, the groups holding it, its ancestors.
std::vector<DirEntry> holdersOf(DirectoryLookup& lookup, const std::string& dn) {
  std::vector<DirEntry> holders;
  const std::vector<std::string> linkOnly = {kLinkAttribute};
  if (auto self = lookup.entryAt(dn, "(objectClass=*)", linkOnly)) {
    holders.push_back(std::move(*self));
  } else {
    throw DirectoryError(32, "No such object: " + dn);
  }
  std::string groups =
      "(&(objectClass=orvantacomputergroup)(member=" + escapeFilterValue(dn) + "))";
  std::vector<std::string> contexts;
  for (const std::string& c : lookup.namingContexts()) {
    if (dnIsWithin(dn, c)) {
      contexts.push_back(c);
    }
  }
  for (DirEntry& g : lookup.searchBelow(contexts, groups, linkOnly)) {
    holders.push_back(std::move(g));
  }
  for (std::string up = parentDn(dn); !up.empty(); up = parentDn(up)) {
    if (!std::any_of(contexts.begin(), contexts.end(),
                     [&](const std::string& c) { return dnIsWithin(up, c); })) {
      break;
    }
    if (auto above = lookup.entryAt(up, "(objectClass=*)", linkOnly)) {
      holders.push_back(std::move(*above));
    }
  }
  return holders;
}

}  // namespace

void changeLink(DirectoryLookup& lookup, const LinkObjects& command) {
  std::string linked = lookup.dnOf(command.objectId);
  DirEntry holder = lookup.entryOf(command.targetId, {"objectClass", kLinkAttribute});
  std::vector<Modification> changes;
  if (command.add) {
    if (holds(holder.values(kLinkAttribute), linked)) {
      return;
    }
    if (!holds(holder.values("objectClass"), kLinkHolder)) {
      changes.push_back({Modification::Op::kAdd, "objectClass", {kLinkHolder}});
    }
    changes.push_back({Modification::Op::kAdd, kLinkAttribute, {linked}});
  } else {
    changes.push_back({Modification::Op::kDelete, kLinkAttribute, {linked}});
  }
  lookup.directory().modify(holder.dn, changes);
}

std::vector<DirEntry> linkedObjects(DirectoryLookup& lookup, const LinkedObjects& command) {
  std::string dn =
      command.objectId.empty() ? lookup.directory().boundDn() : lookup.dnOf(command.objectId);
  if (dn.empty()) {
    throw CommandError(kErrNoOwnObject, "no objectID, and the session has no object of its own");
  }
  std::vector<DirEntry> found;
  std::set<std::string> seen;
  for (const DirEntry& holder : holdersOf(lookup, dn)) {
    for (const std::string& target : holder.values(kLinkAttribute)) {
      if (!seen.insert(lowerAscii(target)).second) {
        continue;
      }
      // A link to an entry that is gone, or not of the class asked for, is skipped.
      if (auto entry = lookup.entryAt(target, command.filter, fullAttributes())) {
        found.push_back(std::move(*entry));
      }
    }
  }
  return found;
}

}  // namespace nvo
