#include "client/socket_exception.h"

#include <cstring>
#include <utility>

#include "client/socket_error.h"

namespace vokra {
namespace {

// strerror text without strerror's shared buffer (the GNU strerror_r returns the text).
std::string errorText(int errornum) {
  char buffer[256];
  return ::strerror_r(errornum, buffer, sizeof buffer);
}

}  // namespace

SocketException::SocketException(int errornum, std::string where, const std::string& what)
    : message_(where + " - " + what + ": " + errorText(errornum)),
      where_(std::move(where)),
      errornum_(errornum) {}

void throwSocketException(int errornum, const char* where, const char* what) {
  throw SocketException(errornum, where, what);
}

}  // namespace vokra
