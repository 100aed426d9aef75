// Whole-buffer reads and writes on the socket layer's connections, as the daemon's
// conversations need them: a request, answer or notification counts only when every byte of it
// went through. Each underlying call waits at most the socket's own time-out, and every pass
// either moves bytes or ends the loop, so both calls are bounded.
#ifndef TOLMD_SOCKET_IO_H_
#define TOLMD_SOCKET_IO_H_

#include <cstdint>
#include <span>

#include "client/inet_socket.h"

namespace tolmd {

// Reads exactly buffer.size() bytes; false when the peer closed, the time-out ran out or the
// read failed first. Never throws.
bool readExactly(vokra::InetSocket& socket, std::span<uint8_t> buffer);

// Writes all of `bytes`; false when a write failed or timed out first. Never throws.
bool writeAll(vokra::InetSocket& socket, std::span<const uint8_t> bytes);

// A port held in network order (as registrations store it) in the host order connect wants.
unsigned short hostOrderPort(uint16_t networkPort);

}  // namespace tolmd

#endif  // TOLMD_SOCKET_IO_H_
