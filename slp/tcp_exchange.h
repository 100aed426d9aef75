// TcpExchange: one request and its reply over a fresh TCP connection, as a non-blocking state
// machine that a poll() loop drives (connect, send, read the reply framed by its Length
// field). Used for registrations with the local agent, lookups at the local agent and the
// TCP repetition of overflowed multicast replies. Owns its socket. Not thread-safe.
#ifndef SLP_TCP_EXCHANGE_H_
#define SLP_TCP_EXCHANGE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "slp/socket_ops.h"

namespace vslp {

// Largest reply accepted: ample for thousands of URL entries.
inline constexpr size_t kMaxTcpReply = 8 * 1024 * 1024;

class TcpExchange {
 public:
  enum class State { kConnecting, kSending, kReceiving, kDone, kFailed };

  // Starts connecting to `to`. Throws SocketError when the connection fails at once.
  TcpExchange(Endpoint to, std::vector<uint8_t> request);

  int fd() const { return fd_.get(); }
  // The poll events wanted in the current state (0 when finished).
  short events() const;
  // Advances with the events poll() reported. Never throws except std::bad_alloc.
  void onEvents(short revents);

  State state() const { return state_; }
  bool finished() const { return state_ == State::kDone || state_ == State::kFailed; }
  // errno of the failure (ECONNREFUSED, ...), or 0.
  int error() const { return error_; }
  // The reply once state() is kDone.
  const std::vector<uint8_t>& reply() const { return input_; }
  const Endpoint& peer() const { return peer_; }

  // Runs a whole exchange within `timeout`. The failure (in `error`) is ECONNREFUSED and the
  // like when the connection failed, ETIMEDOUT when time ran out, EPROTO for a bad reply.
  static std::optional<std::vector<uint8_t>> run(Endpoint to, std::vector<uint8_t> request,
                                                 std::chrono::milliseconds timeout, int& error);

 private:
  void fail(int error);
  void send();
  void receive();

  UniqueFd fd_;
  Endpoint peer_;
  State state_ = State::kConnecting;
  int error_ = 0;
  std::vector<uint8_t> output_;
  size_t written_ = 0;
  std::vector<uint8_t> input_;
};

}  // namespace vslp

#endif  // SLP_TCP_EXCHANGE_H_
