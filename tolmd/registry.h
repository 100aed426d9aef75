// Registry: the thread that changes the event database on behalf of REGISTER and DEREGISTER
// requests.
//
// The service thread hands over every well-formed request together with its open client
// connection. For a registration the Registry first probes the listener with a PING (10-second
// time-outs); it then answers the client (0, or -12 when the probe failed), closes the
// connection, and only then changes the database. The Registry takes up to kProbesAtOnce
// queued requests at a time and sends each of their PINGs before it waits for the first
// reply, so the listeners answer while it works; everything else (awaiting each reply,
// answering, changing the database) still happens one request after the other, in the
// order of arrival: a registration replaces an earlier one of
// the same listener address for the same event (the port may change) or is added; a failed
// probe stores nothing; a deregistration deletes that listener's registration, or with an
// empty event name every registration of the listener address. The database lock is held for
// a whole batch of queued requests.
//
// Owns its queue of RegistryTransaction objects. enqueue*() may be called from any thread; the
// other members belong to the thread that created the object. The destructor stops the thread
// and drops what is still queued (those clients get no answer).
#ifndef TOLMD_REGISTRY_H_
#define TOLMD_REGISTRY_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "outside/event.h"
#include "outside/inet_server_socket_impl.h"
#include "outside/mutex.h"
#include "outside/qrstring.h"
#include "outside/thread.h"
#include "tolmd/event_db.h"
#include "tolmd/registry_transaction.h"

namespace vokra {
class InetSocket;
}

namespace tolmd {

// Time-outs of the reachability probe.
inline constexpr int kProbeTimeoutSeconds = 10;
// The most probes under way at once.
inline constexpr std::size_t kProbesAtOnce = 8;

class Registry : public teska::Thread {
 public:
  // `db` must outlive the Registry.
  explicit Registry(EventDb& db);
  ~Registry() override;

  // Queue a request; the Registry becomes an owner of `connection`. Thread safe.
  void enqueueRegistration(teska::Reference<teska::InetSocketImpl> connection,
                           const teska::QRstring& eventName, uint32_t address, uint16_t port);
  void enqueueDeregistration(teska::Reference<teska::InetSocketImpl> connection,
                             const teska::QRstring& eventName, uint32_t address, uint16_t port);

  void run() override;
  // Stops the thread after the request in hand, waits for it and drops the queue. Safe to
  // call more than once.
  void shutdown();

 private:
  using Batch = std::vector<std::unique_ptr<RegistryTransaction>>;
  // A probe under way: the connection to the listener, its PING sent; none when that failed.
  using Probe = std::unique_ptr<vokra::InetSocket>;

  void enqueue(std::unique_ptr<RegistryTransaction> transaction);
  // Takes up to `limit` queued transactions, oldest first; empty when the queue is.
  Batch takeBatch(std::size_t limit);
  // Puts the transactions of `batch` from `from` on back at the head of the queue, in order.
  void putBack(Batch& batch, std::size_t from);
  // Works off the queue under the database lock.
  void processTrans();
  void processOne(const RegistryTransaction& transaction, Probe probe);
  void answer(const RegistryTransaction& transaction, int32_t result);
  void store(const EventDbRec& rec);
  // The reachability probe in two steps: connect and send the PING; then await the reply.
  Probe startProbe(const RegistryTransaction& transaction);
  bool finishProbe(Probe probe);

  EventDb& db_;
  std::deque<std::unique_ptr<RegistryTransaction>> queue_;
  teska::Mutex queueMutex_{true};
  teska::Event wakeUp_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
};

}  // namespace tolmd

#endif  // TOLMD_REGISTRY_H_
