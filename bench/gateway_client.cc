#include "bench/gateway_client.h"

#include <stdexcept>

namespace nvo_bench {

using nvo::DOM_Node;
using nvo::XMLParser;

GatewayClient::GatewayClient(const std::string& url, const std::string& dn,
                             const std::string& password)
    : session_(std::make_unique<nvo::MUXClient>()) {
  const std::string authentication =
      "<?xml version='1.0' encoding='UTF-8'?><authentication><gateway><url>" +
      XMLParser::makeXMLString(url) + "</url><authname>" + XMLParser::makeXMLString(dn) +
      "</authname><password>" + XMLParser::makeXMLString(password) + "</password><objectname>" +
      XMLParser::makeXMLString(dn) + "</objectname><primaryGateway/></gateway></authentication>";
  if (!session_->initSession(authentication)) {
    throw std::runtime_error("gateway: initSession failed for " + url);
  }
}

DOM_Node GatewayClient::send(const char* command) {
  const std::string text = document_.getXML(true);
  const DOM_Node reply = session_->callGateway(text.data(), static_cast<int>(text.size()));
  if (reply.isNull() || XMLParser::getName(reply) != "commandResult") {
    throw std::runtime_error(std::string("gateway ") + command + ": no reply");
  }
  const DOM_Node error = XMLParser::findFirstChild(reply, "error");
  if (!error.isNull()) {
    throw std::runtime_error(std::string("gateway ") + command + ": " +
                             XMLParser::getChildStringValue(error, "errorMsg") + " [" +
                             XMLParser::getChildStringValue(error, "errorNum") + "]");
  }
  return reply;
}

std::string GatewayClient::resolve(const std::string& dn) {
  document_.initXML();
  document_.addCommand("resolveObject", "catNone");
  document_.addTagString("objectname", dn);
  const DOM_Node object = XMLParser::findFirstChild(send("resolveObject"), "object");
  return XMLParser::getChildStringValue(object, "objectID");
}

std::string GatewayClient::searchByMac(const std::string& containerId, const std::string& mac) {
  document_.initXML();
  document_.addCommand("searchObjects", "catNone");
  document_.addTagString("objectID", containerId);
  document_.addString(
      "<searchParams><objectclass op=\"EQ\">orvantacomputer</objectclass>"
      "<orvantaidtype op=\"EQ\">1</orvantaidtype><orvantaid op=\"EQ\">");
  document_.addString(XMLParser::makeXMLString(mac));
  document_.addString("</orvantaid></searchParams>");
  const DOM_Node found = XMLParser::findChild(send("searchObjects"), "objectID");
  return XMLParser::getStringValue(found);
}

std::string GatewayClient::add(const std::string& containerId, const std::string& name,
                               const std::string& password, const std::string& mac) {
  document_.initXML();
  document_.addCommand("createObject", "catNone");
  document_.addTagString("objectID", containerId);
  document_.addTagString("objectclass", "orvantacomputer");
  document_.addTagString("name", name);
  document_.addString("<attribute name=\"userpassword\">" + XMLParser::makeXMLString(password) +
                      "</attribute><attribute name=\"orvantaidtype\">1</attribute>"
                      "<attribute name=\"orvantaid\">" +
                      XMLParser::makeXMLString(mac) + "</attribute>");
  return XMLParser::getChildStringValue(send("createObject"), "objectID");
}

void GatewayClient::setPassword(const std::string& objectId, const std::string& password) {
  document_.initXML();
  document_.addCommand("modifyObject", "catNone");
  document_.addTagString("objectID", objectId);
  document_.addString("<attribute name=\"userpassword\" op=\"replace\">" +
                      XMLParser::makeXMLString(password) + "</attribute>");
  send("modifyObject");
}

std::size_t GatewayClient::enumerate(const std::string& containerId) {
  document_.initXML();
  document_.addCommand("enumerateObjects", "catNone");
  document_.addTagString("objectID", containerId);
  document_.addTagString("objectclass", "organizationalunit");
  std::size_t count = 0;
  for (DOM_Node object = XMLParser::findFirstChild(send("enumerateObjects"), "object");
       !object.isNull(); object = XMLParser::findNextSibling(object, "object")) {
    if (!XMLParser::getChildStringValue(object, "objectID").empty()) {
      ++count;
    }
  }
  return count;
}

}  // namespace nvo_bench
