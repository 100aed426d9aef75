// FakeTolmDaemon: the daemon end of SIGNAL conversations for libvokra's client tests, on
// 127.0.0.1 with a system-chosen port. It records every request byte for byte and answers as
// the test tells it: a chosen 12-byte answer, nothing, the answer in two pieces, a short
// answer, or silence until the client gives up. Like tolmd, it closes without an answer when
// the header announces a body above 4096 bytes.
//
// Owns its listening socket and one serving thread (one connection at a time); the destructor
// stops both. Every wait is bounded. All public methods are thread safe.
#ifndef CLIENT_FAKE_TOLM_DAEMON_H_
#define CLIENT_FAKE_TOLM_DAEMON_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/tolm_wire.h"

namespace vokra::testing {

enum class FakeReply {
  kAnswer,  // the configured 12 bytes, then close
  kClose,   // close without answering
  kPieces,  // the first 6 answer bytes, then wait until the client closes
  kShort,   // the first 8 answer bytes, then close
  kSilent,  // nothing; hold the connection until the client closes
};

class FakeTolmDaemon {
 public:
  FakeTolmDaemon();
  ~FakeTolmDaemon();
  FakeTolmDaemon(const FakeTolmDaemon&) = delete;
  FakeTolmDaemon& operator=(const FakeTolmDaemon&) = delete;

  uint16_t port() const { return port_; }  // host order
  std::string url() const;                 // service:tolm.x://127.0.0.1:PORT

  void setReply(FakeReply reply,
                tolm::HeaderBytes answer = tolm::buildAnswer(tolm::kAnswerSignal, tolm::kRcOk));

  // Requests received so far: header and as much body as was read.
  std::vector<std::vector<uint8_t>> requests() const;
  std::size_t connectionCount() const { return connections_.load(); }
  // Waits (at most 10 s) until `count` connections have been served completely.
  bool waitForConnections(std::size_t count) const;

 private:
  void serve();
  void handle(int fd);

  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<std::size_t> connections_{0};

  mutable std::mutex mutex_;
  FakeReply reply_ = FakeReply::kAnswer;
  tolm::HeaderBytes answer_{};
  std::vector<std::vector<uint8_t>> requests_;
};

}  // namespace vokra::testing

#endif  // CLIENT_FAKE_TOLM_DAEMON_H_
