#include "tolmd/signaler.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <vector>

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
// How long shutdown() sleeps between looks at the thread.
constexpr unsigned kStopPollMicroseconds = 1000;

// Whether a failed connect says the listener is not there (refused, unreachable, timed out),
// which costs it its registration. Two failures before the connection counts as made say
// nothing about the listener: no socket for the attempt (this daemon is out of descriptors,
// ports or memory), and a connection the listener reset after the connect had completed, so
// that its address could not be read back (a failure after the connection, like a failed
// write). A reset that is still pending when the timed connect ends is reported by the socket
// layer as a time-out and cannot be told apart from one.
bool listenerUnreachable(const teska::SocketException& e) {
  if (e.where() != "InetSocket::connect" || std::string(e.what()) == "socket") {
    return false;
  }
  switch (e.errornum()) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
    case EADDRNOTAVAIL:
      return false;
    default:
      return true;
  }
}

}  // namespace

Signaler::Signaler(EventDb& db, int timeoutSeconds) : db_(db), timeoutSeconds_(timeoutSeconds) {}

Signaler::~Signaler() {
  shutdown();
}

void Signaler::queueSignal(const teska::QRstring& eventName, std::span<const uint8_t> payload,
                           int32_t staggerType, int32_t staggerParam, Wake wake) {
  teska::MutexLock lock(queueMutex_, true);
  for (const auto& queued : queue_) {
    if (!queued->inProgress() && queued->sameSignal(eventName, payload, staggerType)) {
      return;
    }
  }
  queue_.push_back(std::make_unique<PendingSignal>(eventName, payload, staggerType, staggerParam));
  if (wake == Wake::kNow) {
    wakeUp_.signal();
  }
}

void Signaler::wake() {
  wakeUp_.signal();
}

std::size_t Signaler::pendingCount() const {
  teska::MutexLock lock(queueMutex_, true);
  return queue_.size();
}

bool Signaler::queueEmpty() const {
  return pendingCount() == 0;
}

void Signaler::run() {
  running_ = true;
  daemonLog(kLogDebug, "Signaler::run entered [%d]", static_cast<int>(::getpid()));
  blockSignal(SIGINT);
  ::signal(SIGPIPE, SIG_IGN);
  wakeUp_.reset();
  while (!stop_) {
    while (!stop_ && !queueEmpty()) {
      daemonLog(kLogDebug, "Signaler::run calling doSignal");
      doSignal();
    }
    if (stop_) {
      break;
    }
    daemonLog(kLogDebug, "Signaler is sleeping...");
    wakeUp_.waitForSignal(0);
    wakeUp_.reset();
    daemonLog(kLogDebug, "Signaler is awake!");
  }
  daemonLog(kLogDebug, "Signaler::run done [%d]", static_cast<int>(::getpid()));
  running_ = false;
}

void Signaler::doSignal() {
  PendingSignal* signal = nullptr;
  {
    teska::MutexLock lock(queueMutex_, true);
    if (queue_.empty()) {
      return;
    }
    signal = queue_.front().get();
    signal->setInProgress();
  }
  // Only this thread removes entries, and only the first, so `signal` stays valid until the
  // removal below, which happens on every path.
  try {
    deliver(*signal);
  } catch (const std::exception& e) {
    daemonLog(kLogAlert, "Signaler::doSignal caught Exception - %s", e.what());
  } catch (...) {
    daemonLog(kLogAlert, "Signaler::doSignal caught unknown exception");
  }
  teska::MutexLock lock(queueMutex_, true);
  queue_.pop_front();
}

void Signaler::deliver(const PendingSignal& signal) {
  std::vector<uint8_t> packet;
  try {
    packet = tolm::buildNotify(signal.eventName(), signal.staggerType(), signal.payload());
  } catch (const std::bad_alloc&) {
    daemonLogStars(kLogAlert, kStars);
    daemonLog(kLogAlert, "* MEMORY ALLOCATION ERROR Signaler::doSignal.");
    daemonLog(kLogAlert, "* Trying to allocate %d bytes",
              static_cast<int>(signal.eventName().size() + signal.payload().size() + 33));
    daemonLogStars(kLogAlert, kStars);
    return;
  }
  daemonLog(kLogDebug, "Signaler::doSignal - signaling event %s", signal.eventName().c_str());
  int success = 0;
  int fail = 0;
  try {
    fanOut(signal, packet, success, fail);
  } catch (const EventDbException& e) {
    // The walk cannot go on; the lock is already released and the signal is dropped.
    daemonLogStars(kLogAlert, kStars);
    daemonLog(kLogAlert, "* EventDbException caught in Signaler::doSignal.");
    daemonLog(kLogAlert, "* Msg: %s", e.what());
    daemonLog(kLogAlert, "* Note: Dropping the signal for event %s.", signal.eventName().c_str());
    daemonLogStars(kLogAlert, kStars);
  }
  daemonLog(kLogDebug, "Signaler::doSignal done [success=%d] [fail=%d]", success, fail);
}

