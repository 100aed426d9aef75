// RawConnection: a plain TCP client for sending hand-built request bytes to a daemon on the
// loopback address and reading what comes back, every wait bounded.
//
// Owns its descriptor (closed by close() and the destructor). Not thread safe: one test thread
// uses one connection.
#ifndef TESTS_SUPPORT_RAW_CLIENT_H_
#define TESTS_SUPPORT_RAW_CLIENT_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

namespace nvo_test {

class RawConnection {
 public:
  // Connects to 127.0.0.1:`port` (host order). Throws std::runtime_error when that fails.
  explicit RawConnection(uint16_t port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  // Writes all bytes; false when the peer is gone.
  bool send(std::span<const uint8_t> bytes);
  // Ends our sending direction; the peer reads end of stream, we can still read.
  void shutdownWrite();
  // Reads up to `length` bytes, stopping at end of stream or after `timeout`.
  std::vector<uint8_t> read(std::size_t length, std::chrono::milliseconds timeout);
  // True when the peer has closed (end of stream within `timeout`, no data pending).
  bool peerClosed(std::chrono::milliseconds timeout);
  void close();

 private:
  int fd_ = -1;
};

// Decoded 12-byte answer of the event daemon.
struct Answer {
  uint32_t version = 0;
  uint32_t code = 0;
  int32_t result = 0;
  bool operator==(const Answer&) const = default;
};
// "(0x00010001, 0xe0000001, -12)", for test failure messages.
std::ostream& operator<<(std::ostream& out, const Answer& answer);

// Sends `request` on a new connection to 127.0.0.1:`port`, half-closes it, and reads the
// answer: the decoded 12 bytes, or nothing when the daemon closed the connection (or the
// time-out passed) without a complete answer.
std::optional<Answer> exchange(uint16_t port, std::span<const uint8_t> request,
                               std::chrono::milliseconds timeout = std::chrono::seconds(15));

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_RAW_CLIENT_H_
