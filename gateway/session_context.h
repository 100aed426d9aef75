// What a session hands to the free functions of nvo_api.h through MUXClient::getApiCtx(): the
// session itself, to run commands on, and the name of its own object, which keys its cache.
// Private to the library.
#ifndef GATEWAY_SESSION_CONTEXT_H_
#define GATEWAY_SESSION_CONTEXT_H_

#include <string>

namespace nvo {

class MUXClient;

struct ApiContext {
  MUXClient* client = nullptr;
  // The session's own object: the authentication document's objectname, else the bound DN.
  std::string identity;
};

}  // namespace nvo

#endif  // GATEWAY_SESSION_CONTEXT_H_
