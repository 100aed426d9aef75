// TolmDaemon: the event daemon's service thread.
//
// When started it advertises the service through SLP (one "service:tolm.x://address:port" URL
// per network interface, after withdrawing stale URLs of this host), lists the stored
// registrations into the log, starts the Registry and Signaler threads, and accepts
// connections on the frame's listening socket. Each connection carries one request of the
// event protocol: errors are answered here, registrations and deregistrations go with their
// connection to the Registry, signals are queued with the Signaler and answered at once. When
// stopped it withdraws its SLP URLs and stops the two threads. A failing accept (for example
// when descriptors run out) is logged and retried after a short back-off; it never ends the
// service.
//
// Does not own the database or the listening socket (the frame does; both outlive every start
// and stop). Owns the Registry and Signaler while running. start() and shutdown() belong to the
// frame's threads (main thread, TolmKiller); everything else runs in the service thread. When
// the service ends on an error it stops its threads and calls `serviceEnded`, so the frame can
// end the process.
#ifndef TOLMD_TOLM_DAEMON_H_
#define TOLMD_TOLM_DAEMON_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "outside/inet_server_socket_impl.h"
#include "outside/network_interfaces.h"
#include "outside/thread.h"
#include "protocol/tolm_wire.h"
#include "tolmd/event_db.h"
#include "tolmd/registry.h"
#include "tolmd/signaler.h"
#include "tolmd/socket_io.h"

namespace tolmd {

// Pause after a failed accept before the next one.
inline constexpr unsigned kAcceptBackoffMicroseconds = 100000;
// The Signaler is woken whenever no connection is waiting; under steady load once per this many
// answered signals, or once the first of them has waited kSignalWakeDelay, whichever comes
// first, not once per signal: each wake-up costs two thread switches (and on a virtual machine
// an interrupt between processors), as much as serving a request or two.
inline constexpr unsigned kSignalWakeBatch = 64;
inline constexpr std::chrono::microseconds kSignalWakeDelay{1000};

class TolmDaemon : public teska::Thread {
 public:
  // `serving` (may be empty) is called from the service thread each time the service is
  // advertised and about to accept connections.
  TolmDaemon(EventDb& db, teska::Reference<teska::InetServerSocketImpl> listener,
             std::string programName, std::function<void()> serviceEnded,
             std::function<void()> serving = {});
  // Stops a running service first.
  ~TolmDaemon() override;

  // Starts (or, after shutdown(), restarts) the service thread. Precondition: not running.
  void start() override;
  void run() override;
  // Stops a running service and waits until its thread has ended; returns at once when the
  // service is not running or is already stopping.
  void shutdown();

 private:
  // The request fuzzer (fuzz/) drives processConnection() without a running service.
  friend class TolmDaemonTestAccess;

  void serve();
  // Wakes the Signaler when signals were queued since its last wake-up.
  void wakeSignaler();
  // Whether the signals queued since the last wake-up are due for one although connections
  // are still waiting (kSignalWakeBatch, kSignalWakeDelay).
  bool wakeDue() const;
  void listRecords();
  // Withdraws this run's SLP URLs, stops the threads and tells the frame; the error path.
  void endOnError();
  void withdraw();
  void stopWorkers();
  // Connects to our own listening port so the accept call returns.
  void wakeAcceptor();

  void processConnection(const teska::Reference<teska::InetSocketImpl>& connection);
  // Reading and checking, in the protocol's order; false when the conversation is over (an
  // error answer, if any, has been sent). `label` names the function for the log.
  // One request's bytes as far as they have been read (`have`); room for the largest.
  struct RequestBuffer {
    std::array<uint8_t, tolm::kHeaderSize + tolm::kMaxBodyLength> bytes;
    std::size_t have = 0;
  };
  bool readHeader(teska::InetSocketImpl& connection, RequestBuffer& request, tolm::Header& header,
                  const char*& label);
  // `body` ends up viewing the request's body inside `request`.
  bool readBody(teska::InetSocketImpl& connection, RequestBuffer& request,
                const tolm::Header& header, const char* label, std::span<const uint8_t>& body);
  // Hands the request to its handler; the handler's result (see below).
  int dispatch(const teska::Reference<teska::InetSocketImpl>& connection,
               const tolm::Header& header, std::span<const uint8_t> body,
               tolm::HeaderBytes& answer);
  // Body handlers: 1 when the connection now belongs to the Registry, 0 when `answer` must be
  // sent by processConnection.
  int doRegistration(const teska::Reference<teska::InetSocketImpl>& connection,
                     tolm::HeaderBytes& answer, std::span<const uint8_t> body);
  int doDeregistration(const teska::Reference<teska::InetSocketImpl>& connection,
                       tolm::HeaderBytes& answer, std::span<const uint8_t> body);
  // What the two above share: parse, then hand over to the Registry or answer -3.
  int doListenerRequest(const teska::Reference<teska::InetSocketImpl>& connection,
                        tolm::HeaderBytes& answer, std::span<const uint8_t> body,
                        bool deregistration);
  int doSignal(const teska::Reference<teska::InetSocketImpl>& connection, tolm::HeaderBytes& answer,
               std::span<const uint8_t> body);
  void sendAnswer(teska::InetSocketImpl& connection, uint32_t answerCode, int32_t result,
                  const char* label);

  // SLP: 0 or the library's error code.
  int doSlpRegister();
  int doSlpDeregister(const std::string& url);
  void removeStaleEntries(const teska::NetworkInterfaces& interfaces);
  std::string serviceUrl(uint32_t address) const;

  EventDb& db_;
  teska::Reference<teska::InetServerSocketImpl> listener_;
  const std::string programName_;
  const std::function<void()> serviceEnded_;
  const std::function<void()> serving_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::unique_ptr<Signaler> signaler_;
  // Signals queued without waking the Signaler yet, and when the first of them was (service
  // thread only).
  unsigned signalsSinceWake_ = 0;
  std::chrono::steady_clock::time_point firstSignalSinceWake_;
  std::unique_ptr<Registry> registry_;
  bool advertised_ = false;  // service thread only
};

}  // namespace tolmd

#endif  // TOLMD_TOLM_DAEMON_H_
