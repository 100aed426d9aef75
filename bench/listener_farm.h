// ListenerFarm: many listener programs of the event protocol in one thread, for the fan-out,
// registration and latency benchmarks. Listener i listens on its own loopback address
// (127.1.x.y, since the daemon keeps one registration per listener address and event),
// answers the daemon's PING probe and counts every NOTIFY it reads, noting when the last one
// arrived. Each connection is served to its end as soon as it is accepted, one at a time, as a
// simple listener program would.
//
// A listener can be closed (its address then refuses connections) and opened again on the
// same port. Owns its sockets and its thread; the destructor stops the thread. Public methods
// are thread safe.
#ifndef BENCH_LISTENER_FARM_H_
#define BENCH_LISTENER_FARM_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bench/bench_socket.h"

namespace nvo_bench {

using Clock = std::chrono::steady_clock;

class ListenerFarm {
 public:
  // Opens `count` listeners. Throws std::runtime_error when a socket cannot be set up.
  explicit ListenerFarm(std::size_t count);
  ~ListenerFarm();
  ListenerFarm(const ListenerFarm&) = delete;
  ListenerFarm& operator=(const ListenerFarm&) = delete;

  std::size_t size() const { return listeners_.size(); }
  // Listener i's address and port, host order.
  uint32_t address(std::size_t i) const { return listeners_[i].address; }
  uint16_t port(std::size_t i) const { return listeners_[i].port; }

  // Closes listener i (connections to it are refused from now on) or opens it again.
  void close(std::size_t i);
  void reopen(std::size_t i);

  // NOTIFY packets and PING probes served since the last reset.
  std::size_t notifyCount() const;
  std::size_t pingCount() const;
  void resetCounts();
  // Waits until `count` NOTIFY packets arrived since the last reset; the arrival time of the
  // count-th, or nothing after `timeout`.
  std::optional<Clock::time_point> waitForNotifies(std::size_t count,
                                                   std::chrono::milliseconds timeout) const;
  // The arrival times of the NOTIFY packets since the last reset, in order.
  std::vector<Clock::time_point> arrivals() const;

 private:
  struct Listener {
    uint32_t address = 0;
    uint16_t port = 0;
    Fd socket;
  };

  void serve();
  void acceptFrom(std::size_t index);
  void serveConnection(int fd);

  std::vector<Listener> listeners_;
  Fd epoll_;
  Fd wakeRead_;
  Fd wakeWrite_;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;  // listeners_' sockets and the counts below
  mutable std::condition_variable arrived_;
  std::size_t notifies_ = 0;
  std::size_t pings_ = 0;
  std::vector<Clock::time_point> arrivals_;
  // The count a waiter waits for: the farm wakes it once, when that many have arrived, rather
  // than at every arrival, so a waiting bench thread takes no processor from the side measured.
  mutable std::size_t awaited_ = 0;
};

}  // namespace nvo_bench

#endif  // BENCH_LISTENER_FARM_H_
