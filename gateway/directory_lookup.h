// DirectoryLookup: the look-ups every command shares, over one Directory: the naming contexts,
// the entry behind an objectID, and a SearchSpec run with its order conditions and negation.
// One object per command run; the naming contexts live in a cache the caller keeps.
#ifndef GATEWAY_DIRECTORY_LOOKUP_H_
#define GATEWAY_DIRECTORY_LOOKUP_H_

#include <optional>
#include <string>
#include <vector>

#include "gateway/command.h"
#include "gateway/directory.h"

namespace nvo {

// True when some value of `entry` satisfies the LT or GT `condition`, comparing as package
// versions and releases compare (rpmvercmp).
bool satisfiesOrder(const DirEntry& entry, const Condition& condition);

class DirectoryLookup {
 public:
  // `contexts` caches the naming contexts across runs; empty until first asked for.
  DirectoryLookup(Directory& directory, std::optional<std::vector<std::string>>& contexts)
      : directory_(directory), contexts_(contexts) {}

  // The directory's naming contexts (from the root entry); when the root entry cannot be read,
  // the last RDN of the session's own DN.
  const std::vector<std::string>& namingContexts();
  // The entry whose objectID is `objectId`, with `attributes`; throws DirectoryError
  // noSuchObject (32) when there is none.
  DirEntry entryOf(const std::string& objectId, const std::vector<std::string>& attributes);
  std::string dnOf(const std::string& objectId);
  // The entry named `dn`, or nullopt when it does not exist.
  std::optional<DirEntry> entryAt(const std::string& dn, const std::string& filter,
                                  const std::vector<std::string>& attributes);
  // The bases of a search: the object `baseId`, or every naming context when it is empty.
  std::vector<std::string> basesOf(const std::string& baseId);
  // Every entry below `bases` (subtree) matching `filter`.
  std::vector<DirEntry> searchBelow(const std::vector<std::string>& bases,
                                    const std::string& filter,
                                    const std::vector<std::string>& attributes);
  // The entries `spec` selects, each with `attributes`.
  std::vector<DirEntry> run(const SearchSpec& spec, std::vector<std::string> attributes);

  Directory& directory() { return directory_; }

 private:
  Directory& directory_;
  std::optional<std::vector<std::string>>& contexts_;
};

}  // namespace nvo

#endif  // GATEWAY_DIRECTORY_LOOKUP_H_
