// What the gateway tools (nvo-call, nvo-rpm-import, nvo-inventory) share: reading a bounded
// text file and opening the session of an authentication document, and reading a reply.
#ifndef GATEWAY_TOOLS_TOOL_SESSION_H_
#define GATEWAY_TOOLS_TOOL_SESSION_H_

#include <string>

#include "gateway/dom_node.h"
#include "gateway/mux_client.h"

namespace nvo::tools {

// Reads the file `path` ("-" is standard input) into `text`; false when it cannot be read or
// is larger than a gateway document may be.
bool readTextFile(const std::string& path, std::string& text);

enum class SessionOpen { kOpen, kUnreadable, kRefused };

// Opens `client`'s session with the authentication document in `authenticationFile`, or, when
// that is empty, with the one named by NVO_AUTHENTICATION. Failures are reported on standard
// error, prefixed with `program`.
SessionOpen openSession(MUXClient& client, const std::string& authenticationFile,
                        const std::string& program);

// The error a reply carries: false for a reply without an `error` element; otherwise true with
// `message` set to "errorNum: errorMsg". A null reply is an error too.
bool replyError(DOM_Node reply, std::string& message);

// Sends `command` and returns the reply root (valid until the next call); on a null or error
// reply throws std::runtime_error with the reason.
DOM_Node callOrThrow(MUXClient& client, const std::string& command);

}  // namespace nvo::tools

#endif  // GATEWAY_TOOLS_TOOL_SESSION_H_
