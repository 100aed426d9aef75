// GatewaySession: the agent's seam to the management gateway, one session per workstation
// request. The real one is a libnvo MUXClient (openMuxSession); tests put a scripted gateway
// behind the same seam to answer what a real gateway never does (no reply, a foreign reply).
//
// Not thread-safe; one session belongs to one request.
#ifndef BRENXD_GATEWAY_SESSION_H_
#define BRENXD_GATEWAY_SESSION_H_

#include <functional>
#include <memory>
#include <string>

#include "gateway/dom_node.h"

namespace brenxd {

class GatewaySession {
 public:
  virtual ~GatewaySession() = default;

  // Opens the session with an authentication document; true when it is usable.
  virtual bool initSession(const std::string& document) = 0;
  // Sends one command document; the root of the reply, or null when none came. The node stays
  // valid until the next call or the session's end.
  virtual nvo::DOM_Node callGateway(const std::string& command) = 0;
};

using GatewaySessionFactory = std::function<std::unique_ptr<GatewaySession>()>;

// A session over libnvo's MUXClient.
std::unique_ptr<GatewaySession> openMuxSession();

}  // namespace brenxd

#endif  // BRENXD_GATEWAY_SESSION_H_
