#include "gateway/tools/tool_session.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "gateway/xml_parser.h"

namespace nvo::tools {

namespace {

bool readStream(std::istream& in, std::string& text) {
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad() && text.size() <= XMLParser::kMaxDocumentBytes;
}

}  // namespace

bool readTextFile(const std::string& path, std::string& text) {
  if (path == "-") {
    return readStream(std::cin, text);
  }
  std::ifstream in(path, std::ios::binary);
  return in && readStream(in, text);
}

int usageError(const std::string& program, const std::string& message, const char* usage) {
  std::cerr << program << ": " << message << "\n" << usage;
  return kExitUsage;
}

int openSession(MUXClient& client, const std::string& authenticationFile,
                const std::string& program) {
  bool open = false;
  if (authenticationFile.empty()) {
    open = client.initSession();
  } else {
    std::string document;
    if (!readTextFile(authenticationFile, document)) {
      std::cerr << program << ": cannot read the authentication document " << authenticationFile
                << "\n";
      return kExitUsage;
    }
    open = client.initSession(document);
  }
  if (!open) {
    std::cerr << program << ": the session was refused\n";
    return kExitSessionRefused;
  }
  return kExitDone;
}

bool replyError(DOM_Node reply, std::string& message) {
  if (reply == nullptr) {
    message = "no reply";
    return true;
  }
  DOM_Node error = XMLParser::findFirstChild(reply, "error");
  if (error == nullptr) {
    return false;
  }
  message = XMLParser::getChildStringValue(error, "errorNum") + ": " +
            XMLParser::getChildStringValue(error, "errorMsg");
  return true;
}

DOM_Node callOrThrow(MUXClient& client, const std::string& command) {
  DOM_Node reply = client.callGateway(command.data(), static_cast<int>(command.size()));
  std::string message;
  if (replyError(reply, message)) {
    throw std::runtime_error(message);
  }
  return reply;
}

}  // namespace nvo::tools
