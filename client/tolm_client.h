// TolmClient: signals named events to the event daemon tolmd.
//
// Each signalEvent() finds the daemon through the process-wide TolmServerInfo (an SLP lookup
// on first use, the cached record afterwards), opens one TCP connection, sends one SIGNAL
// request, reads the 12-byte answer and closes the connection. The object has no state of its
// own; any number of TolmClient objects and threads may signal at once, each call with its own
// socket and buffer. Nothing is thrown and nothing is logged: results are int codes.
//
// Time-outs: connecting, each readiness wait, writing and reading are limited to
// kTimeoutSeconds each, so a daemon that accepts and never answers costs the caller about
// kTimeoutSeconds and gives kNetworkFailure.
#ifndef CLIENT_TOLM_CLIENT_H_
#define CLIENT_TOLM_CLIENT_H_

#include <string>

#include "client/vokra_export.h"

namespace vokra {

class VOKRA_API TolmClient {
 public:
  // Results of signalEvent besides the daemon's own answer code (0 accepted, -1 bad version,
  // -3 bad packet or checksum, -5 invalid request).
  static constexpr int kNoServer = -7;         // no daemon known after the lookup
  static constexpr int kEmptyEventName = -9;   // the event name is empty
  static constexpr int kNoBuffer = -10;        // the request could not be built
  static constexpr int kNetworkFailure = -11;  // connect, send or receive failed
  static constexpr int kTimeoutSeconds = 10;

  TolmClient() = default;

  // The service URL of the daemon (looked up if none is cached), or "" when none is known.
  std::string getTolmServer();

  // Sends one SIGNAL for `eventName` with `dataLength` bytes from `data` and `staggerType`
  // copied into the request unchanged (2 sequential, 1 timed, others default); staggerParam is
  // always 0 and `reserved` is not used. Returns the signed result word of the daemon's answer
  // (whatever its first two words say), or kEmptyEventName, kNoServer, kNoBuffer (also for a
  // negative `dataLength`, or a null `data` with a positive length), kNetworkFailure. No attempt
  // is repeated. A daemon that closes early raises no SIGPIPE: the socket layer sends with
  // MSG_NOSIGNAL.
  int signalEvent(const std::string& eventName, const void* data, int dataLength, int staggerType,
                  int reserved);
};

}  // namespace vokra

#endif  // CLIENT_TOLM_CLIENT_H_
