#include "gateway/command.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "gateway/element_tree.h"
#include "gateway/ldap_text.h"

namespace nvo {

namespace {

using Node = xml::ElementTree::Node;

// Reading the command's elements (the names of the document class's readers).
struct X {
  static std::string getName(Node n) { return n.name(); }
  static std::string getStringValue(Node n) { return n.text(); }
  static std::string getChildStringValue(Node n, std::string_view child) {
    return n.firstChild(child).text();
  }
  static std::string getAttributeValue(Node n, std::string_view name) { return n.attribute(name); }
  static Node findFirstChild(Node n, std::string_view name) { return n.firstChild(name); }
  static Node findNextSibling(Node n, std::string_view name) { return n.nextSibling(name); }
  static Node firstChild(Node n) { return n.firstChild(); }
  static Node nextSibling(Node n) { return n.nextSibling(); }
};

const std::set<std::string, std::less<>> kCategories = {
    "catNone", "catSWRepository", "catSWInventory", "catHWInventory", "RPM", "catRPMRepository"};

std::string trimmed(std::string_view text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == text.npos) {
    return {};
  }
  std::size_t last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

// The trimmed text of the first child `name`; throws when required and absent or empty.
std::string childText(Node root, const std::string& name, bool required) {
  std::string text = trimmed(X::getChildStringValue(root, name));
  if (required && text.empty()) {
    throw CommandError(kErrMissingElement, "missing element " + name);
  }
  return text;
}

std::string objectIdOf(Node root, const std::string& name, bool required) {
  std::string id = childText(root, name, required);
  if (!id.empty() && !isUuid(id)) {
    throw CommandError(kErrBadObjectId, name + " is not an object id: " + id);
  }
  return lowerAscii(id);
}

std::string checkedName(const std::string& name, const std::string& what) {
  if (!isAttributeName(name)) {
    throw CommandError(kErrBadName, what + " is not an LDAP name: " + name);
  }
  return lowerAscii(name);
}

std::string classFilter(const std::string& objectClass) {
  return "(objectClass=" + escapeFilterValue(objectClass) + ")";
}

std::string conjunction(const std::vector<std::string>& parts) {
  if (parts.empty()) {
    return "(objectClass=*)";
  }
  if (parts.size() == 1) {
    return parts.front();
  }
  std::string out = "(&";
  for (const std::string& p : parts) {
    out += p;
  }
  return out + ")";
}

CompareOp parseOp(const std::string& text) {
  static const std::map<std::string, CompareOp, std::less<>> kOps = {{"EQ", CompareOp::kEq},
                                                                     {"LT", CompareOp::kLt},
                                                                     {"GT", CompareOp::kGt},
                                                                     {"IS", CompareOp::kIs}};
  if (text.empty()) {
    return CompareOp::kEq;
  }
  auto it = kOps.find(text);
  if (it == kOps.end()) {
    throw CommandError(kErrBadOperator, "unknown operator " + text);
  }
  return it->second;
}

Condition parseCondition(Node element) {
  Condition c;
  c.attribute = checkedName(X::getName(element), "search attribute");
  c.op = parseOp(X::getAttributeValue(element, "op"));
  c.value = X::getStringValue(element);
  if (c.value.empty()) {
    throw CommandError(kErrBadValue, "empty value for search attribute " + c.attribute);
  }
  switch (c.op) {
    case CompareOp::kEq:
      c.filter = "(" + c.attribute + "=" + escapeFilterValue(c.value) + ")";
      break;
    case CompareOp::kIs:
      c.filter = "(" + c.attribute + "=" + wildcardFilterValue(c.value) + ")";
      break;
    case CompareOp::kLt:
    case CompareOp::kGt:
      c.filter = "(" + c.attribute + "=*)";
      break;
  }
  return c;
}

// Builds spec.filter from the class filter and the `searchParams` conditions of `root`.
void readSearchParams(Node root, SearchSpec& spec) {
  std::vector<std::string> parts;
  if (!spec.classFilter.empty()) {
    parts.push_back(spec.classFilter);
  }
  Node params = X::findFirstChild(root, "searchParams");
  std::size_t count = 0;
  for (Node e = X::firstChild(params); e != nullptr; e = X::nextSibling(e)) {
    if (++count > kMaxConditions) {
      throw CommandError(kErrTooMany,
                         "more than " + std::to_string(kMaxConditions) + " search conditions");
    }
    Condition c = parseCondition(e);
    parts.push_back(c.filter);
    if (c.op == CompareOp::kLt || c.op == CompareOp::kGt) {
      spec.orderConditions.push_back(std::move(c));
    }
  }
  spec.filter = conjunction(parts);
  spec.negate = X::findFirstChild(root, "nomatch") != nullptr;
}

std::vector<std::string> returnAttributes(Node root) {
  std::vector<std::string> names;
  for (Node e = X::findFirstChild(root, "attribute"); e != nullptr;
       e = X::findNextSibling(e, "attribute")) {
    std::string name = checkedName(trimmed(X::getStringValue(e)), "return attribute");
    if (name != "objectclass" && name != "userpassword" &&
        std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(name);
    }
    if (names.size() > kMaxAttributes) {
      throw CommandError(kErrTooMany, "too many return attributes");
    }
  }
  return names;
}

SearchObjects parseSearchObjects(Node root, const std::string& category) {
  SearchObjects s;
  std::string objectClass = childText(root, "includeobjectclass", false);
  if (category == "catSWRepository" || category == "catRPMRepository") {
    if (!objectClass.empty() && lowerAscii(objectClass) != "orvantarpm") {
      throw CommandError(kErrBadValue, "the software repository holds only orvantarpm entries");
    }
    objectClass = "orvantarpm";
  }
  if (!objectClass.empty()) {
    s.spec.classFilter = classFilter(checkedName(objectClass, "object class"));
  }
  s.spec.baseId = objectIdOf(root, "objectID", false);
  s.spec.returnAttributes = returnAttributes(root);
  readSearchParams(root, s.spec);
  return s;
}

std::string namingAttributeOf(const std::string& objectClass) {
  if (objectClass == "organizationalunit") {
    return "ou";
  }
  if (objectClass == "organization") {
    return "o";
  }
  // Repository packages are named by their UUID, which stays theirs for life.
  if (objectClass == "orvantarpm") {
    return "orvantauuid";
  }
  return "cn";
}

void addValue(std::vector<DirAttribute>& attributes, const std::string& name,
              const std::string& value) {
  for (DirAttribute& a : attributes) {
    if (a.name == name) {
      // A value given twice (the naming value repeated as an attribute) is stored once.
      if (std::find(a.values.begin(), a.values.end(), value) == a.values.end()) {
        a.values.push_back(value);
      }
      return;
    }
  }
  attributes.push_back({name, {value}});
}

void setPassword(std::optional<std::string>& password, const std::string& value) {
  if (password) {
    throw CommandError(kErrBadValue, "more than one userpassword value");
  }
  if (value.empty()) {
    throw CommandError(kErrBadValue, "empty userpassword");
  }
  password = value;
}

CreateObject parseCreateObject(Node root) {
  CreateObject c;
  c.parentId = objectIdOf(root, "objectID", true);
  c.objectClass = checkedName(childText(root, "objectclass", true), "object class");
  std::string name = X::getChildStringValue(root, "name");
  if (name.empty()) {
    throw CommandError(kErrMissingElement, "missing element name");
  }
  std::string naming = namingAttributeOf(c.objectClass);
  c.rdn = naming + "=" + escapeRdnValue(name);
  c.attributes.push_back({"objectclass", {c.objectClass}});
  c.attributes.push_back({naming, {name}});
  std::size_t count = 0;
  for (Node e = X::firstChild(root); e != nullptr; e = X::nextSibling(e)) {
    std::string tag = X::getName(e);
    if (tag != "attribute" && tag != "xmlattribute") {
      continue;
    }
    if (++count > kMaxAttributes) {
      throw CommandError(kErrTooMany, "too many attribute values");
    }
    std::string attribute = checkedName(X::getAttributeValue(e, "name"), "attribute");
    std::string value = X::getStringValue(e);
    if (attribute == "userpassword") {
      setPassword(c.password, value);
    } else if (value.empty()) {
      throw CommandError(kErrBadValue, "empty value for attribute " + attribute);
    } else {
      addValue(c.attributes, attribute, value);
    }
  }
  return c;
}

Modification::Op modificationOp(const std::string& text) {
  if (text == "add") {
    return Modification::Op::kAdd;
  }
  if (text == "delete") {
    return Modification::Op::kDelete;
  }
  if (text == "replace") {
    return Modification::Op::kReplace;
  }
  throw CommandError(kErrBadOperator, "unknown modification " + text);
}

ModifyObject parseModifyObject(Node root) {
  ModifyObject m;
  m.objectId = objectIdOf(root, "objectID", true);
  std::set<std::pair<std::string, Modification::Op>> deleteAll;
  std::size_t count = 0;
  for (Node e = X::findFirstChild(root, "attribute"); e != nullptr;
       e = X::findNextSibling(e, "attribute")) {
    if (++count > kMaxAttributes) {
      throw CommandError(kErrTooMany, "too many attribute values");
    }
    std::string attribute = checkedName(X::getAttributeValue(e, "name"), "attribute");
    Modification::Op op = modificationOp(X::getAttributeValue(e, "op"));
    std::string value = X::getStringValue(e);
    if (attribute == "userpassword" && op != Modification::Op::kDelete) {
      setPassword(m.password, value);
      continue;
    }
    if (value.empty() && op == Modification::Op::kAdd) {
      throw CommandError(kErrBadValue, "empty value to add to " + attribute);
    }
    auto same = [&](const Modification& x) { return x.attribute == attribute && x.op == op; };
    auto it = std::find_if(m.changes.begin(), m.changes.end(), same);
    if (it == m.changes.end()) {
      it = m.changes.insert(m.changes.end(), Modification{op, attribute, {}});
    }
    // An empty delete removes every value; userPassword values cannot be named in clear.
    bool all = op == Modification::Op::kDelete && (value.empty() || attribute == "userpassword");
    if (all) {
      deleteAll.insert({attribute, op});
      it->values.clear();
    } else if (!value.empty() && !deleteAll.count({attribute, op})) {
      it->values.push_back(value);
    }
  }
  // No attribute at all (the console's rpmlink when its search found nothing) changes nothing.
  return m;
}

GetRpmDetails parseRpmDetails(Node root) {
  GetRpmDetails g;
  std::vector<std::string> terms;
  std::size_t count = 0;
  auto flush = [&] {
    std::string any = terms.size() == 1 ? terms.front() : "(|";
    if (terms.size() > 1) {
      for (const std::string& t : terms) {
        any += t;
      }
      any += ")";
    }
    g.filters.push_back("(&(objectClass=orvantarpm)" + any + ")");
    terms.clear();
  };
  for (Node e = X::findFirstChild(root, "orvantauuid"); e != nullptr;
       e = X::findNextSibling(e, "orvantauuid")) {
    if (++count > kMaxUuids) {
      throw CommandError(kErrTooMany, "more than " + std::to_string(kMaxUuids) + " uuids");
    }
    std::string uuid = trimmed(X::getStringValue(e));
    if (uuid.empty()) {
      continue;
    }
    terms.push_back("(orvantauuid=" + escapeFilterValue(uuid) + ")");
    if (terms.size() == kUuidsPerFilter) {
      flush();
    }
  }
  if (!terms.empty()) {
    flush();
  }
  return g;
}

LinkedObjects parseLinkedObjects(Node root, bool listNames) {
  LinkedObjects l;
  l.listNames = listNames;
  l.objectId = objectIdOf(root, "objectID", false);
  std::string objectClass = checkedName(childText(root, "objectclass", true), "object class");
  std::vector<std::string> parts = {classFilter(objectClass)};
  std::string attribute = childText(root, "attribute", false);
  std::string value = X::getChildStringValue(root, "value");
  if (!attribute.empty() || !value.empty()) {
    if (attribute.empty() || value.empty()) {
      throw CommandError(kErrMissingElement, "attribute and value go together");
    }
    parts.push_back("(" + checkedName(attribute, "attribute") + "=" + escapeFilterValue(value) +
                    ")");
  }
  l.filter = conjunction(parts);
  return l;
}

LinkObjects parseLinkObjects(Node root) {
  LinkObjects l;
  l.objectId = objectIdOf(root, "objectID", true);
  l.targetId = objectIdOf(root, "objectID2", true);
  std::string flags = childText(root, "flags", false);
  if (flags.empty() || flags == "add") {
    l.add = true;
  } else if (flags == "remove") {
    l.add = false;
  } else {
    throw CommandError(kErrBadFlags, "linkObjects flags must be add or remove, not " + flags);
  }
  return l;
}

ResolveObject parseResolveObject(Node root) {
  ResolveObject r{childText(root, "objectname", true)};
  auto rdns = splitDn(r.dn);
  if (!rdns) {
    throw CommandError(kErrBadDn, "not a directory name: " + r.dn);
  }
  return r;
}

RenameObject parseRenameObject(Node root) {
  RenameObject r;
  r.objectId = objectIdOf(root, "objectID", true);
  std::string name = X::getChildStringValue(root, "newname");
  if (name.empty()) {
    throw CommandError(kErrMissingElement, "missing element newname");
  }
  r.escapedValue = escapeRdnValue(name);
  return r;
}

SearchSpec inventorySpec(Node root, const std::string& objectClass) {
  SearchSpec spec;
  spec.baseId = objectIdOf(root, "objectID", false);
  spec.classFilter = classFilter(objectClass);
  readSearchParams(root, spec);
  return spec;
}

// One field of an installed package: bounded, and free of what would make two packages share
// an entry name (white space, which directory matching folds, and the "/" that joins them).
std::string packageField(Node package, const std::string& name, bool required) {
  std::string value = X::getChildStringValue(package, name);
  if (required && value.empty()) {
    throw CommandError(kErrMissingElement, "package without " + name);
  }
  if (value.size() > kMaxPackageFieldBytes) {
    throw CommandError(kErrBadValue,
                       name + " longer than " + std::to_string(kMaxPackageFieldBytes) + " bytes");
  }
  for (unsigned char ch : value) {
    if (ch <= ' ' || ch == 0x7f || ch == '/') {
      throw CommandError(kErrBadValue,
                         name + " holds white space, a control character or /: " + value);
    }
  }
  return value;
}

ReplaceInventory parseReplaceInventory(Node root) {
  ReplaceInventory r;
  r.objectId = objectIdOf(root, "objectID", false);
  if (Node model = X::findFirstChild(root, "orvantamodel"); model != nullptr) {
    std::string text = trimmed(X::getStringValue(model));
    if (!text.empty()) {
      r.model = text;
    }
  }
  std::set<std::string> seen;
  for (Node e = X::firstChild(root); e != nullptr; e = X::nextSibling(e)) {
    if (X::getName(e) != "package") {
      continue;
    }
    InstalledPackage p{
        packageField(e, "orvantaname", true), packageField(e, "orvantaversion", true),
        packageField(e, "orvantarelease", false), packageField(e, "orvantaarch", false)};
    if (!seen.insert(lowerAscii(installedPackageCn(p))).second) {
      continue;
    }
    if (r.packages.size() == kMaxPackages) {
      throw CommandError(kErrTooMany, "more than " + std::to_string(kMaxPackages) + " packages");
    }
    r.packages.push_back(std::move(p));
  }
  return r;
}

using Parser = std::function<CommandBody(Node, const std::string&)>;

const std::map<std::string, Parser, std::less<>>& parsers() {
  static const std::map<std::string, Parser, std::less<>> kParsers = {
      {"enumerateBaseObjects",
       [](Node, const std::string&) -> CommandBody { return EnumerateBaseObjects{}; }},
      {"enumerateObjects",
       [](Node r, const std::string&) -> CommandBody {
         return EnumerateObjects{objectIdOf(r, "objectID", true)};
       }},
      {"readObject",
       [](Node r, const std::string&) -> CommandBody {
         return ReadObject{objectIdOf(r, "objectID", true)};
       }},
      {"createObject",
       [](Node r, const std::string&) -> CommandBody { return parseCreateObject(r); }},
      {"removeAllObjects",
       [](Node r, const std::string&) -> CommandBody {
         return RemoveAllObjects{objectIdOf(r, "objectID", true)};
       }},
      {"modifyObject",
       [](Node r, const std::string&) -> CommandBody { return parseModifyObject(r); }},
      {"renameObject",
       [](Node r, const std::string&) -> CommandBody { return parseRenameObject(r); }},
      {"moveObject",
       [](Node r, const std::string&) -> CommandBody {
         return MoveObject{objectIdOf(r, "objectID", true), objectIdOf(r, "newparent", true)};
       }},
      {"resolveObject",
       [](Node r, const std::string&) -> CommandBody { return parseResolveObject(r); }},
      {"searchObjects",
       [](Node r, const std::string& c) -> CommandBody { return parseSearchObjects(r, c); }},
      {"getRPMDetailsFromUUIDsBig",
       [](Node r, const std::string&) -> CommandBody { return parseRpmDetails(r); }},
      {"searchSWInventory",
       [](Node r, const std::string&) -> CommandBody {
         return SearchSwInventory{inventorySpec(r, "orvantainstalledpackage")};
       }},
      {"searchHWInventory",
       [](Node r, const std::string&) -> CommandBody {
         return SearchHwInventory{inventorySpec(r, "orvantacomputer")};
       }},
      {"replaceInventory",
       [](Node r, const std::string&) -> CommandBody { return parseReplaceInventory(r); }},
      {"readPrinter",
       [](Node r, const std::string&) -> CommandBody {
         std::string name = X::getChildStringValue(r, "printername");
         if (name.empty()) {
           throw CommandError(kErrMissingElement, "missing element printername");
         }
         return ReadPrinter{"(&(objectClass=orvantaprinter)(cn=" + escapeFilterValue(name) + "))"};
       }},
      {"findAllLinkedObjects",
       [](Node r, const std::string&) -> CommandBody { return parseLinkedObjects(r, false); }},
      {"readLinkedObjects",
       [](Node r, const std::string&) -> CommandBody { return parseLinkedObjects(r, true); }},
      {"linkObjects",
       [](Node r, const std::string&) -> CommandBody { return parseLinkObjects(r); }},
      {"getObjectNameFromObjectID",
       [](Node r, const std::string&) -> CommandBody {
         return GetObjectName{objectIdOf(r, "objectID", true)};
       }},
  };
  return kParsers;
}

}  // namespace

Command parseCommand(DOM_Node root) {
  xml::ElementTree tree;
  tree.fromDom(root.get());
  return parseCommand(tree);
}

Command parseCommand(const xml::ElementTree& document) {
  const Node root = document.root();
  if (root == nullptr || X::getName(root) != "command") {
    throw CommandError(kErrNotACommand, "the document is not a command");
  }
  std::string name = X::getAttributeValue(root, "name");
  std::string category = X::getAttributeValue(root, "cat");
  auto it = parsers().find(name);
  if (it == parsers().end()) {
    throw CommandError(kErrUnknownCommand, "unknown command " + name);
  }
  if (kCategories.count(category) == 0) {
    throw CommandError(kErrUnknownCategory, "unknown command category " + category);
  }
  return Command{name, it->second(root, category)};
}

std::string installedPackageCn(const InstalledPackage& package) {
  return package.name + "/" + package.version + "/" + package.release + "/" + package.arch;
}

std::string uuidFilter(const std::string& objectId) {
  return "(entryUUID=" + escapeFilterValue(objectId) + ")";
}

}  // namespace nvo
