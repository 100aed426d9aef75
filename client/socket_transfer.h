// Whole-buffer transfers over the socket layer's connections: a packet counts only when every
// byte of it went through, even when the peer's bytes arrive in pieces. Each call has one time
// budget for all of its pieces, so a peer that trickles bytes cannot hold the caller for longer
// than that.
//
// Free functions without state; any thread may call them on a socket it is the one user of.
// They report failure by their result and never throw, whichever library the socket layer is
// linked into. Internal to the layer: not part of libvokra's exported interface.
#ifndef CLIENT_SOCKET_TRANSFER_H_
#define CLIENT_SOCKET_TRANSFER_H_

#include <chrono>
#include <cstdint>
#include <span>

#include "client/inet_socket.h"

namespace vokra {

// Reads exactly buffer.size() bytes within `seconds` in all; true when all arrived (at once
// for an empty buffer). False when the peer closed, the time ran out, a read failed (errno as
// InetSocket::read leaves it) or `seconds` is not above 0; the bytes read so far are then in
// the front of `buffer`. Leaves the socket's read time-out at `seconds`.
bool readExactly(InetSocket& socket, std::span<uint8_t> buffer, int seconds);

// The same with one deadline for the whole buffer, so several reads can share one budget (a
// read waits in whole seconds, so the last one may end up to a second after `deadline`). Leaves
// the socket's read time-out at what the last read used.
bool readExactlyBy(InetSocket& socket, std::span<uint8_t> buffer,
                   std::chrono::steady_clock::time_point deadline);

// Writes all of `bytes` within `seconds` in all; true when all went out. False when a write
// failed (a peer that has gone: EPIPE or ECONNRESET, never SIGPIPE), the time ran out or
// `seconds` is not above 0. Leaves the socket's write time-out at `seconds`.
bool writeAll(InetSocket& socket, std::span<const uint8_t> bytes, int seconds);

}  // namespace vokra

#endif  // CLIENT_SOCKET_TRANSFER_H_
