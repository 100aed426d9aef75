// The client library's socket failure: an error number, the operation that failed ("where",
// for example "InetSocket::connect") and the full message
// where + " - " + what + ": " + strerror(errornum). A plain value class with no base class, as
// Java and C++ callers of libvokra expect; copied by value.
#ifndef CLIENT_SOCKET_EXCEPTION_H_
#define CLIENT_SOCKET_EXCEPTION_H_

#include <string>

#include "client/vokra_export.h"

namespace vokra {

class VOKRA_API SocketException {
 public:
  SocketException(int errornum, std::string where, const std::string& what);

  const std::string& getMessage() const noexcept { return message_; }
  const std::string& where() const noexcept { return where_; }
  int errornum() const noexcept { return errornum_; }

 private:
  std::string message_;
  std::string where_;
  int errornum_;
};

}  // namespace vokra

#endif  // CLIENT_SOCKET_EXCEPTION_H_
