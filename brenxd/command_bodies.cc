#include "brenxd/command_bodies.h"

#include "gateway/xml_parser.h"

namespace brenxd {
namespace {

std::string escaped(const std::string& value) {
  return nvo::XMLParser::makeXMLString(value);
}

}  // namespace

std::string searchParamsBody(const std::string& mac) {
  return "<searchParams><objectclass op=\"EQ\">orvantacomputer</objectclass>"
         "<orvantaidtype op=\"EQ\">1</orvantaidtype><orvantaid op=\"EQ\">" +
         escaped(mac) + "</orvantaid></searchParams>";
}

std::string createAttributesBody(const std::string& password, const std::string& mac) {
  return "<attribute name=\"userpassword\">" + escaped(password) +
         "</attribute><attribute name=\"orvantaidtype\">1</attribute>"
         "<attribute name=\"orvantaid\">" +
         escaped(mac) + "</attribute>";
}

std::string replacePasswordBody(const std::string& password) {
  return "<attribute name=\"userpassword\" op=\"replace\">" + escaped(password) + "</attribute>";
}

}  // namespace brenxd
