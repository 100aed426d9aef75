// Bounded reads and writes on raw descriptors for the test-support code. Each call waits at
// most until its deadline, and optionally gives up at once when a stop descriptor becomes
// readable, so no test helper can hang.
#ifndef TESTS_SUPPORT_FD_IO_H_
#define TESTS_SUPPORT_FD_IO_H_

#include <chrono>
#include <cstddef>

namespace nvo_test {

using Deadline = std::chrono::steady_clock::time_point;

inline Deadline deadlineIn(std::chrono::milliseconds timeout) {
  return std::chrono::steady_clock::now() + timeout;
}

// Reads up to `length` bytes into `buffer`, stopping early when the peer closes, the deadline
// passes or `stopFd` (if >= 0) becomes readable. Returns the number of bytes read.
std::size_t readUpTo(int fd, void* buffer, std::size_t length, Deadline deadline, int stopFd = -1);

// Writes all `length` bytes; false when the peer is gone or the deadline passes.
bool writeAll(int fd, const void* buffer, std::size_t length, Deadline deadline);

// Waits until `fd` is readable (data or end of stream); false on deadline or when `stopFd` (if
// >= 0) becomes readable first.
bool waitReadable(int fd, Deadline deadline, int stopFd = -1);

// Closes `fd` when it is >= 0 and sets it to -1.
void closeFd(int& fd);

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_FD_IO_H_
