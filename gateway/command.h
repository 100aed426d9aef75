// The typed form of every gateway command, and parseCommand, which turns a command document's
// `command` element into one. Parsing is pure: it reads the element, checks it, and builds
// every filter and RDN the command will send, escaped (see ldap_text.h), so that executing a
// command (command_engine.cc) never puts an unescaped request text into a filter or a name.
// Names the directory must supply (the DN behind an objectID, the naming contexts) are looked
// up at run time.
#ifndef GATEWAY_COMMAND_H_
#define GATEWAY_COMMAND_H_

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "gateway/command_engine.h"
#include "gateway/directory.h"
#include "gateway/dom_node.h"
#include "gateway/element_tree.h"

namespace nvo {

// The engine's own error numbers (LDAP result codes stay below 1000).
enum EngineError : int {
  kErrNotACommand = 1000,      // no document, or its element is not `command`
  kErrUnknownCommand = 1001,   // the `name` attribute names no command
  kErrUnknownCategory = 1002,  // the `cat` attribute names no category
  kErrMissingElement = 1003,   // a required element is absent or empty
  kErrBadObjectId = 1004,      // an objectID is not in entryUUID form
  kErrBadDn = 1005,            // an object name is not a well-formed DN
  kErrBadName = 1006,          // an attribute or class name is not an LDAP name
  kErrBadOperator = 1007,      // a condition's op or a modification's op is unknown
  kErrBadFlags = 1008,         // linkObjects flags other than "add" and "remove"
  kErrBadValue = 1009,         // a value the command cannot use (empty, several passwords...)
  kErrTooMany = 1010,          // more elements than the engine takes in one command
  kErrNoOwnObject = 1011,      // no objectID, and the session has no object of its own
  kErrMoveBelowItself = 1012,  // moveObject to the object itself or below it
  kErrInternal = 1099,         // an unexpected failure inside the engine
};

// Bounds on one command, so that one document cannot make the engine build a huge request.
inline constexpr std::size_t kMaxConditions = 64;
inline constexpr std::size_t kMaxAttributes = 1024;
inline constexpr std::size_t kMaxUuids = 10000;
inline constexpr std::size_t kMaxPackages = 20000;
inline constexpr std::size_t kMaxPackageFieldBytes = 256;
// UUIDs asked for in one search filter of getRPMDetailsFromUUIDsBig.
inline constexpr std::size_t kUuidsPerFilter = 100;

enum class CompareOp { kEq, kLt, kGt, kIs };

// One search condition: `filter` is its part of the server's filter (EQ and IS exactly; LT and
// GT as presence, the order being checked by the engine with package-version order).
struct Condition {
  std::string attribute;  // lower case
  CompareOp op = CompareOp::kEq;
  std::string value;
  std::string filter;
};

// A search over entries: below the object `baseId` (the whole directory when empty), entries
// matching `filter` (class and every condition's filter part) whose LT/GT conditions hold.
// `negate` answers the entries of `classFilter` that do NOT match.
struct SearchSpec {
  std::string baseId;
  std::string classFilter;
  std::string filter;
  std::vector<Condition> orderConditions;  // the LT and GT conditions
  bool negate = false;
  std::vector<std::string> returnAttributes;  // lower case; never userpassword
};

struct EnumerateBaseObjects {};
struct EnumerateObjects {
  std::string objectId;
};
struct ReadObject {
  std::string objectId;
};
struct CreateObject {
  std::string parentId;
  std::string objectClass;
  std::string rdn;                       // escaped, e.g. "cn=pc\2c1"
  std::vector<DirAttribute> attributes;  // objectClass and the naming attribute included
  std::optional<std::string> password;
};
struct RemoveAllObjects {
  std::string objectId;
};
struct ModifyObject {
  std::string objectId;
  std::vector<Modification> changes;
  std::optional<std::string> password;
};
struct RenameObject {
  std::string objectId;
  std::string escapedValue;  // the new RDN value; its type stays the entry's own
};
struct MoveObject {
  std::string objectId;
  std::string newParentId;
};
struct ResolveObject {
  std::string dn;
};
struct SearchObjects {
  SearchSpec spec;
};
struct GetRpmDetails {
  std::vector<std::string> filters;  // one per kUuidsPerFilter UUIDs
};
struct SearchSwInventory {
  SearchSpec packages;  // installed-package entries below the base
};
struct SearchHwInventory {
  SearchSpec spec;  // computers below the base
};
// One installed package of an inventory report. No field holds white space, control
// characters or "/"; name and version are never empty.
struct InstalledPackage {
  std::string name;
  std::string version;
  std::string release;  // may be empty (the attribute is then left out)
  std::string arch;     // may be empty
};
// replaceInventory: the computer's whole inventory report, put in place in one transaction.
struct ReplaceInventory {
  std::string objectId;                    // empty: the session's own object
  std::optional<std::string> model;        // absent: unknown, any previous model is removed
  std::vector<InstalledPackage> packages;  // distinct, compared case-insensitively
};
struct ReadPrinter {
  std::string filter;
};
// findAllLinkedObjects (listNames false) and readLinkedObjects (true).
struct LinkedObjects {
  std::string objectId;  // empty: the session's own object
  std::string filter;    // what a linked object must match
  bool listNames = false;
};
struct LinkObjects {
  std::string objectId;  // the object linked...
  std::string targetId;  // ...to this one, which holds the link
  bool add = true;
};
struct GetObjectName {
  std::string objectId;
};

using CommandBody =
    std::variant<EnumerateBaseObjects, EnumerateObjects, ReadObject, CreateObject, RemoveAllObjects,
                 ModifyObject, RenameObject, MoveObject, ResolveObject, SearchObjects,
                 GetRpmDetails, SearchSwInventory, SearchHwInventory, ReplaceInventory, ReadPrinter,
                 LinkedObjects, LinkObjects, GetObjectName>;

struct Command {
  std::string name;  // as the document gave it
  CommandBody body;
};

// The typed command of a command document whose root is a `command` element. Throws
// CommandError (numbers above) naming what is wrong; never touches a directory. The DOM form
// reads the element `root` (the same as the tree form for the same document).
Command parseCommand(const xml::ElementTree& document);
Command parseCommand(DOM_Node root);

// The `cn` of an installed package's entry below its computer: name, version, release and
// architecture joined by "/" ("bash/5.2.15/2+b2/amd64"), one entry per distinct package.
std::string installedPackageCn(const InstalledPackage& package);

// The filter that finds the entry whose entryUUID is `objectId`.
std::string uuidFilter(const std::string& objectId);

}  // namespace nvo

#endif  // GATEWAY_COMMAND_H_
