// FaultListener: a listener program that answers the daemon's registration probe and then,
// once armed, misbehaves on every later connection:
//   kNeverRead  accepts the connection and keeps it open without ever reading from it;
//   kReset      accepts the connection and resets it at once, unread.
// It listens on its own loopback address (the daemon keeps one registration per address and
// event). Owns its sockets and its thread; the destructor stops the thread and closes every
// connection it held. Public methods are thread safe.
#ifndef TESTS_FAULTS_FAULT_LISTENER_H_
#define TESTS_FAULTS_FAULT_LISTENER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace faults {

enum class Misbehaviour { kNeverRead, kReset };

class FaultListener {
 public:
  // Listens on address:<a port the system chooses>. Throws std::runtime_error on failure.
  FaultListener(std::string address, Misbehaviour misbehaviour);
  ~FaultListener();
  FaultListener(const FaultListener&) = delete;
  FaultListener& operator=(const FaultListener&) = delete;

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }  // host order
  // From now on every connection gets the misbehaviour instead of a probe answer.
  void arm() { armed_ = true; }
  std::size_t probes() const { return probes_; }
  std::size_t misbehaved() const { return misbehaved_; }

 private:
  void serve();
  void answerProbe(int fd);

  std::string address_;
  Misbehaviour misbehaviour_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<bool> armed_{false};
  std::atomic<std::size_t> probes_{0};
  std::atomic<std::size_t> misbehaved_{0};
  std::vector<int> held_;  // serve() thread only, then the destructor
  std::thread thread_;
};

}  // namespace faults

#endif  // TESTS_FAULTS_FAULT_LISTENER_H_
