// TestListener: a real TCP listener program for end-to-end tests of the event daemon.
//
// It plays the listener side of the event protocol on 127.0.0.1: it answers the daemon's PING
// probe (or deliberately misbehaves), and it records every NOTIFY packet byte for byte, with an
// optional 4-byte acknowledgement for the sequential stagger mode. Connections are served one
// at a time, in arrival order, by the listener's own thread.
//
// The daemon keeps one registration per listener address and event, so listeners that must be
// registered for the same event need different addresses (ListenerOptions::address).
//
// Owns its listening descriptor and its thread; the destructor stops the thread and closes
// every descriptor, after which the port refuses connections. All public methods are thread
// safe. Every wait is bounded by the caller's time-out.
#ifndef TESTS_SUPPORT_TEST_LISTENER_H_
#define TESTS_SUPPORT_TEST_LISTENER_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nvo_test {

// How the listener answers a PING probe.
enum class PingMode {
  kAnswer,     // 12 bytes: version, 0xE0000006, 0
  kWrongCode,  // 12 bytes with 0xE0000001 in the second word
  kSilent,     // reads the probe and never answers (holds the connection until the peer closes)
  kSlow,       // answers correctly after `answerDelay`
  kClose,      // closes the connection without answering
};

// What the listener does after reading a NOTIFY packet.
enum class NotifyMode {
  kRecordOnly,   // records it and closes
  kAcknowledge,  // records it, waits `answerDelay`, writes 4 bytes ("ACK!") and closes
  kSilent,       // records it and never answers (holds the connection until the peer closes)
};

struct ListenerOptions {
  PingMode ping = PingMode::kAnswer;
  NotifyMode notify = NotifyMode::kRecordOnly;
  std::chrono::milliseconds answerDelay{0};
  // Any loopback address (127.0.0.0/8 all reach the local host), so several listeners of one
  // test can have different addresses.
  std::string address = "127.0.0.1";
  uint16_t port = 0;  // host order; 0 lets the system choose
};

// One NOTIFY as received.
struct Arrival {
  std::vector<uint8_t> packet;                 // the whole packet: 12 header bytes and the body
  uint64_t sequence = 0;                       // process-wide arrival order across all listeners
  std::chrono::steady_clock::time_point when;  // when the packet was read
  // Just before the ACK was written (set once the write succeeded).
  std::optional<std::chrono::steady_clock::time_point> acknowledged;
};

class TestListener {
 public:
  // Binds options.address:options.port and starts serving. Throws std::runtime_error when the
  // socket cannot be set up.
  explicit TestListener(ListenerOptions options = {});
  ~TestListener();
  TestListener(const TestListener&) = delete;
  TestListener& operator=(const TestListener&) = delete;

  uint16_t port() const { return port_; }  // host order
  const std::string& address() const { return options_.address; }
  // The address and the port in network order, the form a REGISTER request carries.
  uint32_t addressNetworkOrder() const;
  uint16_t portNetworkOrder() const;
  // "address:port", the daemon's text for the listener.
  std::string text() const;

  // Counts and copies of what arrived so far.
  std::size_t pingCount() const;
  std::size_t notifyCount() const;
  std::vector<Arrival> arrivals() const;
  // Connections that ended before a whole 12-byte header arrived.
  std::size_t brokenCount() const;

  // Waits until at least `count` NOTIFY packets (PINGs) have arrived; false on time-out.
  bool waitForNotifications(std::size_t count, std::chrono::milliseconds timeout) const;
  bool waitForPings(std::size_t count, std::chrono::milliseconds timeout) const;

  // A port (host order) of `address` on which nothing listens at the moment of the call.
  static uint16_t unusedPort(const std::string& address = "127.0.0.1");

 private:
  void serve();
  void handleConnection(int fd);
  void handlePing(int fd);
  void handleNotify(int fd, const uint8_t* header, int32_t length);
  // Waits until the peer closes `fd` or the listener stops.
  void holdUntilClosed(int fd);

  ListenerOptions options_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::size_t pings_ = 0;
  std::size_t broken_ = 0;
  std::vector<Arrival> arrivals_;
};

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_TEST_LISTENER_H_
