#include "gateway/authentication.h"

#include <string_view>

#include "gateway/element_tree.h"
#include "gateway/xml_parser.h"
#include "gateway/xml_reader.h"

namespace nvo {

namespace {

constexpr std::string_view kXmlSpace = " \t\r\n";

std::string trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(kXmlSpace);
  if (begin == std::string::npos) {
    return std::string();
  }
  return text.substr(begin, text.find_last_not_of(kXmlSpace) - begin + 1);
}

// The readers of both document forms, under the same names, for the templates below.
using TreeNode = xml::ElementTree::Node;

bool isNull(DOM_Node node) {
  return node.isNull();
}
std::string nameOf(DOM_Node node) {
  return XMLParser::getName(node);
}
std::string childValue(DOM_Node node, const char* name) {
  return XMLParser::getChildStringValue(node, name);
}
DOM_Node firstNamed(DOM_Node node, const char* name) {
  return XMLParser::findFirstChild(node, name);
}
DOM_Node nextNamed(DOM_Node node, const char* name) {
  return XMLParser::findNextSibling(node, name);
}
std::string attributeOf(DOM_Node node, const char* name) {
  return XMLParser::getAttributeValue(node, name);
}

bool isNull(TreeNode node) {
  return node.isNull();
}
std::string nameOf(TreeNode node) {
  return node.name();
}
std::string childValue(TreeNode node, const char* name) {
  return node.firstChild(name).text();
}
TreeNode firstNamed(TreeNode node, const char* name) {
  return node.firstChild(name);
}
TreeNode nextNamed(TreeNode node, const char* name) {
  return node.nextSibling(name);
}
std::string attributeOf(TreeNode node, const char* name) {
  return node.attribute(name);
}

template <typename Node>
std::string childText(Node node, const char* name) {
  return trimmed(childValue(node, name));
}

template <typename Node>
GatewayEntry readGateway(Node gateway) {
  GatewayEntry entry;
  entry.url = childText(gateway, "url");
  entry.authname = childText(gateway, "authname");
  entry.password = childValue(gateway, "password");
  entry.objectname = childText(gateway, "objectname");
  entry.primaryGateway = !isNull(firstNamed(gateway, "primaryGateway"));
  entry.ignorePolicy = !isNull(firstNamed(gateway, "ignorePolicy"));
  for (Node cat = firstNamed(gateway, "cat"); !isNull(cat); cat = nextNamed(cat, "cat")) {
    entry.routes.push_back({trimmed(attributeOf(cat, "name")), childText(cat, "location")});
  }
  return entry;
}

template <typename Node>
Authentication readRoot(Node root) {
  if (isNull(root)) {
    throw AuthenticationError("authentication document: no document element");
  }
  const std::string rootName = nameOf(root);
  if (rootName != "authentication") {
    throw AuthenticationError("authentication document: the root element is <" + rootName +
                              ">, not <authentication>");
  }
  Authentication result;
  bool havePrimary = false;
  for (Node gateway = firstNamed(root, "gateway"); !isNull(gateway);
       gateway = nextNamed(gateway, "gateway")) {
    result.gateways.push_back(readGateway(gateway));
    if (!havePrimary && result.gateways.back().primaryGateway) {
      havePrimary = true;
      result.primary = result.gateways.size() - 1;
    }
  }
  if (result.gateways.empty()) {
    throw AuthenticationError("authentication document: no <gateway> element");
  }
  if (!havePrimary) {
    throw AuthenticationError("authentication document: no gateway is marked <primaryGateway/>");
  }
  if (result.primaryGateway().url.empty()) {
    throw AuthenticationError("authentication document: the primary gateway has no <url>");
  }
  return result;
}

}  // namespace

Authentication readAuthentication(DOM_Node root) {
  return readRoot(root);
}

Authentication readAuthentication(const std::string& text) {
  // Read, never changed: no DOM (a session reads its document once per start).
  xml::TreeReader reader;
  std::string error;
  if (!reader.read(text, XMLParser::kMaxDocumentBytes, error)) {
    throw AuthenticationError("authentication document: " + error);
  }
  return readRoot(reader.tree().root());
}

}  // namespace nvo
