// Readiness waits, address texts and sleeps of the socket layer. No state; callable from any
// thread. Waits use poll(), so they work for every descriptor number.
#ifndef CLIENT_SOCKET_UTIL_H_
#define CLIENT_SOCKET_UTIL_H_

#include <cstdint>
#include <string>

#include "client/vokra_export.h"

namespace vokra {

// One wait until `fd` is readable (`forInput`) or writable. `seconds` -1 waits without limit,
// any other value that many whole seconds (0 polls). An interrupted wait is not retried.
// Returns 0 when ready (an error or hang-up on the socket counts as ready: the next read or
// write reports it), 110 (ETIMEDOUT) when the time ran out, or the errno of the failed wait:
// 4 when interrupted, 9 when `fd` is not open, 22 for `seconds` below -1.
VOKRA_API int waitForSockIO(int fd, int seconds, bool forInput);

// The same wait: true when ready, false when the time ran out; a failed wait throws the
// library's SocketException(errno, "::waitForIO", "select").
VOKRA_API bool waitForIO(int fd, int seconds, bool forInput);

// Dotted-quad text of an IPv4 address held in network byte order ("10.0.0.5"), and the same
// followed by ":" and the decimal port, the port also in network byte order ("10.0.0.5:3456").
VOKRA_API std::string inetAddrToString(uint32_t address);
VOKRA_API std::string inetAddrToString(uint32_t address, uint16_t port);

// Sleeps through usleep(); each returns usleep's result. secondSleep and milliSleep multiply
// by 1,000,000 and 1,000 (in 64 bits, so long sleeps do not overflow) and sleep that many
// microseconds. A negative count does not sleep and returns -1 with errno 22.
VOKRA_API int secondSleep(int seconds);
VOKRA_API int milliSleep(int milliseconds);
VOKRA_API int microSleep(int microseconds);

}  // namespace vokra

#endif  // CLIENT_SOCKET_UTIL_H_
