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

// Exit codes every tool shares; each tool's own begin at 3.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;           // usage error or unreadable file
inline constexpr int kExitSessionRefused = 2;  // no document, or the bind failed

// Prints "`program`: `message`" and the usage text on standard error; kExitUsage.
int usageError(const std::string& program, const std::string& message, const char* usage);

// Opens `client`'s session with the authentication document in `authenticationFile`, or, when
// that is empty, with the one named by NVO_AUTHENTICATION. kExitDone when it is open; otherwise
// the failure is reported on standard error, prefixed with `program`, and the answer is
// kExitUsage (the document cannot be read) or kExitSessionRefused.
int openSession(MUXClient& client, const std::string& authenticationFile,
                const std::string& program);

// The error a reply carries: false for a reply without an `error` element; otherwise true with
// `message` set to "errorNum: errorMsg". A null reply is an error too.
bool replyError(DOM_Node reply, std::string& message);

// Sends `command` and returns the reply root (valid until the next call); on a null or error
// reply throws std::runtime_error with the reason.
DOM_Node callOrThrow(MUXClient& client, const std::string& command);

}  // namespace nvo::tools

#endif  // GATEWAY_TOOLS_TOOL_SESSION_H_
