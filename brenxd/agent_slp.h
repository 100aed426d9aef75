// The agent's SLP advertisement: one "service:nvowsc.x://<address>:<port>" URL per network
// interface, without attributes, registered at start after this host's stale URLs of the
// service are withdrawn, and withdrawn again at shutdown. Lines go to the agent's log stream.
#ifndef BRENXD_AGENT_SLP_H_
#define BRENXD_AGENT_SLP_H_

#include <cstdint>
#include <string>

namespace brenxd {

// The URL of the agent on the interface `address`; both address and `port` in network order.
std::string serviceUrl(uint32_t address, uint16_t port);

// Withdraws this host's stale URLs of the service, then registers one URL per interface for
// `port` (network order). 0, or the SLP error when no handle could be had.
int doSlpRegister(uint16_t port);
// Withdraws `url`; the SLP result (0 on success).
int doSlpDeregister(const std::string& url);
// Withdraws the URL of every interface present now, logging each outcome.
void deregisterAll(uint16_t port);

}  // namespace brenxd

#endif  // BRENXD_AGENT_SLP_H_
