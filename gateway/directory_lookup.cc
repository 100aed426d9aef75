#include "gateway/directory_lookup.h"

#include <set>
#include <utility>

#include <rpm/rpmver.h>

#include "gateway/ldap_text.h"

namespace nvo {

namespace {

constexpr int kNoSuchObject = 32;

}  // namespace

bool satisfiesOrder(const DirEntry& entry, const Condition& condition) {
  for (const std::string& value : entry.values(condition.attribute)) {
    int order = rpmvercmp(value.c_str(), condition.value.c_str());
    if (condition.op == CompareOp::kLt ? order < 0 : order > 0) {
      return true;
    }
  }
  return false;
}

const std::vector<std::string>& DirectoryLookup::namingContexts() {
  if (contexts_) {
    return *contexts_;
  }
  contexts_.emplace();
  try {
    SearchRequest root{"", SearchScope::kBase, "(objectClass=*)", {"namingContexts"}, 0};
    for (const DirEntry& e : directory_.search(root)) {
      *contexts_ = e.values("namingContexts");
    }
  } catch (const DirectoryError& e) {
    if (e.code() < 0) {
      // The client library's own failures (server down, time-out) say nothing about the
      // root entry: nothing is cached, the command fails.
      contexts_.reset();
      throw;
    }
    // A session the root entry is hidden from still works below its own top entry.
  }
  if (contexts_->empty()) {
    auto rdns = splitDn(directory_.boundDn());
    if (rdns && !rdns->empty()) {
      contexts_->push_back(rdns->back());
    }
  }
  return *contexts_;
}

DirEntry DirectoryLookup::entryOf(const std::string& objectId,
                                  const std::vector<std::string>& attributes) {
  for (const std::string& context : namingContexts()) {
    SearchRequest request{context, SearchScope::kSubtree, uuidFilter(objectId), attributes, 2};
    std::vector<DirEntry> found;
    try {
      found = directory_.search(request);
    } catch (const DirectoryError& e) {
      if (e.code() != kNoSuchObject) {
        throw;
      }
    }
    if (!found.empty()) {
      return std::move(found.front());
    }
  }
  throw DirectoryError(kNoSuchObject, "No such object: no object with objectID " + objectId);
}

std::string DirectoryLookup::dnOf(const std::string& objectId) {
  return entryOf(objectId, {"1.1"}).dn;
}

std::optional<DirEntry> DirectoryLookup::entryAt(const std::string& dn, const std::string& filter,
                                                 const std::vector<std::string>& attributes) {
  try {
    std::vector<DirEntry> found =
        directory_.search({dn, SearchScope::kBase, filter, attributes, 0});
    if (!found.empty()) {
      return std::move(found.front());
    }
  } catch (const DirectoryError& e) {
    if (e.code() != kNoSuchObject) {
      throw;
    }
  }
  return std::nullopt;
}

std::vector<std::string> DirectoryLookup::basesOf(const std::string& baseId) {
  if (baseId.empty()) {
    return namingContexts();
  }
  return {dnOf(baseId)};
}

std::vector<DirEntry> DirectoryLookup::searchBelow(const std::vector<std::string>& bases,
                                                   const std::string& filter,
                                                   const std::vector<std::string>& attributes) {
  std::vector<DirEntry> entries;
  for (const std::string& base : bases) {
    std::vector<DirEntry> found =
        directory_.search({base, SearchScope::kSubtree, filter, attributes, 0});
    for (DirEntry& e : found) {
      entries.push_back(std::move(e));
    }
  }
  return entries;
}

std::vector<DirEntry> DirectoryLookup::run(const SearchSpec& spec,
                                           std::vector<std::string> attributes) {
  for (const Condition& c : spec.orderConditions) {
    attributes.push_back(c.attribute);
  }
  std::vector<std::string> bases = basesOf(spec.baseId);
  std::vector<DirEntry> matching;
  for (DirEntry& e : searchBelow(bases, spec.filter, attributes)) {
    bool keep = true;
    for (const Condition& c : spec.orderConditions) {
      keep = keep && satisfiesOrder(e, c);
    }
    if (keep) {
      matching.push_back(std::move(e));
    }
  }
  if (!spec.negate) {
    return matching;
  }
  // Not matching: every entry of the class below the bases but those that match.
  std::set<std::string> matched;
  for (const DirEntry& e : matching) {
    matched.insert(lowerAscii(e.dn));
  }
  std::string everything = spec.classFilter.empty() ? "(objectClass=*)" : spec.classFilter;
  std::vector<DirEntry> others;
  for (DirEntry& e : searchBelow(bases, everything, attributes)) {
    if (matched.count(lowerAscii(e.dn)) == 0) {
      others.push_back(std::move(e));
    }
  }
  return others;
}

}  // namespace nvo
