// What the daemon's conversations add to the socket layer's whole-buffer transfers
// (client/socket_transfer.h): the time-out of an accepted client connection and the port order
// that connecting to a stored listener needs. The transfers are brought into this namespace, so
// a request, answer or notification counts only when every byte of it went through within one
// time budget.
#ifndef TOLMD_SOCKET_IO_H_
#define TOLMD_SOCKET_IO_H_

#include <cstdint>

#include "client/socket_transfer.h"

namespace tolmd {

using vokra::readExactly;
using vokra::writeAll;

// Time-outs of every accepted client connection.
inline constexpr int kConnectionTimeoutSeconds = 10;

// A port held in network order (as registrations store it) in the host order connect wants.
unsigned short hostOrderPort(uint16_t networkPort);

}  // namespace tolmd

#endif  // TOLMD_SOCKET_IO_H_
