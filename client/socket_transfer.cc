#include "client/socket_transfer.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <limits>

namespace vokra {
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
// socket's time-out set to the seconds still left) until done or out of time. Each successful
// step moves at least one byte, so `total` bounds the rounds.
template <class Step>
bool moveAll(std::size_t total, Clock::time_point deadline, Step step) {
  std::size_t done = 0;
  while (done < total) {
    int left = secondsLeft(deadline);
    if (left == 0) {
      return false;
    }
    // One call moves at most what an int can count; the loop takes the rest.
    const int chunk =
        static_cast<int>(std::min<std::size_t>(total - done, std::numeric_limits<int>::max()));
    int count = step(done, chunk, left);
    if (count <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(count);
  }
  return true;
}

Clock::time_point deadlineIn(int seconds) {
  return Clock::now() + std::chrono::seconds(std::max(seconds, 0));
}

}  // namespace

bool readExactly(InetSocket& socket, std::span<uint8_t> buffer, int seconds) {
  bool complete = readExactlyBy(socket, buffer, deadlineIn(seconds));
  socket.setReadTimeout(seconds);
  return complete;
}

bool readExactlyBy(InetSocket& socket, std::span<uint8_t> buffer,
                   std::chrono::steady_clock::time_point deadline) {
  return moveAll(buffer.size(), deadline, [&](std::size_t done, int chunk, int left) {
    socket.setReadTimeout(left);
    return socket.read(buffer.data() + done, chunk, false);
  });
}

bool writeAll(InetSocket& socket, std::span<const uint8_t> bytes, int seconds) {
  bool complete =
      moveAll(bytes.size(), deadlineIn(seconds), [&](std::size_t done, int chunk, int left) {
        socket.setWriteTimeout(left);
        return socket.write(bytes.data() + done, chunk, false);
      });
  socket.setWriteTimeout(seconds);
  return complete;
}

}  // namespace vokra
