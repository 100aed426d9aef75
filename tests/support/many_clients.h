// Many clients of a request-per-connection TCP service at once, for load and fault tests:
// every request on its own non-blocking connection, all opened together and served from one
// thread with poll(2), and a thread that runs in another network namespace of the test sandbox
// (another host) for traffic that must not come from loopback. Every wait is bounded.
#ifndef TESTS_SUPPORT_MANY_CLIENTS_H_
#define TESTS_SUPPORT_MANY_CLIENTS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/unique_fd.h"

namespace nvo_test {

// Opens one connection per request to `address`:`port` (dotted quad) at once, sends each
// request whole, ends its sending side, and reads each connection until the server closes it. Returns what came back
// on each connection, in request order; a connection that failed, or was still open when
// `timeout` ran out, gives what it had read by then (often nothing). Raises the soft limit of
// open descriptors as far as the hard limit allows.
std::vector<std::vector<uint8_t>> exchangeAtOnce(const std::string& address, uint16_t port,
                                                 const std::vector<std::vector<uint8_t>>& requests,
                                                 std::chrono::milliseconds timeout);

// A blocking connection to `address`:`port` made within `timeout`; invalid when none was made.
UniqueFd connectTo(const std::string& address, uint16_t port, std::chrono::milliseconds timeout);

// Runs `body` on a new thread that first enters the network namespace `name` of
// "ip netns" (/run/netns/NAME) and waits for it. Throws std::runtime_error, without running
// `body`, when the namespace cannot be entered; an exception from `body` is passed on.
void runInNetworkNamespace(const std::string& name, const std::function<void()>& body);

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_MANY_CLIENTS_H_
