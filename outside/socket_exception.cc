#include "outside/socket_exception.h"

#include <string.h>

#include <utility>

#include "client/socket_error.h"

namespace teska {
namespace {

// strerror() may hand back a buffer shared between threads; the GNU strerror_r returns either
// its own static text or `buffer`, both safe to copy.
std::string errorText(int errornum) {
  char buffer[128];
  return strerror_r(errornum, buffer, sizeof buffer);
}

}  // namespace

SocketException::SocketException(int errornum, std::string where, const std::string& what)
    : BaseException(what, where + " - " + what + ": " + errorText(errornum)),
      where_(std::move(where)),
      errornum_(errornum) {}

}  // namespace teska

namespace vokra {

// The socket layer linked into the support library reports failures with the daemons'
// exception type, so handlers that catch teska::BaseException see them.
void throwSocketException(int errornum, const char* where, const char* what) {
  throw teska::SocketException(errornum, where != nullptr ? where : "",
                               what != nullptr ? what : "");
}

}  // namespace vokra
