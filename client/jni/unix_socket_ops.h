// The system calls behind the Unix-domain socket natives: readiness waits, connecting, closing.
// Stateless; any thread may call. Waits use poll(), so descriptors of any number work, and a
// descriptor that is negative or not open counts as a failed wait rather than one that never
// ends.
#ifndef CLIENT_JNI_UNIX_SOCKET_OPS_H_
#define CLIENT_JNI_UNIX_SOCKET_OPS_H_

#include <cstddef>

namespace vokra {

// Longest socket path that fits the 108-byte address area with its terminating NUL.
inline constexpr std::size_t kMaxUnixPathLength = 107;

// True when at least one byte (or end of stream) can be read from `fd` now; never blocks.
// Any failure gives false.
bool readableNow(int fd);

// Waits without time limit until `fd` is readable (`forInput`) or writable. Signals that
// interrupt the wait restart it. Returns false when the wait fails (errno set), including for
// a descriptor that is negative or not open.
bool waitReady(int fd, bool forInput);

enum class UnixConnectResult { kConnected, kNoSocket, kConnectFailed };

// Creates a Unix-domain stream socket and connects it to the `length` bytes of `path`
// (length <= kMaxUnixPathLength; the address length passed is 2 + length, the NUL not
// counted). Before connecting, the whole process is set to ignore SIGPIPE unless a handler is
// installed already (the JVM's ignores it), so writes to a peer that went away fail instead of
// killing the process. On kConnected `*fd` receives the new descriptor; on failure no
// descriptor is left open.
UnixConnectResult connectUnix(const char* path, std::size_t length, int* fd);

// close(fd); true on success.
bool closeDescriptor(int fd);

}  // namespace vokra

#endif  // CLIENT_JNI_UNIX_SOCKET_OPS_H_
