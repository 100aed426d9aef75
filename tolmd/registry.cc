#include "tolmd/registry.h"

#include <signal.h>
#include <unistd.h>

#include <exception>

#include "client/inet_socket.h"
#include "client/socket_util.h"
#include "outside/socket_exception.h"
#include "protocol/tolm_wire.h"
#include "tolmd/daemon_log.h"
#include "tolmd/event_db_exception.h"
#include "tolmd/socket_io.h"

namespace tolmd {
namespace {

constexpr int kStars = 53;
constexpr unsigned kStopPollMicroseconds = 1000;

void logProbeFailure(const teska::SocketException& e) {
  daemonLogStars(kLogDebug, kStars);
  daemonLog(kLogDebug, "* Socket exception caught in Registry::processTrans.");
  daemonLogSocketFailure(kLogDebug, e);
  daemonLogStars(kLogDebug, kStars);
}

void logUnknownProbeFailure() {
  daemonLog(kLogDebug, "Unknown exception caught in Registry::canConnectToClient.");
}

}  // namespace

Registry::Registry(EventDb& db) : db_(db) {}

Registry::~Registry() {
  shutdown();
}

void Registry::enqueueRegistration(teska::Reference<teska::InetSocketImpl> connection,
                                   const teska::QRstring& eventName, uint32_t address,
                                   uint16_t port) {
  enqueue(std::make_unique<RegistryTransaction>(std::move(connection), eventName, address, port,
                                                false));
}

void Registry::enqueueDeregistration(teska::Reference<teska::InetSocketImpl> connection,
                                     const teska::QRstring& eventName, uint32_t address,
                                     uint16_t port) {
  enqueue(
      std::make_unique<RegistryTransaction>(std::move(connection), eventName, address, port, true));
}

void Registry::enqueue(std::unique_ptr<RegistryTransaction> transaction) {
  {
    teska::MutexLock lock(queueMutex_, true);
    queue_.push_back(std::move(transaction));
  }
  wakeUp_.signal();
}

Registry::Batch Registry::takeBatch(std::size_t limit) {
  Batch batch;
  batch.reserve(limit);
  teska::MutexLock lock(queueMutex_, true);
  while (!queue_.empty() && batch.size() < limit) {
    batch.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  return batch;
}

void Registry::putBack(Batch& batch, std::size_t from) {
  teska::MutexLock lock(queueMutex_, true);
  for (std::size_t i = batch.size(); i > from; --i) {
    if (batch[i - 1]) {
      queue_.push_front(std::move(batch[i - 1]));
    }
  }
}

void Registry::run() {
  running_ = true;
  daemonLog(kLogDebug, "Registry::run entered [%d]", static_cast<int>(::getpid()));
  blockSignal(SIGINT);
  ::signal(SIGPIPE, SIG_IGN);
  wakeUp_.reset();
  while (!stop_) {
    processTrans();
    if (stop_) {
      break;
    }
    daemonLog(kLogDebug, "Registry is sleeping...");
    wakeUp_.waitForSignal(0);
    wakeUp_.reset();
    daemonLog(kLogDebug, "Registry is awake!");
  }
  daemonLog(kLogDebug, "Registry::run done [%d]", static_cast<int>(::getpid()));
  running_ = false;
}

void Registry::processTrans() {
  // The queue mutex is taken only inside the database lock, never the other way round.
  teska::MutexLock dbLock(db_.mutex(), true);
  Batch batch;
  std::size_t next = 0;  // the transaction of `batch` in hand
  try {
    while (!stop_ && !(batch = takeBatch(kProbesAtOnce)).empty()) {
      // Every PING of the batch goes out before the first reply is awaited.
      std::vector<Probe> probes(batch.size());
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch[i]->isDeregistration()) {
          probes[i] = startProbe(*batch[i]);
        }
      }
      for (next = 0; next < batch.size() && !stop_; ++next) {
        processOne(*batch[next], std::move(probes[next]));
        batch[next].reset();
      }
      // Stopped in the middle: the rest waits in the queue, which shutdown() drops.
      putBack(batch, next);
    }
  } catch (const EventDbException& e) {
    daemonLogStars(kLogAlert, kStars);
    daemonLog(kLogAlert, "* EventDbException caught in Registry::processTrans.");
    daemonLog(kLogAlert, "* Msg: %s", e.what());
    daemonLogStars(kLogAlert, kStars);
  } catch (const teska::SocketException& e) {
    daemonLogStars(kLogAlert, kStars);
    daemonLog(kLogAlert, "* Socket exception caught in Registry::processTrans.");
    daemonLogSocketFailure(kLogAlert, e);
    daemonLogStars(kLogAlert, kStars);
  } catch (const std::exception& e) {
    daemonLog(kLogAlert, "Registry::processTrans caught Exception - %s", e.what());
  } catch (...) {
    daemonLog(kLogAlert, "Registry::processTrans caught unknown exception");
  }
  // After a failure the transaction in hand is dropped (its connection closed); those behind
  // it wait in the queue for the next wake-up, their probes to be made again.
  if (next < batch.size()) {
    batch[next].reset();
    putBack(batch, next + 1);
  }
  db_.sync();
}

