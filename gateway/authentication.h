// The authentication document, read into plain values. Pure: no I/O, no directory.
//
//   <authentication>
//     <gateway><url>LDAP://host:389</url><authname>DN</authname><password>secret</password>
//       <objectname>DN</objectname><primaryGateway/><ignorePolicy/>
//       <cat name="catSWRepository"><location>ou=...</location></cat>...</gateway>
//     ...
//   </authentication>
//
// readAuthentication takes every `gateway` child of the root in document order. Within a
// gateway the first element of each name counts; url, authname, objectname, the cat's name
// and location are taken with surrounding white space removed, the password exactly as
// written. primaryGateway and ignorePolicy are flags: present or absent, content ignored.
// The primary gateway is the first one marked primaryGateway.
//
// Errors (AuthenticationError, what() a one-line text naming the fault): text that is not a
// well-formed document (with the parser's reason; DOCTYPEs and oversized text are refused as
// XMLParser refuses them), a root other than `authentication`, no `gateway` element, no
// gateway marked primaryGateway, a primary gateway without a url (an empty URL would let the
// LDAP library fall back to its configured default server).
#ifndef GATEWAY_AUTHENTICATION_H_
#define GATEWAY_AUTHENTICATION_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/dom_node.h"

namespace nvo {

class AuthenticationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A `cat` element: command category `name` routed to its gateway, with its `location`.
struct CategoryRoute {
  std::string name;
  std::string location;
};

struct GatewayEntry {
  std::string url;
  std::string authname;
  std::string password;
  std::string objectname;
  bool primaryGateway = false;
  bool ignorePolicy = false;
  std::vector<CategoryRoute> routes;  // in document order
};

struct Authentication {
  std::vector<GatewayEntry> gateways;  // in document order, never empty
  std::size_t primary = 0;             // index of the primary gateway in `gateways`

  const GatewayEntry& primaryGateway() const { return gateways[primary]; }
};

// Reads an authentication document from its text. Throws AuthenticationError (see above).
Authentication readAuthentication(const std::string& text);
// The same from an already parsed `authentication` element (for example one inside a
// configuration file). Throws AuthenticationError.
Authentication readAuthentication(DOM_Node root);

}  // namespace nvo

#endif  // GATEWAY_AUTHENTICATION_H_
