// The login: a session from the library's own settings first, else the four questions (the
// defaults derived from the local host name) and the authentication document built from the
// answers.
#ifndef TARVIK_LOGIN_H_
#define TARVIK_LOGIN_H_

#include <string>

#include "gateway/mux_client.h"
#include "tarvik/prompter.h"

namespace tarvik {

// The host name used when the local one cannot be found.
inline constexpr const char* kPlaceholderHostName = "console.orvanta.invalid";
// The URL of the document's second gateway, which carries the repository category.
inline constexpr const char* kRepositoryGatewayUrl = "FILE://localhost/var/opt/nvo/repository";

struct LoginAnswers {
  std::string url;
  std::string userDn;
  std::string password;
  std::string objectName;
};

// The official name of the local host (gethostname, then gethostbyname), or the placeholder.
std::string localHostName();
// "LDAP://" + host + ":389".
std::string defaultUrl(const std::string& host);
// "o=" + the text between the first and the last dot of `host` (all after the dot when there
// is one; the whole name when there is none).
std::string defaultOrganisation(const std::string& host);

// The authentication document for `answers`, every value escaped as XML text.
std::string authenticationDocument(const LoginAnswers& answers);

// Opens `session`: first without credentials; when that fails, asks the four questions and
// opens it with their document. True when a session is open.
bool login(nvo::MUXClient& session, Prompter& prompter);

}  // namespace tarvik

#endif  // TARVIK_LOGIN_H_
