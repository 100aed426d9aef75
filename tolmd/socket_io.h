// Whole-buffer reads and writes on the socket layer's connections, as the daemon's
// conversations need them: a request, answer or notification counts only when every byte of it
// went through, even when the peer's bytes arrive in pieces. Each call has one time budget for
// all of its pieces, so a peer that trickles bytes cannot hold a thread for longer than that.
#ifndef TOLMD_SOCKET_IO_H_
#define TOLMD_SOCKET_IO_H_

#include <cstdint>
#include <span>

#include "client/inet_socket.h"

namespace tolmd {

// Time-outs of every accepted client connection.
inline constexpr int kConnectionTimeoutSeconds = 10;

// Reads exactly buffer.size() bytes within `seconds` (above 0) in all; false when the peer
// closed, the time ran out or a read failed first. Leaves the socket's read time-out at
// `seconds`. Never throws.
bool readExactly(vokra::InetSocket& socket, std::span<uint8_t> buffer, int seconds);

// Writes all of `bytes` within `seconds` (above 0) in all; false when a write failed or the
// time ran out first. Leaves the socket's write time-out at `seconds`. Never throws.
bool writeAll(vokra::InetSocket& socket, std::span<const uint8_t> bytes, int seconds);

// A port held in network order (as registrations store it) in the host order connect wants.
unsigned short hostOrderPort(uint16_t networkPort);

}  // namespace tolmd

#endif  // TOLMD_SOCKET_IO_H_
