// ServiceLoop: the daemon's sockets and its single-threaded poll() loop. One UDP socket on the
// SLP port receives unicast, broadcast and multicast requests (joined to 239.255.255.253 on
// every selected multicast-capable interface, re-checked periodically); one TCP listener takes
// connections (bounded in number and idle time). Once a second expired registrations and those
// of vanished processes are dropped. Owns its sockets and connections; uses the agent and
// store it is given, which must outlive it. Called from the main thread only.
#ifndef SLP_SERVICE_LOOP_H_
#define SLP_SERVICE_LOOP_H_

#include <memory>
#include <vector>

#include "slp/agent.h"
#include "slp/interfaces.h"
#include "slp/registration_store.h"
#include "slp/settings.h"
#include "slp/socket_ops.h"
#include "slp/tcp_connection.h"

namespace vslp {

class ServiceLoop {
 public:
  ServiceLoop(const DaemonSettings& settings, Agent& agent, RegistrationStore& store);

  // Creates and binds the sockets (needs privileges for ports below 1024). Throws SocketError
  // when the port is taken or the sockets cannot be made.
  void open();

  // Serves requests until a byte holding SIGTERM or SIGINT can be read from `signalFd`; a
  // SIGHUP byte re-reads the interfaces and checks registering processes at once. Throws
  // SocketError only for failures of poll() or the listening sockets themselves.
  void run(int signalFd);

 private:
  bool handleSignals(int signalFd);
  void refreshInterfaces();
  void housekeeping(Clock::time_point now);
  void serveUdp();
  void acceptTcp();
  bool serveConnection(TcpConnection& c, short revents);
  bool acceptedOn(int interfaceIndex, uint32_t destination) const;
  bool isOwnAddress(uint32_t addr) const;
  bool isLoopbackInterface(int index) const;

  const DaemonSettings& settings_;
  Agent& agent_;
  RegistrationStore& store_;
  UniqueFd udp_;
  UniqueFd listener_;
  std::vector<std::unique_ptr<TcpConnection>> connections_;
  std::vector<InterfaceAddress> interfaces_;
  Clock::time_point nextHousekeeping_;
  Clock::time_point nextInterfaceScan_;
};

}  // namespace vslp

#endif  // SLP_SERVICE_LOOP_H_
