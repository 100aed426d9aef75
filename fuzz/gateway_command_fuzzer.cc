// Fuzz target: any text as a gateway command document, read as the gateway reads it
// (xml::TreeReader) and through XMLParser's DOM, then through parseCommand.
//
// Properties checked besides "never crashes": both readers give the same verdict, the same
// error text and the same elements, attributes and text; only CommandError escapes parseCommand,
// with a number of the engine's own range; every filter a parsed command carries is one well-formed
// filter (parentheses balanced, every backslash a two-digit hex escape), so no value could
// have changed its shape; a created object's RDN is one RDN whose value reads back as the
// name given; every objectID is in entryUUID form.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "fuzz/fuzz_check.h"
#include "gateway/command.h"
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
