#include "gateway/linked_objects.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

#include "gateway/command_reply.h"
#include "gateway/ldap_text.h"

namespace nvo {

namespace {

const char kLinkAttribute[] = "orvantalink";
const char kLinkHolder[] = "orvantalinkholder";

bool sameDn(const std::string& a, const std::string& b) {
  return dnIsWithin(a, b) && dnIsWithin(b, a);
}

bool holdsClass(const std::vector<std::string>& classes, const std::string& wanted) {
  return std::any_of(classes.begin(), classes.end(),
                     [&](const std::string& c) { return lowerAscii(c) == wanted; });
}

bool holdsDn(const std::vector<std::string>& dns, const std::string& wanted) {
  return std::any_of(dns.begin(), dns.end(),
                     [&](const std::string& dn) { return sameDn(dn, wanted); });
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

// Names, old to new (new empty: gone), looked up in batches so one filter stays small.
constexpr std::size_t kNamesPerFilter = 50;
const char* const kReferenceAttributes[] = {kLinkAttribute, "member"};

void repoint(DirectoryLookup& lookup,
             const std::vector<std::pair<std::string, std::string>>& names) {
  const std::vector<std::string> attributes(std::begin(kReferenceAttributes),
                                            std::end(kReferenceAttributes));
  for (std::size_t first = 0; first < names.size(); first += kNamesPerFilter) {
    std::size_t last = std::min(names.size(), first + kNamesPerFilter);
    std::string filter = "(|";
    for (std::size_t i = first; i < last; ++i) {
      for (const char* a : kReferenceAttributes) {
        filter += std::string("(") + a + "=" + escapeFilterValue(names[i].first) + ")";
      }
    }
    filter += ")";
    for (const DirEntry& holder : lookup.searchBelow(lookup.namingContexts(), filter, attributes)) {
      std::vector<Modification> changes;
      for (const char* a : kReferenceAttributes) {
        for (const std::string& value : holder.values(a)) {
          for (std::size_t i = first; i < last; ++i) {
            if (!sameDn(value, names[i].first)) {
              continue;
            }
            changes.push_back({Modification::Op::kDelete, a, {value}});
            if (!names[i].second.empty()) {
              changes.push_back({Modification::Op::kAdd, a, {names[i].second}});
            }
          }
        }
      }
      if (changes.empty()) {
        continue;
      }
      try {
        lookup.directory().modify(holder.dn, changes);
      } catch (const DirectoryError& e) {
        // A holder the directory refuses keeps its value (see followRename). A directory that
        // no longer answers (the client library's own codes) would cost every further holder
        // its own time-out: the command ends here with that failure.
        if (e.code() < 0) {
          throw;
        }
      }
    }
  }
}

}  // namespace

void followRename(DirectoryLookup& lookup, const std::string& oldDn, const std::string& newDn) {
  auto oldRdns = splitDn(oldDn);
  auto newRdns = splitDn(newDn);
  if (!oldRdns || !newRdns) {
    return;
  }
  std::vector<std::pair<std::string, std::string>> names;
  for (const DirEntry& e : lookup.searchBelow({newDn}, "(objectClass=*)", {"1.1"})) {
    auto rdns = splitDn(e.dn);
    if (!rdns || rdns->size() < newRdns->size()) {
      continue;
    }
    std::string former = oldDn;
    for (std::size_t i = rdns->size() - newRdns->size(); i-- > 0;) {
      former = (*rdns)[i] + "," + former;
    }
    names.emplace_back(former, e.dn);
  }
  repoint(lookup, names);
}

void forgetEntries(DirectoryLookup& lookup, const std::vector<std::string>& removed) {
  std::vector<std::pair<std::string, std::string>> names;
  for (const std::string& dn : removed) {
    names.emplace_back(dn, std::string());
  }
  repoint(lookup, names);
}

void changeLink(DirectoryLookup& lookup, const LinkObjects& command) {
  std::string linked = lookup.dnOf(command.objectId);
  DirEntry holder = lookup.entryOf(command.targetId, {"objectClass", kLinkAttribute});
  std::vector<Modification> changes;
  if (command.add) {
    if (holdsDn(holder.values(kLinkAttribute), linked)) {
      return;
    }
    if (!holdsClass(holder.values("objectClass"), kLinkHolder)) {
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