void Signaler::fanOut(const PendingSignal& signal, std::span<const uint8_t> packet, int& success,
                      int& fail) {
  teska::MutexLock lock(db_.mutex(), true);  // released on every way out
  if (!db_.mayHaveRegistrations(signal.eventName())) {
    return;
  }
  std::vector<ListenerIndex::Entry> listeners;
  if (!db_.listenersInOrder(signal.eventName(), listeners)) {
    walkRecords(signal, packet, success, fail);
    return;
  }
  // The listeners come from the index, in the order of the event's records; the ones that are
  // gone lose their registrations in one walk at the end, flushed once.
  std::vector<std::size_t> gone;
  for (std::size_t position = 0; position < listeners.size() && !stop_; ++position) {
    const ListenerIndex::Entry& listener = listeners[position];
    if (visit(listener.address, listener.port, signal, packet, success, fail)) {
      gone.push_back(position);
    }
  }
  if (!gone.empty()) {
    try {
      db_.deleteAtPositions(signal.eventName(), gone);
    } catch (...) {
      db_.sync();  // what was deleted before the failure
      throw;
    }
    db_.sync();
  }
}

void Signaler::walkRecords(const PendingSignal& signal, std::span<const uint8_t> packet,
                           int& success, int& fail) {
  // The registrations removed on the way are flushed before the lock is released, the
  // exceptional ways out included.
  struct FlushRemovals {
    EventDb& db;
    bool dropped = false;
    ~FlushRemovals() {
      if (dropped) {
        db.sync();
      }
    }
  } removals{db_};
  EventDbRec rec;
  bool found = db_.findFirst(signal.eventName(), rec);
  while (found && !stop_) {
    if (visit(rec.address(), rec.port(), signal, packet, success, fail)) {
      db_.deleteCurrent(rec);
      removals.dropped = true;
    }
    found = db_.findNext(rec, true);
  }
}

bool Signaler::visit(uint32_t address, uint16_t port, const PendingSignal& signal,
                     std::span<const uint8_t> packet, int& success, int& fail) {
  bool unreachable = false;
  if (notifyClient(address, port, packet, signal.staggerType(), unreachable)) {
    ++success;
  } else {
    ++fail;
  }
  if (signal.staggerType() == tolm::kStaggerTimed && signal.staggerParam() > 0) {
    pause(signal.staggerParam());
  }
  return unreachable;
}

bool Signaler::notifyClient(uint32_t address, uint16_t port, std::span<const uint8_t> packet,
                            int32_t staggerType, bool& unreachable) {
  bool connected = false;
  bool delivered = false;
  try {
    vokra::InetSocket socket;
    socket.setTimeouts(timeoutSeconds_);
    socket.connect(address, hostOrderPort(port));
    connected = true;
    if (!writeAll(socket, packet, timeoutSeconds_)) {
      daemonLog(kLogAlert, "Signaler::notifyClient - failed to write notification to %s",
                socket.peerAddrString().c_str());
    } else if (staggerType == tolm::kStaggerSequential) {
      // Bounded by the read time-out: a listener that never answers cannot hold the fan-out
      // (and, through the database lock, the Registry) for longer than that.
      daemonLog(kLogDebug, "In Stagger Sequential, waiting for client to respond");
      uint8_t acknowledgement[tolm::kSequentialAckSize];
      delivered = readExactly(socket, acknowledgement, timeoutSeconds_);
      if (!delivered) {
        daemonLog(kLogAlert, "Signaler::notifyClient - %s failed to respond to sequential signal",
                  socket.peerAddrString().c_str());
      }
    } else {
      delivered = true;
    }
    socket.disconnect();
  } catch (const teska::SocketException& e) {
    daemonLogStars(kLogAlert, kStars);
    daemonLog(kLogAlert, "* Socket exception caught in Signaler::notifyClient.");
    daemonLog(kLogAlert, "* Client: %s", vokra::inetAddrToString(address, port).c_str());
    daemonLogSocketFailure(kLogAlert, e);
    if (!connected && listenerUnreachable(e)) {
      daemonLog(kLogAlert, "* Note: Removing client from notify list.");
      unreachable = true;
    }
    daemonLogStars(kLogAlert, kStars);
  }
  return delivered;
}

void Signaler::pause(int32_t milliseconds) {
  stopped_.waitForSignal(milliseconds);
}

void Signaler::shutdown() {
  daemonLog(kLogDebug, "Signaler::shutdown called");
  stop_ = true;
  stopped_.signal();
  wakeUp_.signal();
  while (isRunning()) {
    teska::Thread::usleep(kStopPollMicroseconds);
  }
  {
    teska::MutexLock lock(queueMutex_, true);
    queue_.clear();
  }
  daemonLog(kLogDebug, "Signaler::shutdown done");
}

}  // namespace tolmd
