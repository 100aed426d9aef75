// Fuzz target: the path every reply, configuration file and authentication document takes
// through the document class: parse, walk every node with the static readers, write the root
// back as text with buildXMLFromNodes; and the text helpers over the same bytes.
//
// Properties checked besides "never crashes": a refused document has no root and a reason; the
// text written for a parsed document parses again and is then written the same (the writer's
// escaping gives back what it read); the finders find every element the walk meets;
// makeUTF8String gives well-formed UTF-8; makeXMLString's text stands
// as element content and reads back as the input when that was UTF-8 free of controls.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "gateway/xml_parser.h"
#include "gateway/xml_text.h"

namespace {

using nvo::DOM_Node;
using nvo::XMLParser;

bool isUtf8(const std::string& text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t length = nvo::xml::utf8SequenceLength(rest);
    if (length == 0) {
      return false;
    }
    rest.remove_prefix(length);
  }
  return true;
}

// Visits every element below `root` with the readers callers use, without recursion.
void walk(DOM_Node root) {
  std::size_t visited = 0;
  DOM_Node node = XMLParser::firstChild(root);
  while (!node.isNull() && visited < 100000) {
    ++visited;
    const std::string name = XMLParser::getName(node);
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(XMLParser::getName(XMLParser::findFirstChild(node.getParentNode(), name)) == name);
    FUZZ_CHECK(!XMLParser::findChild(root, name).isNull());
    (void)XMLParser::getAttributeValue(node, name);
    (void)XMLParser::getChildStringValue(node, name);
    FUZZ_CHECK(isUtf8(XMLParser::getStringValue(node)));
    DOM_Node next = XMLParser::firstChild(node);
    while (next.isNull() && node != root) {
      next = XMLParser::nextSibling(node);
      if (next.isNull()) {
        node = node.getParentNode();
      }
    }
    node = next;
  }
}

void parsePath(const std::string& text) {
  XMLParser parser;
  if (!parser.parse(text)) {
    FUZZ_CHECK(parser.getRoot().isNull());
    FUZZ_CHECK(!parser.lastError().empty());
    return;
  }
  const DOM_Node root = parser.getRoot();
  FUZZ_CHECK(!root.isNull());
  walk(root);
  const std::string written = XMLParser::buildXMLFromNodes(root);
  FUZZ_CHECK(isUtf8(written));
  XMLParser again;
  FUZZ_CHECK(again.parse(written));
  FUZZ_CHECK(XMLParser::buildXMLFromNodes(again.getRoot()) == written);
  FUZZ_CHECK(XMLParser::getStringValue(again.getRoot()) == XMLParser::getStringValue(root));
}

void textPath(const std::string& text) {
  FUZZ_CHECK(isUtf8(XMLParser::makeUTF8String(text.data(), static_cast<int>(text.size()))));
  const std::string escaped = XMLParser::makeXMLString(text);
  bool plain = isUtf8(text);
  for (const char c : text) {
    plain = plain && (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n');
  }
  if (plain && text.find("\xef\xbf\xbe") == std::string::npos &&
      text.find("\xef\xbf\xbf") == std::string::npos) {
    XMLParser read("<v>" + escaped + "</v>");
    FUZZ_CHECK(XMLParser::getStringValue(read.getRoot()) == text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  parsePath(text);
  textPath(text);
  return 0;
}
