// Agent: the service agent's handling of one request message, independent of sockets. It
// decodes the bytes, applies the transport rules (registrations only from this host and never
// by multicast; silence towards multicast requests that list this host as a previous responder
// or cannot be answered; PARSE_ERROR and the like only to unicast requests) and encodes the
// reply, never larger than the MTU over UDP. Holds references to the store and settings,
// which must outlive it. Not thread-safe: used by the service loop only.
#ifndef SLP_AGENT_H_
#define SLP_AGENT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "slp/message.h"
#include "slp/registration_store.h"
#include "slp/responder.h"
#include "slp/settings.h"
#include "slp/socket_ops.h"

namespace vslp {

struct RequestContext {
  Endpoint from;
  uint32_t localAddress = 0;  // address the request was received at
  bool multicast = false;     // sent to a multicast or broadcast address
  bool tcp = false;
  bool local = false;  // sent from this host (loopback interface or one of its addresses)
};

// One encoded reply. `endsExchange`: over TCP the agent closes the connection once the reply
// is written, since the asker reads until then (the directory-agent question other libraries
// put to the local agent before each lookup).
struct AgentReply {
  std::vector<uint8_t> bytes;
  bool endsExchange = false;
};

class Agent {
 public:
  Agent(const DaemonSettings& settings, RegistrationStore& store);

  // The reply to `request`, or empty when none is due. Throws only std::bad_alloc.
  std::optional<AgentReply> handle(std::span<const uint8_t> request, const RequestContext& ctx,
                                   Clock::time_point now);

  // This host's addresses, compared with previous-responder lists.
  void setOwnAddresses(std::vector<uint32_t> addresses) { ownAddresses_ = std::move(addresses); }

 private:
  std::optional<Body> dispatch(const Message& m, const RequestContext& ctx, bool multicast,
                               Clock::time_point now);
  std::optional<Body> registration(const Message& m, const RequestContext& ctx,
                                   Clock::time_point now);
  std::optional<Body> deregistration(const Message& m, const RequestContext& ctx);
  bool listsMe(const std::string& prList, const RequestContext& ctx) const;
  std::optional<std::vector<uint8_t>> encodeReply(Body body, const Header& request,
                                                  const RequestContext& ctx) const;

  const DaemonSettings& settings_;
  RegistrationStore& store_;
  Responder responder_;
  std::vector<uint32_t> ownAddresses_;
};

}  // namespace vslp

#endif  // SLP_AGENT_H_
