// The daemons' socket failure, thrown by the socket layer (client/inet_socket.h) when it is
// linked into the support library. Same values and message as the client library's own
// vokra::SocketException, but derived from BaseException so the daemons' handlers catch it.
#ifndef OUTSIDE_SOCKET_EXCEPTION_H_
#define OUTSIDE_SOCKET_EXCEPTION_H_

#include <string>

#include "outside/base_exception.h"

namespace teska {

class SocketException : public BaseException {
 public:
  // what() is `what` ("connect"); getMessage() is where + " - " + what + ": " + strerror.
  SocketException(int errornum, std::string where, const std::string& what);

  int errornum() const noexcept { return errornum_; }
  const std::string& where() const noexcept { return where_; }

 private:
  std::string where_;
  int errornum_;
};

}  // namespace teska

#endif  // OUTSIDE_SOCKET_EXCEPTION_H_
