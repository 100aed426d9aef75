// processConnection: serves one workstation request on a connection taken from the listening
// socket: reads the host name and MAC address, asks the syncer for the authentication text and
// answers with it or with the refusal, then closes the connection.
//
// The request has one budget of kRequestSeconds from the accept: a client that sends nothing,
// stalls inside a field or trickles its bytes is dropped when it runs out, and the bytes of a
// field may arrive in any number of pieces. Runs on the agent's one thread.
#ifndef BRENXD_REQUEST_READER_H_
#define BRENXD_REQUEST_READER_H_

#include "brenxd/workstation_syncer.h"
#include "outside/inet_server_socket_impl.h"
#include "outside/log_stream.h"

namespace brenxd {

inline constexpr int kRequestSeconds = 10;

// Accepts one connection (without waiting) and serves it to its end. Never throws: socket
// failures are logged and the connection is released.
void processConnection(teska::InetServerSocketImpl& listener, WorkStationSyncer& syncer,
                       teska::LogStream& log);

}  // namespace brenxd

#endif  // BRENXD_REQUEST_READER_H_
