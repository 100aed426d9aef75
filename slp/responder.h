// Responder: the answers of a service agent to SrvRqst, AttrRqst and SrvTypeRqst, computed
// from the registration store (RFC 2608 sections 8, 10 and 11). Requests that arrived by
// multicast get no answer when nothing matches or the request is in error; unicast requests
// always get one (with an error code where due). Holds a reference to the store, which must
// outlive it. Not thread-safe: used by the daemon's service loop only.
#ifndef SLP_RESPONDER_H_
#define SLP_RESPONDER_H_

#include <cstdint>
#include <optional>
#include <string>

#include "slp/message.h"
#include "slp/registration_store.h"

namespace vslp {

struct QueryContext {
  bool multicast = false;
  uint32_t localAddress = 0;  // where the request arrived; names this agent in a SAAdvert
  Clock::time_point now;
};

// True for a request for "service:directory-agent" (DAAdverts).
bool asksForDirectoryAgents(const SrvRqst& request);

class Responder {
 public:
  // `scopes`: the agent's scopes, advertised in SAAdverts.
  Responder(const RegistrationStore& store, std::string scopes);

  // The reply body, or empty to stay silent.
  std::optional<Body> answer(const SrvRqst& request, const std::string& lang,
                             const QueryContext& ctx) const;
  std::optional<Body> answer(const AttrRqst& request, const std::string& lang,
                             const QueryContext& ctx) const;
  std::optional<Body> answer(const SrvTypeRqst& request, const QueryContext& ctx) const;

 private:
  std::optional<Body> serviceAgentAdvert(const SrvRqst& request, const QueryContext& ctx) const;
  std::optional<Body> attributesOfUrl(const AttrRqst& request, const std::string& lang,
                                      const QueryContext& ctx) const;
  bool inScope(const Registration& r, const std::string& requestScopes,
               Clock::time_point now) const;

  const RegistrationStore& store_;
  std::string scopes_;
};

}  // namespace vslp

#endif  // SLP_RESPONDER_H_