void Registry::processOne(const RegistryTransaction& transaction, Probe probe) {
  const EventDbRec rec(transaction.eventName(), transaction.address(), transaction.port());
  int32_t result = tolm::kRcOk;
  if (!transaction.isDeregistration() && !finishProbe(std::move(probe))) {
    result = tolm::kRcUnreachable;
    daemonLog(kLogAlert, "Client %s is unreachable",
              vokra::inetAddrToString(rec.address(), rec.port()).c_str());
  }
  // The client hears the outcome before the database changes.
  answer(transaction, result);
  if (transaction.isDeregistration()) {
    EventDbRec target(rec);
    db_.deleteRec(target);
  } else if (result == tolm::kRcOk) {
    store(rec);
  }
}

void Registry::answer(const RegistryTransaction& transaction, int32_t result) {
  const bool deregistration = transaction.isDeregistration();
  const tolm::HeaderBytes bytes =
      tolm::buildAnswer(deregistration ? tolm::kAnswerDeregister : tolm::kAnswerRegister, result);
  if (!writeAll(transaction.connection(), bytes, kConnectionTimeoutSeconds)) {
    daemonLog(kLogAlert, "Registry::processTrans failed to write response to %s",
              transaction.connection().peerAddrString().c_str());
    return;
  }
  const std::string& name = transaction.eventName();
  const char* label = name.empty() ? "*ALL*" : name.c_str();
  if (result != tolm::kRcOk && !deregistration) {
    daemonLog(kLogAlert, "Client %s - failed to register for event %s [cc = %d]",
              vokra::inetAddrToString(transaction.address()).c_str(), name.c_str(), result);
  } else if (logLevel() < kLogDebug) {
    return;  // the texts below are made only when they are logged
  } else if (deregistration) {
    daemonLog(kLogDebug, "Registry::processTrans succeeded to dereg client %s [event = %s]",
              vokra::inetAddrToString(transaction.address()).c_str(), label);
  } else {
    daemonLog(kLogDebug,
              "Registry::processTrans succeeded to reg client %s [event = %s] Notify at %s",
              transaction.connection().peerAddrString().c_str(), label,
              vokra::inetAddrToString(transaction.address(), transaction.port()).c_str());
  }
}

void Registry::store(const EventDbRec& rec) {
  // One registration per listener address and event: a new port replaces the old one.
  EventDbRec current;
  if (db_.findListener(rec.eventName(), rec.address(), current)) {
    daemonLog(kLogDebug, "Client %s previously registered for %s - replacing with new registration",
              vokra::inetAddrToString(rec.address()).c_str(), rec.eventName().c_str());
    EventDbRec replacement(rec);
    db_.replaceCurrent(replacement);
    return;
  }
  EventDbRec added(rec);
  db_.addRec(added);
}

Registry::Probe Registry::startProbe(const RegistryTransaction& transaction) {
  try {
    auto socket = std::make_unique<vokra::InetSocket>();
    socket->setTimeouts(kProbeTimeoutSeconds);
    socket->connect(transaction.address(), hostOrderPort(transaction.port()));
    if (writeAll(*socket, tolm::buildPing(), kProbeTimeoutSeconds)) {
      return socket;
    }
    socket->disconnect();
  } catch (const teska::SocketException& e) {
    logProbeFailure(e);
  } catch (...) {
    logUnknownProbeFailure();
  }
  return nullptr;
}

bool Registry::finishProbe(Probe probe) {
  if (!probe) {
    return false;
  }
  try {
    tolm::HeaderBytes reply{};
    const bool reachable = readExactly(*probe, reply, kProbeTimeoutSeconds) &&
                           tolm::decodeHeader(reply).function == tolm::kAnswerPing;
    probe->disconnect();
    return reachable;
  } catch (const teska::SocketException& e) {
    logProbeFailure(e);
  } catch (...) {
    logUnknownProbeFailure();
  }
  return false;
}

void Registry::shutdown() {
  daemonLog(kLogDebug, "Registry::shutdown called");
  stop_ = true;
  wakeUp_.signal();
  while (isRunning()) {
    teska::Thread::usleep(kStopPollMicroseconds);
  }
  {
    teska::MutexLock lock(queueMutex_, true);
    queue_.clear();
  }
  daemonLog(kLogDebug, "Registry::shutdown done");
}

}  // namespace tolmd
