#include "client/socket_util.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "client/socket_error.h"

namespace vokra {
namespace {

// poll() takes milliseconds in an int; longer waits are cut to the longest it can express
// (about 24 days), which no caller comes near.
int pollMilliseconds(int seconds) {
  constexpr int kMaxSeconds = INT_MAX / 1000;
  return (seconds > kMaxSeconds ? kMaxSeconds : seconds) * 1000;
}

// usleep() takes at most UINT_MAX microseconds; longer sleeps are made of several calls.
int sleepMicroseconds(int64_t microseconds) {
  if (microseconds < 0) {
    errno = EINVAL;
    return -1;
  }
  constexpr int64_t kChunk = 1'000'000'000;  // 1000 s per call
  while (microseconds > kChunk) {
    if (::usleep(static_cast<useconds_t>(kChunk)) != 0) {
      return -1;
    }
    microseconds -= kChunk;
  }
  return ::usleep(static_cast<useconds_t>(microseconds));
}

}  // namespace

int waitForSockIO(int fd, int seconds, bool forInput) {
  if (seconds < -1) {
    return EINVAL;  // a negative time other than "no limit" is not a valid wait
  }
  pollfd entry{};
  entry.fd = fd;
  entry.events = forInput ? POLLIN : POLLOUT;
  const int ready = ::poll(&entry, 1, seconds == -1 ? -1 : pollMilliseconds(seconds));
  if (ready < 0) {
    return errno;
  }
  if (ready == 0) {
    return ETIMEDOUT;
  }
  // A descriptor that is not open is a failed wait. An error or hang-up on the socket counts
  // as ready: the following read or write reports it.
  if ((entry.revents & POLLNVAL) != 0) {
    return EBADF;
  }
  return 0;
}

bool waitForIO(int fd, int seconds, bool forInput) {
  const int result = waitForSockIO(fd, seconds, forInput);
  if (result == 0) {
    return true;
  }
  if (result == ETIMEDOUT) {
    return false;
  }
  throwSocketException(result, "::waitForIO", "select");
}

std::string inetAddrToString(uint32_t address) {
  in_addr in{};
  in.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

std::string inetAddrToString(uint32_t address, uint16_t port) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%d", static_cast<int>(ntohs(port)));
  return inetAddrToString(address) + suffix;
}

int secondSleep(int seconds) {
  return sleepMicroseconds(int64_t{seconds} * 1'000'000);
}

int milliSleep(int milliseconds) {
  return sleepMicroseconds(int64_t{milliseconds} * 1'000);
}

int microSleep(int microseconds) {
  return sleepMicroseconds(microseconds);
}

}  // namespace vokra
