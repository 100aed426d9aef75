#include "tarvik/login.h"

#include <netdb.h>
#include <string.h>
#include <unistd.h>

#include <array>

#include "gateway/xml_parser.h"
#include "tarvik/command_forms.h"

namespace tarvik {

std::string localHostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) {
    return kPlaceholderHostName;
  }
  const hostent* entry = gethostbyname(name.data());
  if (entry == nullptr || entry->h_name == nullptr) {
    return kPlaceholderHostName;
  }
  return entry->h_name;
}

std::string defaultUrl(const std::string& host) {
  return "LDAP://" + host + ":389";
}

std::string defaultOrganisation(const std::string& host) {
  const std::size_t first = host.find('.');
  if (first == std::string::npos) {
    return "o=" + host;
  }
  const std::size_t last = host.rfind('.');
  if (last == first) {
    return "o=" + host.substr(first + 1);
  }
  return "o=" + host.substr(first + 1, last - first - 1);
}

std::string authenticationDocument(const LoginAnswers& a) {
  auto element = [](const char* tag, const std::string& value) {
    return std::string("<") + tag + ">" + nvo::XMLParser::makeXMLString(value, false) + "</" + tag +
           ">";
  };
  std::string doc(kXmlDeclaration);
  doc += "<authentication><gateway>";
  doc += element("url", a.url) + element("authname", a.userDn) + element("password", a.password) +
         element("objectname", a.objectName);
  doc += "<primaryGateway/></gateway><gateway>";
  doc += element("url", kRepositoryGatewayUrl);
  doc += "<cat name=\"catRPMRepository\"><location>ou=rpms,o=orvanta</location></cat>";
  return doc + "</gateway></authentication>";
}

namespace {

std::string askWithDefault(Prompter& prompter, const std::string& prompt,
                           const std::string& fallback) {
  const std::string answer = prompter.askLine(prompt).value_or("");
  return answer.empty() ? fallback : answer;
}

}  // namespace

bool login(nvo::MUXClient& session, Prompter& prompter) {
  if (session.initSession()) {
    return true;
  }
  const std::string host = localHostName();
  LoginAnswers a;
  const std::string url = defaultUrl(host);
  a.url = askWithDefault(prompter, "NVO Repository URL: [" + url + "] : ", url);
  const std::string user = "cn=admin," + defaultOrganisation(host);
  a.userDn = askWithDefault(prompter, "User DN [" + user + "] : ", user);
  a.password = prompter.askPassword("Enter password: ");
  a.objectName = askWithDefault(prompter, "Object Name [" + a.userDn + "] : ", a.userDn);
  std::string document = authenticationDocument(a);
  const bool opened = session.initSession(document);
  // The password is in the document and the answers; neither outlives the login.
  explicit_bzero(document.data(), document.size());
  explicit_bzero(a.password.data(), a.password.size());
  return opened;
}

}  // namespace tarvik
