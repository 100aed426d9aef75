#include "tolmd/socket_io.h"

#include <chrono>
#include <cstddef>

#include <arpa/inet.h>

namespace tolmd {
namespace {

using Clock = std::chrono::steady_clock;

// Whole seconds left until `deadline`, rounded up; 0 when it has passed.
int secondsLeft(Clock::time_point deadline) {
  auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) {
    return 0;
  }
  return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

// Moves `total` bytes with `step` (one read or write of up to the given count, with the
// socket's time-out set to the seconds still left) until done or out of time.
template <class Step>
bool moveAll(std::size_t total, int seconds, Step step) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  std::size_t done = 0;
  while (done < total) {
    int left = secondsLeft(deadline);
    if (left == 0) {
      return false;
    }
    int count = step(done, left);
    if (count <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

bool readExactly(vokra::InetSocket& socket, std::span<uint8_t> buffer, int seconds) {
  bool complete = moveAll(buffer.size(), seconds, [&](std::size_t done, int left) {
    socket.setReadTimeout(left);
    return socket.read(buffer.data() + done, static_cast<int>(buffer.size() - done), false);
  });
  socket.setReadTimeout(seconds);
  return complete;
}

bool writeAll(vokra::InetSocket& socket, std::span<const uint8_t> bytes, int seconds) {
  bool complete = moveAll(bytes.size(), seconds, [&](std::size_t done, int left) {
    socket.setWriteTimeout(left);
    return socket.write(bytes.data() + done, static_cast<int>(bytes.size() - done), false);
  });
  socket.setWriteTimeout(seconds);
  return complete;
}

unsigned short hostOrderPort(uint16_t networkPort) {
  return ntohs(networkPort);
}

}  // namespace tolmd
