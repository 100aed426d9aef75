// Lookup: one request answered by every agent that can: the local agent over TCP loopback
// (or the agent the settings name, then without multicast)
// and the others by multicast convergence (RFC 2608 section 6.3). The multicast request is
// repeated with the growing previous-responder list after each wait of
// net.slp.multicastTimeouts until a round brings no new responder (after at least two
// rounds), the list no longer fits the MTU, or net.slp.multicastMaximumWait has passed. When
// the local agent answers, this host's addresses go into the list from the start, so it does
// not answer twice. Replies with OVERFLOW set are asked again over TCP. Each accepted reply
// goes to the handler at once; when the handler returns false the lookup ends at once.
// Owns its sockets for the duration of run(). Not thread-safe.
#ifndef SLP_LOOKUP_H_
#define SLP_LOOKUP_H_

#include <functional>
#include <memory>
#include <vector>

#include "slp/message.h"
#include "slp/settings.h"
#include "slp/socket_ops.h"
#include "slp/tcp_exchange.h"

namespace vslp {

class Lookup {
 public:
  enum class Outcome {
    kComplete,      // every agent that answered was heard, or time ran out
    kStopped,       // the handler asked to stop
    kNetworkError,  // neither the local agent nor any multicast interface could be used
  };
  // Receives each reply (already matched by XID and function); false stops the lookup.
  using Handler = std::function<bool(const Message& reply)>;

  // `request`: a SrvRqst, AttrRqst or SrvTypeRqst; its XID is replaced by a fresh one.
  // `replies`: the functions accepted as answers.
  Lookup(const ClientSettings& settings, Message request, std::vector<Function> replies);

  Outcome run(const Handler& handler);

 private:
  // Asks the local agent and sends the first multicast round; false when neither could be
  // done.
  bool start();
  void advanceRounds(std::chrono::steady_clock::time_point now);
  // One poll() and the replies it brought; false when the handler asked to stop.
  bool waitAndDispatch(const Handler& handler);
  std::vector<uint8_t> encodeRequest(const std::vector<std::string>& prList, bool multicast);
  bool startLocal();
  void multicastRound();
  bool accept(const std::vector<uint8_t>& bytes, Message& out) const;
  bool onDatagram(const Handler& handler);
  bool onExchange(TcpExchange& x, const Handler& handler);
  bool finished(std::chrono::steady_clock::time_point now) const;

  const ClientSettings& settings_;
  Message request_;
  std::vector<Function> replies_;
  std::unique_ptr<TcpExchange> local_;
  std::vector<std::unique_ptr<TcpExchange>> retries_;
  UniqueFd udp_;
  std::vector<uint32_t> interfaceAddresses_;
  std::vector<std::string> prList_;
  std::vector<uint32_t> responders_;
  size_t round_ = 0;
  bool newThisRound_ = false;
  bool multicastDone_ = true;
  bool multicastSent_ = false;
  std::chrono::steady_clock::time_point roundEnd_;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace vslp

#endif  // SLP_LOOKUP_H_
