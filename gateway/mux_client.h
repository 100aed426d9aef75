// MUXClient: one gateway session. The library carries command documents to the directory
// itself: a session is one LDAP connection (per routed URL) bound as the identity of an
// authentication document, and every command runs as directory operations on it, so the
// directory's own access rules decide what the session may do.
//
//   <authentication><gateway><url>LDAP://host:389</url><authname>DN</authname>
//     <password>secret</password><objectname>DN</objectname><primaryGateway/>
//     <cat name="catSWRepository"><location>...</location></cat>...</gateway>...
//   </authentication>
//
// The gateway marked primaryGateway gives the URL and the credentials. A `cat` element routes
// that command category to the URL of its gateway when that URL is an LDAP one (ldap://,
// ldaps://, ldapi://, scheme in any case); routes to other schemes are kept but never used, and
// a category without a route goes to the primary gateway. Routed connections bind with the
// primary credentials.
//
// Created with new and deleted by its caller; not thread-safe (one thread per session).
#ifndef GATEWAY_MUX_CLIENT_H_
#define GATEWAY_MUX_CLIENT_H_

#include <memory>
#include <string>

#include "gateway/dom_node.h"
#include "gateway/nvo_export.h"

namespace nvo {

class NVO_API MUXClient {
 public:
  MUXClient();
  MUXClient(const MUXClient&) = delete;
  MUXClient& operator=(const MUXClient&) = delete;
  // Releases every connection and reply, unbinding what is still bound.
  ~MUXClient();

  // A session without credentials: reads the authentication document from the file named by
  // the environment variable NVO_AUTHENTICATION and opens it as initSession(document) does.
  // False when the variable is unset, the file cannot be read, or it is readable by group or
  // others (refused with a message on standard error: it holds a password).
  bool initSession();
  // Opens a session with `document`. True only when the primary gateway's connection was
  // opened and the bind with its authname and password succeeded.
  bool initSession(std::string document);

  // Runs one command document of `length` bytes and returns the root of its reply, valid until
  // the next call, endSession or destruction; null when no session is open or no reply came.
  // A connection the directory dropped is re-opened and re-bound once, transparently.
  DOM_Node callGateway(const char* document, int length);

  // Unbinds every connection. The object may then be deleted, or opened again.
  void endSession();

  // The context for the free functions of nvo_api.h, owned by this session and valid while it
  // lives.
  void* getApiCtx();

 private:
  struct Session;
  std::unique_ptr<Session> session_;
};

}  // namespace nvo

#endif  // GATEWAY_MUX_CLIENT_H_
