#include "tarvik/command_forms.h"

namespace tarvik {

using nvo::DOM_Node;
using nvo::XMLParser;

TextCommand::TextCommand(std::string_view category, std::string_view name) {
  text_.append(kXmlDeclaration);
  text_.append("<command cat=\"").append(category).append("\" name=\"").append(name).append("\">");
}

TextCommand& TextCommand::append(std::string_view raw) {
  text_.append(raw);
  return *this;
}

TextCommand& TextCommand::element(std::string_view tag, std::string_view value) {
  text_.append("<").append(tag).append(">").append(value).append("</").append(tag).append(">");
  return *this;
}

std::string TextCommand::text() const {
  return text_ + "</command>";
}

DOM_Node Gateway::send(const XMLParser& builder) {
  return call(builder.getXML(true));
}

DOM_Node Gateway::send(const TextCommand& command) {
  return sendText(command.text());
}

DOM_Node Gateway::sendText(const std::string& text) {
  return call(XMLParser::makeUTF8String(text.data(), static_cast<int>(text.size())));
}

DOM_Node Gateway::call(const std::string& document) {
  return session_->callGateway(document.c_str(), static_cast<int>(document.size()));
}

void startBuilder(XMLParser& builder, const std::string& name, const std::string& category,
                  const Tags& tags) {
  builder.initXML();
  builder.addCommand(name, category);
  for (const auto& [tag, value] : tags) {
    builder.addTagString(tag, value);
  }
}

bool isCommandResult(DOM_Node answer) {
  return !answer.isNull() && XMLParser::getName(answer) == "commandResult";
}

bool printError(DOM_Node answer, std::ostream& out) {
  DOM_Node error = XMLParser::findFirstChild(answer, "error", false);
  if (error.isNull()) {
    return false;
  }
  out << "Error : " << XMLParser::getChildStringValue(error, "errorNum", false) << "\n";
  out << "Msg   : " << XMLParser::getChildStringValue(error, "errorMsg", false) << "\n";
  return true;
}

Outcome checkResult(DOM_Node answer, std::ostream& out) {
  if (!isCommandResult(answer)) {
    return Outcome::kUnusable;
  }
  return printError(answer, out) ? Outcome::kError : Outcome::kOk;
}

std::vector<DOM_Node> childrenNamed(DOM_Node answer, const std::string& name) {
  std::vector<DOM_Node> found;
  for (DOM_Node n = XMLParser::findFirstChild(answer, name, false); !n.isNull();
       n = XMLParser::findNextSibling(n, name, false)) {
    found.push_back(n);
  }
  return found;
}

std::vector<DOM_Node> objectsOf(DOM_Node answer) {
  return childrenNamed(answer, "object");
}

std::string childText(DOM_Node node, const std::string& name) {
  return XMLParser::getChildStringValue(node, name, false);
}

}  // namespace tarvik
