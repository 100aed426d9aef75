// Links between objects. An object B holds links in its attribute orvantalink (DN-valued,
// brought by the auxiliary class orvantalinkholder): linking A to B adds A's DN there. The
// objects linked to X are those whose DN is held by X itself, by any orvantacomputergroup that
// has X as a member, or by any entry above X up to its naming context.
#ifndef GATEWAY_LINKED_OBJECTS_H_
#define GATEWAY_LINKED_OBJECTS_H_

#include <string>
#include <vector>

#include "gateway/command.h"
#include "gateway/directory_lookup.h"

namespace nvo {

// Keeps the directory names in orvantalink and member values right when entries move or go
// (the directory does not do it by itself): after a modify-DN of `oldDn` to `newDn`, a value
// naming an entry of the moved subtree names it by its new name; after removing `removed`,
// values naming them are deleted. Best effort: a holder that refuses the change (a group
// that would lose its last required member) keeps its value. A directory that no longer
// answers (time-out, server gone) ends the work at once with its DirectoryError.
void followRename(DirectoryLookup& lookup, const std::string& oldDn, const std::string& newDn);
void forgetEntries(DirectoryLookup& lookup, const std::vector<std::string>& removed);

// Adds or removes the link of `command`. Adding a link that exists changes nothing; removing
// one that does not exist throws the directory's noSuchAttribute.
void changeLink(DirectoryLookup& lookup, const LinkObjects& command);

// The objects linked to the command's object (the session's own one when it names none) that
// match the command's filter, each with every attribute, in the order found, without repeats.
// Throws CommandError kErrNoOwnObject for an anonymous session without objectID.
std::vector<DirEntry> linkedObjects(DirectoryLookup& lookup, const LinkedObjects& command);

}  // namespace nvo

#endif  // GATEWAY_LINKED_OBJECTS_H_
