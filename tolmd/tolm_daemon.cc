// TolmDaemon: start, accept loop and stop of the service thread.
#include "tolmd/tolm_daemon.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <exception>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "client/inet_socket.h"
#include "client/socket_util.h"
#include "outside/base_exception.h"
#include "outside/mutex.h"
#include "outside/socket_exception.h"
#include "tolmd/daemon_log.h"

namespace tolmd {
namespace {

constexpr int kStars = 53;
constexpr unsigned kStopPollMicroseconds = 1000;

// Thrown inside run() when SLP cannot be used at all; it takes the unknown-exception path.
struct SlpUnavailable {};

void logSocketException(const char* place, const teska::SocketException& e) {
  daemonLogStars(kLogAlert, kStars);
  daemonLog(kLogAlert, "* Socket exception caught in %s.", place);
  daemonLogSocketFailure(kLogAlert, e, false);
  daemonLogStars(kLogAlert, kStars);
}

}  // namespace

TolmDaemon::TolmDaemon(EventDb& db, teska::Reference<teska::InetServerSocketImpl> listener,
                       std::string programName, std::function<void()> serviceEnded,
                       std::function<void()> serving)
    : db_(db),
      listener_(std::move(listener)),
      programName_(std::move(programName)),
      serviceEnded_(std::move(serviceEnded)),
      serving_(std::move(serving)) {}

TolmDaemon::~TolmDaemon() {
  shutdown();
}

void TolmDaemon::start() {
  // Cleared here rather than in run(): a shutdown() that comes before the new thread has
  // begun must not be forgotten.
  stop_ = false;
  teska::Thread::start();
}

void TolmDaemon::run() {
  daemonLog(kLogDebug, "TolmDaemon::run entered [%d]", static_cast<int>(::getpid()));
  running_ = true;
  blockSignal(SIGINT);
  ::signal(SIGPIPE, SIG_IGN);
  try {
    int result = doSlpRegister();
    if (result != 0) {
      daemonLog(kLogCrit, "TolmDaemon::run - failed to do SLP register. error = %d - shutting down",
                result);
      throw SlpUnavailable{};
    }
    signaler_ = std::make_unique<Signaler>(db_);
    registry_ = std::make_unique<Registry>(db_);
    listRecords();
    signaler_->start();
    registry_->start();
    daemonLog(kLogInfo, "%s listening on all interfaces at port %d", programName_.c_str(),
              static_cast<int>(ntohs(listener_->port())));
    if (serving_) {
      serving_();
    }
    serve();
    withdraw();
    stopWorkers();
  } catch (const teska::SocketException& e) {
    logSocketException("TolmDaemon::run", e);
    endOnError();
  } catch (const std::exception& e) {
    daemonLog(kLogAlert, "Tolm caught exception: %s aborting", e.what());
    endOnError();
  } catch (...) {
    daemonLog(kLogAlert, "Tolm caught unknown exception - aborting");
    endOnError();
  }
  daemonLog(kLogDebug, "TolmDaemon::run done [%d]", static_cast<int>(::getpid()));
  running_ = false;
}

void TolmDaemon::listRecords() {
  daemonLog(kLogDebug, "Outputting all records in the database");
  teska::MutexLock lock(db_.mutex(), true);
  EventDbRec rec;
  int recno = 0;
  for (bool found = db_.firstRec(rec); found; found = db_.findNext(rec, false)) {
    daemonLog(kLogDebug, "Recno: %d  event: %s  address: %s", recno++, rec.eventName().c_str(),
              vokra::inetAddrToString(rec.address(), rec.port()).c_str());
  }
}

void TolmDaemon::serve() {
  while (!stop_) {
    daemonLog(kLogDebug, "TolmDaemon::run waiting for connection...");
    teska::Reference<teska::InetSocketImpl> connection;
    try {
      // Signals answered meanwhile reach the Signaler with one wake-up: when no connection is
      // waiting, or under steady load as wakeDue() says.
      connection = listener_->accept(0);
      if (!connection && !stop_) {
        wakeSignaler();
        connection = listener_->accept(-1, true);
      }
    } catch (const teska::SocketException& e) {
      // Running out of descriptors (or a similar passing trouble) must neither end the
      // service nor make this loop spin.
      wakeSignaler();
      if (stop_) {
        break;
      }
      daemonLog(kLogAlert, "TolmDaemon::run - accept failed: %s - retrying",
                e.getMessage().c_str());
      teska::Thread::usleep(kAcceptBackoffMicroseconds);
      continue;
    }
    if (stop_) {
      break;
    }
    if (!connection) {
      continue;
    }
    connection->setTimeouts(kConnectionTimeoutSeconds);
    if (logLevel() >= kLogDebug) {  // the address text is made only when it is logged
      daemonLog(kLogDebug, "TolmDaemon::run received request from %s",
                connection->peerAddrString().c_str());
    }
    processConnection(connection);
    if (wakeDue()) {
      wakeSignaler();
    }
  }
  wakeSignaler();
}

bool TolmDaemon::wakeDue() const {
  return signalsSinceWake_ >= kSignalWakeBatch ||
         (signalsSinceWake_ > 0 &&
          std::chrono::steady_clock::now() - firstSignalSinceWake_ >= kSignalWakeDelay);
}

void TolmDaemon::wakeSignaler() {
  if (signalsSinceWake_ > 0 && signaler_) {
    signalsSinceWake_ = 0;
    signaler_->wake();
  }
}

void TolmDaemon::stopWorkers() {
  signaler_.reset();
  registry_.reset();
}

void TolmDaemon::endOnError() {
  // The frame closes the database and the listening socket once told, so nothing of this run
  // may still be using them by then.
  try {
    if (advertised_) {
      withdraw();
    }
    stopWorkers();
  } catch (...) {
    daemonLog(kLogAlert, "Tolm caught unknown exception - aborting");
  }
  serviceEnded_();
}

void TolmDaemon::shutdown() {
  daemonLog(kLogDebug, "TolmDaemon::shutdown called");
  if (stop_ || !isRunning()) {
    return;
  }
  stop_ = true;
  try {
    wakeAcceptor();
  } catch (const teska::SocketException& e) {
    logSocketException("TolmDaemon::shutdown", e);
    daemonLog(kLogDebug, "TolmDaemon::shutdown done");
    return;
  }
  while (isRunning()) {
    teska::Thread::usleep(kStopPollMicroseconds);
  }
  daemonLog(kLogDebug, "TolmDaemon::shutdown done");
}

void TolmDaemon::wakeAcceptor() {
  // The first interface's address as the service is advertised; a host without any interface
  // (or one whose first interface fails) is reached through the loopback address, which the
  // listening socket serves as well.
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  uint32_t address = loopback;
  try {
    teska::NetworkInterfaces interfaces(false);
    if (interfaces.count() > 0) {
      address = interfaces[0].address();
    }
  } catch (const teska::BaseException&) {
    address = loopback;
  }
  auto connectOnce = [this](uint32_t target) {
    vokra::InetSocket socket;
    socket.setTimeouts(kConnectionTimeoutSeconds);
    socket.connect(target, ntohs(listener_->port()));
    socket.disconnect();
  };
  try {
    connectOnce(address);
  } catch (const teska::SocketException&) {
    if (address == loopback) {
      throw;
    }
    connectOnce(loopback);
  }
}

}  // namespace tolmd
