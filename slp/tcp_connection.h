// TcpConnection: one accepted TCP connection of the daemon. It frames SLP messages by their
// Length field (at most kMaxTcpRequest bytes each), hands them out one at a time, and holds
// the reply until written; while a reply is pending nothing more is read, so a peer that does
// not read cannot make the daemon buffer without bound. Owns the descriptor. Not thread-safe.
#ifndef SLP_TCP_CONNECTION_H_
#define SLP_TCP_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "slp/registration_store.h"
#include "slp/socket_ops.h"

namespace vslp {

inline constexpr size_t kMaxTcpRequest = 65536;

class TcpConnection {
 public:
  TcpConnection(UniqueFd fd, Endpoint peer, uint32_t localAddress, bool local,
                Clock::time_point now);

  int fd() const { return fd_.get(); }
  const Endpoint& peer() const { return peer_; }
  uint32_t localAddress() const { return localAddress_; }
  bool local() const { return local_; }

  // Reads what has arrived. False when the peer closed the connection, it failed, or a
  // message announces a length above kMaxTcpRequest or below a header (the connection is
  // then unusable). Throws nothing but std::bad_alloc.
  bool receive(Clock::time_point now);

  // The next complete message, if one is buffered and no reply is pending.
  std::optional<std::vector<uint8_t>> takeMessage();

  // `last`: nothing more is read or answered; the connection is done once it is written.
  void queueReply(std::vector<uint8_t> reply, bool last);
  // Writes what it can. False when the connection failed.
  bool flush(Clock::time_point now);

  bool wantsRead() const { return output_.empty() && !last_; }
  bool wantsWrite() const { return !output_.empty(); }
  // The last reply is written: close the connection.
  bool done() const { return last_ && output_.empty(); }
  Clock::time_point lastActivity() const { return lastActivity_; }

 private:
  UniqueFd fd_;
  Endpoint peer_;
  uint32_t localAddress_;
  bool local_;
  Clock::time_point lastActivity_;
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
  size_t written_ = 0;
  bool last_ = false;
};

}  // namespace vslp

#endif  // SLP_TCP_CONNECTION_H_
