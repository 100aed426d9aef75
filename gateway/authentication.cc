#include "gateway/authentication.h"

#include <string_view>

#include "gateway/xml_parser.h"

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

std::string childText(DOM_Node node, const char* name) {
  return trimmed(XMLParser::getChildStringValue(node, name));
}

GatewayEntry readGateway(DOM_Node gateway) {
  GatewayEntry entry;
  entry.url = childText(gateway, "url");
  entry.authname = childText(gateway, "authname");
  entry.password = XMLParser::getChildStringValue(gateway, "password");
  entry.objectname = childText(gateway, "objectname");
  entry.primaryGateway = !XMLParser::findFirstChild(gateway, "primaryGateway").isNull();
  entry.ignorePolicy = !XMLParser::findFirstChild(gateway, "ignorePolicy").isNull();
  for (DOM_Node cat = XMLParser::findFirstChild(gateway, "cat"); !cat.isNull();
       cat = XMLParser::findNextSibling(cat, "cat")) {
    entry.routes.push_back(
        {trimmed(XMLParser::getAttributeValue(cat, "name")), childText(cat, "location")});
  }
  return entry;
}

}  // namespace

Authentication readAuthentication(DOM_Node root) {
  if (root.isNull()) {
    throw AuthenticationError("authentication document: no document element");
  }
  const std::string rootName = XMLParser::getName(root);
  if (rootName != "authentication") {
    throw AuthenticationError("authentication document: the root element is <" + rootName +
                              ">, not <authentication>");
  }
  Authentication result;
  bool havePrimary = false;
  for (DOM_Node gateway = XMLParser::findFirstChild(root, "gateway"); !gateway.isNull();
       gateway = XMLParser::findNextSibling(gateway, "gateway")) {
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

Authentication readAuthentication(const std::string& text) {
  XMLParser document;
  if (!document.parse(text)) {
    throw AuthenticationError("authentication document: " + document.lastError());
  }
  return readAuthentication(document.getRoot());
}

}  // namespace nvo
