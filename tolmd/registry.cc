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

std::unique_ptr<RegistryTransaction> Registry::takeFirst() {
  teska::MutexLock lock(queueMutex_, true);
  if (queue_.empty()) {
    return nullptr;
  }
  std::unique_ptr<RegistryTransaction> first = std::move(queue_.front());
  queue_.pop_front();
  return first;
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
  std::unique_ptr<RegistryTransaction> transaction;
  try {
    while (!stop_ && (transaction = takeFirst()) != nullptr) {
      processOne(*transaction);
      transaction.reset();
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
  transaction.reset();
  db_.sync();
}

void Registry::processOne(const RegistryTransaction& transaction) {
  const EventDbRec rec(transaction.eventName(), transaction.address(), transaction.port());
  int32_t result = tolm::kRcOk;
  if (!transaction.isDeregistration() && !canConnectToClient(rec)) {
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

bool Registry::canConnectToClient(const EventDbRec& rec) {
  try {
    vokra::InetSocket socket;
    socket.setTimeouts(kProbeTimeoutSeconds);
    socket.connect(rec.address(), hostOrderPort(rec.port()));
    bool reachable = false;
    if (writeAll(socket, tolm::buildPing(), kProbeTimeoutSeconds)) {
      tolm::HeaderBytes reply{};
      reachable = readExactly(socket, reply, kProbeTimeoutSeconds) &&
                  tolm::decodeHeader(reply).function == tolm::kAnswerPing;
    }
    socket.disconnect();
    return reachable;
  } catch (const teska::SocketException& e) {
    daemonLogStars(kLogDebug, kStars);
    daemonLog(kLogDebug, "* Socket exception caught in Registry::processTrans.");
    daemonLogSocketFailure(kLogDebug, e);
    daemonLogStars(kLogDebug, kStars);
  } catch (...) {
    daemonLog(kLogDebug, "Unknown exception caught in Registry::canConnectToClient.");
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
