// The one place where the socket layer turns an error number into an exception.
//
// The socket layer (inet_socket.cc, socket_util.cc) is one set of sources linked into two
// libraries that report failures with different exception types: libvokra throws its own
// vokra::SocketException (no base class), the daemons' support library throws
// teska::SocketException (derived from teska::BaseException). Each library defines this
// function once, next to its exception class: client/socket_exception.cc for libvokra,
// outside/socket_exception.cc for the support library.
#ifndef CLIENT_SOCKET_ERROR_H_
#define CLIENT_SOCKET_ERROR_H_

namespace vokra {

// Throws the SocketException of the library the socket layer is linked into, built from
// (errornum, where, what); its message is where + " - " + what + ": " + strerror(errornum).
[[noreturn]] void throwSocketException(int errornum, const char* where, const char* what);

}  // namespace vokra

#endif  // CLIENT_SOCKET_ERROR_H_
