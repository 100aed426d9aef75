// Fuzz target: any text as a gateway command document, read as the gateway reads it
// (xml::TreeReader) and through XMLParser's DOM, then through parseCommand, and for an
// inventory report on through planInventory: document in, directory operations planned, no
// directory involved.
//
// Properties checked besides "never crashes": both readers give the same verdict, the same
// error text and the same elements, attributes and text; only CommandError escapes parseCommand,
// with a number of the engine's own range; every filter a parsed command carries is one well-formed
// filter (parentheses balanced, every backslash a two-digit hex escape), so no value could
// have changed its shape; a created object's RDN is one RDN whose value reads back as the
// name given; every objectID is in entryUUID form (an inventory report may name none: the
// session's own object); a modification names an attribute and sets no password (it may only
// delete it; the password travels apart). An inventory report holds bounded, distinct
// packages whose fields carry no white space, control character or "/"; its plan against an empty
// computer adds exactly one child entry per package, named by installedPackageCn and directly below
// that computer, and touches nothing else but the computer's model; planned again against what the
// first plan made, it changes nothing.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "gateway/command.h"
#include "gateway/inventory_plan.h"
#include "gateway/ldap_text.h"
#include "gateway/xml_parser.h"
#include "gateway/xml_reader.h"

namespace {

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool wellFormedFilter(std::string_view filter) {
  if (filter.size() < 3 || filter.front() != '(' || filter.back() != ')') {
    return false;
  }
  int depth = 0;
  for (std::size_t i = 0; i < filter.size(); ++i) {
    char c = filter[i];
    if (c == '\\') {
      if (i + 2 >= filter.size() || !isHex(filter[i + 1]) || !isHex(filter[i + 2])) {
        return false;
      }
      i += 2;
    } else if (c == '\0') {
      return false;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0 && i + 1 != filter.size()) {
      return false;
    }
    if (depth < 0) {
      return false;
    }
  }
  return depth == 0;
}

void checkId(const std::string& id, bool mayBeEmpty) {
  FUZZ_CHECK((mayBeEmpty && id.empty()) || nvo::isUuid(id));
}

void checkSpec(const nvo::SearchSpec& spec) {
  FUZZ_CHECK(wellFormedFilter(spec.filter));
  checkId(spec.baseId, true);
}

bool cleanPackageField(const std::string& field) {
  if (field.size() > nvo::kMaxPackageFieldBytes) {
    return false;
  }
  for (unsigned char c : field) {
    if (c <= ' ' || c == 0x7f || c == '/') {
      return false;
    }
  }
  return true;
}

// The report's plan for a computer without inventory, then for the computer the plan made.
void checkInventory(const nvo::ReplaceInventory& report) {
  checkId(report.objectId, true);
  FUZZ_CHECK(report.packages.size() <= nvo::kMaxPackages);
  std::set<std::string> names;
  for (const nvo::InstalledPackage& p : report.packages) {
    FUZZ_CHECK(!p.name.empty() && !p.version.empty());
    for (const std::string* field : {&p.name, &p.version, &p.release, &p.arch}) {
      FUZZ_CHECK(cleanPackageField(*field));
    }
    FUZZ_CHECK(names.insert(nvo::lowerAscii(nvo::installedPackageCn(p))).second);
  }

  const std::string computer = "cn=pc\2C1,ou=Lab,o=x";
  const nvo::InventoryPlan plan = nvo::planInventory(computer, {}, {}, report);
  FUZZ_CHECK(plan.added == report.packages.size() && plan.removed == 0 && plan.unchanged == 0);
  std::vector<nvo::DirEntry> made;
  std::size_t models = 0;
  for (const nvo::DirChange& change : plan.changes) {
    if (change.kind == nvo::DirChange::Kind::kModify) {
      FUZZ_CHECK(change.dn == computer && change.changes.size() == 1 &&
                 change.changes[0].attribute == "orvantamodel");
      ++models;
      continue;
    }
    FUZZ_CHECK(change.kind == nvo::DirChange::Kind::kAdd);
    const auto rdns = nvo::splitDn(change.dn);
    FUZZ_CHECK(rdns.has_value() && rdns->size() == 4);
    FUZZ_CHECK(nvo::parentDn(change.dn) == computer);
    FUZZ_CHECK(nvo::rdnType(rdns->front()) == "cn");
    const nvo::InstalledPackage& p = report.packages[made.size()];
    FUZZ_CHECK(nvo::rdnValue(rdns->front()) == nvo::installedPackageCn(p));
    made.push_back({change.dn, change.attributes});
  }
  FUZZ_CHECK(made.size() == report.packages.size());
  FUZZ_CHECK(models == (report.model ? 1u : 0u));

  std::vector<std::string> model;
  if (report.model) {
    model.push_back(*report.model);
  }
  const nvo::InventoryPlan again = nvo::planInventory(computer, made, model, report);
  FUZZ_CHECK(again.changes.empty() && again.unchanged == report.packages.size());
}

void check(const nvo::Command& command) {
  std::visit(
      [](const auto& c) {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, nvo::SearchObjects> ||
                      std::is_same_v<T, nvo::SearchHwInventory>) {
          checkSpec(c.spec);
        } else if constexpr (std::is_same_v<T, nvo::SearchSwInventory>) {
          checkSpec(c.packages);
        } else if constexpr (std::is_same_v<T, nvo::GetRpmDetails>) {
          for (const std::string& f : c.filters) {
            FUZZ_CHECK(wellFormedFilter(f));
          }
        } else if constexpr (std::is_same_v<T, nvo::ReadPrinter>) {
          FUZZ_CHECK(wellFormedFilter(c.filter));
        } else if constexpr (std::is_same_v<T, nvo::LinkedObjects>) {
          FUZZ_CHECK(wellFormedFilter(c.filter));
          checkId(c.objectId, true);
        } else if constexpr (std::is_same_v<T, nvo::CreateObject>) {
          checkId(c.parentId, false);
          auto rdns = nvo::splitDn(c.rdn + ",o=x");
          FUZZ_CHECK(rdns.has_value() && rdns->size() == 2);
          FUZZ_CHECK(c.attributes.size() >= 2 && !c.attributes[1].values.empty());
          FUZZ_CHECK(nvo::rdnValue(rdns->front()) == c.attributes[1].values.front());
        } else if constexpr (std::is_same_v<T, nvo::RenameObject>) {
          auto rdns = nvo::splitDn("cn=" + c.escapedValue);
          FUZZ_CHECK(rdns.has_value() && rdns->size() == 1);
        } else if constexpr (std::is_same_v<T, nvo::ResolveObject>) {
          FUZZ_CHECK(nvo::splitDn(c.dn).has_value());
        } else if constexpr (std::is_same_v<T, nvo::ReplaceInventory>) {
          checkInventory(c);
        } else if constexpr (std::is_same_v<T, nvo::ModifyObject>) {
          checkId(c.objectId, false);
          for (const nvo::Modification& m : c.changes) {
            FUZZ_CHECK(nvo::isAttributeName(m.attribute));
            // The password is set only through `password`; a change may only delete it.
            FUZZ_CHECK(nvo::lowerAscii(m.attribute) != "userpassword" ||
                       (m.op == nvo::Modification::Op::kDelete && m.values.empty()));
          }
        } else if constexpr (std::is_same_v<T, nvo::LinkObjects> ||
                             std::is_same_v<T, nvo::MoveObject>) {
          checkId(c.objectId, false);
        } else if constexpr (!std::is_same_v<T, nvo::EnumerateBaseObjects>) {
          checkId(c.objectId, false);
        }
      },
      command.body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The gateway's own way in (TreeReader, with its quick path for plain documents) and the
  // DOM's must agree on every text: the same verdict, the same error, the same tree.
  static nvo::xml::TreeReader reader;
  std::string error;
  const bool read = reader.read(text, nvo::XMLParser::kMaxDocumentBytes, error);
  nvo::XMLParser parser(text);
  FUZZ_CHECK(read == !parser.getRoot().isNull());
  FUZZ_CHECK(error == parser.lastError());
  nvo::xml::ElementTree fromDom;
  fromDom.fromDom(parser.getRoot().get());
  FUZZ_CHECK(reader.tree() == fromDom);
  try {
    check(nvo::parseCommand(reader.tree()));
  } catch (const nvo::CommandError& e) {
    FUZZ_CHECK(e.number() >= 1000 && e.number() <= 1099);
    FUZZ_CHECK(e.what()[0] != '\0');
  }
  return 0;
}
