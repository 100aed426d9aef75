// TolmDaemon: reading, checking and dispatching one request per connection.
#include <algorithm>
#include <chrono>
#include <span>

#include "protocol/tolm_wire.h"
#include "tolmd/daemon_log.h"
#include "tolmd/socket_io.h"
#include "tolmd/tolm_daemon.h"

namespace tolmd {
namespace {

const char* staggerLabel(uint32_t staggerType) {
  if ((staggerType & 2) != 0) {
    return "sequential stagger";
  }
  if ((staggerType & 4) != 0) {
    return "time stagger";
  }
  return "default stagger";
}

}  // namespace

void TolmDaemon::processConnection(const teska::Reference<teska::InetSocketImpl>& connection) {
  const char* label = "Unknown";
  try {
    RequestBuffer request;
    tolm::Header header;
    std::span<const uint8_t> body;
    if (!readHeader(*connection, request, header, label) ||
        !readBody(*connection, request, header, label, body)) {
      connection->disconnect();
      return;
    }
    if (header.function == tolm::kFuncSignal && signalsSinceWake_++ == 0) {
      // serve() wakes the Signaler for it, after the answer
      firstSignalSinceWake_ = std::chrono::steady_clock::now();
    }
    tolm::HeaderBytes answer{};
    const int handled = dispatch(connection, header, body, answer);
    if (handled > 0) {
      return;  // the Registry answers and closes
    }
    daemonLog(kLogDebug, "Tolm::processConnection writing response back to client");
    if (!writeAll(*connection, answer, kConnectionTimeoutSeconds)) {
      daemonLog(kLogAlert, "Tolm::processConnection failed writing response to %s",
                connection->peerAddrString().c_str());
    }
    if (logLevel() >= kLogDebug) {
      daemonLog(kLogDebug, "Tolm::processConnection closing connection to %s",
                connection->peerAddrString().c_str());
    }
    connection->disconnect();
  } catch (...) {
    daemonLog(kLogAlert, "TolmDaemon::processConnection - caught unknown exception. Func = %s",
              label);
    connection->disconnect();
  }
}

bool TolmDaemon::readHeader(teska::InetSocketImpl& connection, RequestBuffer& request,
                            tolm::Header& header, const char*& label) {
  // One read takes whatever the client has sent so far, up to a whole request: header and
  // body nearly always arrive together. The header must be complete within the time-out.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kConnectionTimeoutSeconds);
  const int got =
      connection.read(request.bytes.data(), static_cast<int>(request.bytes.size()), false);
  request.have = got > 0 ? static_cast<std::size_t>(got) : 0;
  bool complete = request.have >= tolm::kHeaderSize;
  if (got > 0 && !complete) {
    complete = vokra::readExactlyBy(
        connection,
        std::span<uint8_t>(request.bytes.data() + request.have, tolm::kHeaderSize - request.have),
        deadline);
    request.have = complete ? tolm::kHeaderSize : request.have;
  }
  connection.setReadTimeout(kConnectionTimeoutSeconds);
  if (!complete) {
    daemonLog(kLogAlert, "TolmDaemon::processConnection failed to read request from %s",
              connection.peerAddrString().c_str());
    return false;
  }
  header = tolm::decodeHeader(
      std::span<const uint8_t, tolm::kHeaderSize>(request.bytes.data(), tolm::kHeaderSize));
  label = tolm::functionLabel(header.function);
  if (!tolm::bodyLengthAcceptable(header.function, header.length)) {
    daemonLog(kLogAlert,
              "TolmDaemon::processConnection has packet size > 4K or < MIN on %s: Ignoring", label);
    return false;
  }
  return true;
}

bool TolmDaemon::readBody(teska::InetSocketImpl& connection, RequestBuffer& request,
                          const tolm::Header& header, const char* label,
                          std::span<const uint8_t>& body) {
  if (header.length < 0 || header.length > tolm::kMaxBodyLength) {
    return false;  // the size check let it through: cannot happen, and must not overrun
  }
  const auto length = static_cast<std::size_t>(header.length);
  const uint32_t answerCode = tolm::answerCodeFor(header.function);
  // Bytes beyond the request that came with it are left unused: a connection carries one.
  const std::size_t have = std::min(request.have - tolm::kHeaderSize, length);
  std::span<uint8_t> missing(request.bytes.data() + tolm::kHeaderSize + have, length - have);
  if (!missing.empty() && !readExactly(connection, missing, kConnectionTimeoutSeconds)) {
    daemonLog(kLogAlert,
              "TolmDaemon::processConnection - bad packet received from %s (couldn't read all "
              "data) func = %s",
              connection.peerAddrString().c_str(), label);
    sendAnswer(connection, answerCode, tolm::kRcBadPacket, label);
    return false;
  }
  body = std::span<const uint8_t>(request.bytes.data() + tolm::kHeaderSize, length);
  // The version is checked only now, after the whole body: the answer must not leave unread
  // request bytes behind.
  if (header.version != tolm::kProtocolVersion) {
    daemonLog(kLogAlert,
              "TolmDaemon::processConnection - Client %s has incompatible version func = %s",
              connection.peerAddrString().c_str(), label);
    sendAnswer(connection, answerCode, tolm::kRcBadVersion, label);
    return false;
  }
  return true;
}

int TolmDaemon::dispatch(const teska::Reference<teska::InetSocketImpl>& connection,
                         const tolm::Header& header, std::span<const uint8_t> body,
                         tolm::HeaderBytes& answer) {
  switch (header.function) {
    case tolm::kFuncRegister:
      return doRegistration(connection, answer, body);
    case tolm::kFuncDeregister:
      return doDeregistration(connection, answer, body);
    case tolm::kFuncSignal: {
      int handled = doSignal(connection, answer, body);
      daemonLog(kLogDebug, "TolmDaemon::processConnection - rc from doSignal = %d", handled);
      return handled;
    }
    default:
      daemonLog(kLogAlert, "Tolm::processConnection received invalid request from %s (func id: %d)",
                connection->peerAddrString().c_str(), static_cast<int32_t>(header.function));
      answer = tolm::buildAnswer(tolm::kAnswerUnknown, tolm::kRcInvalidRequest);
      return 0;
  }
}

void TolmDaemon::sendAnswer(teska::InetSocketImpl& connection, uint32_t answerCode, int32_t result,
                            const char* label) {
  if (!writeAll(connection, tolm::buildAnswer(answerCode, result), kConnectionTimeoutSeconds)) {
    daemonLog(kLogAlert, "Tolm::processConnection failed writing response to %s - func = %s",
              connection.peerAddrString().c_str(), label);
  }
}

int TolmDaemon::doRegistration(const teska::Reference<teska::InetSocketImpl>& connection,
                               tolm::HeaderBytes& answer, std::span<const uint8_t> body) {
  return doListenerRequest(connection, answer, body, false);
}

int TolmDaemon::doDeregistration(const teska::Reference<teska::InetSocketImpl>& connection,
                                 tolm::HeaderBytes& answer, std::span<const uint8_t> body) {
  return doListenerRequest(connection, answer, body, true);
}

int TolmDaemon::doListenerRequest(const teska::Reference<teska::InetSocketImpl>& connection,
                                  tolm::HeaderBytes& answer, std::span<const uint8_t> body,
                                  bool deregistration) {
  tolm::ListenerRequest request;
  const tolm::ParseStatus status = tolm::parseListenerRequest(body, !deregistration, request);
  if (status == tolm::ParseStatus::kOk) {
    if (deregistration) {
      registry_->enqueueDeregistration(connection, request.name, request.address, request.port);
    } else {
      registry_->enqueueRegistration(connection, request.name, request.address, request.port);
    }
    return 1;
  }
  // The two handlers' log lines differ in their name and the case of "invalid".
  const char* handler = deregistration ? "doDeregistration" : "doRegistration";
  const char* reason = status == tolm::ParseStatus::kTruncated ? "fields exceed the packet"
                       : deregistration                        ? "Invalid checksum"
                                                               : "invalid checksum";
  daemonLog(kLogAlert, "TolmDaemon::%s - bad packet received from %s (%s)", handler,
            connection->peerAddrString().c_str(), reason);
  answer = tolm::buildAnswer(deregistration ? tolm::kAnswerDeregister : tolm::kAnswerRegister,
                             tolm::kRcBadPacket);
  return 0;
}

int TolmDaemon::doSignal(const teska::Reference<teska::InetSocketImpl>& connection,
                         tolm::HeaderBytes& answer, std::span<const uint8_t> body) {
  tolm::SignalRequest request;
  const tolm::ParseStatus status = tolm::parseSignalRequest(body, request);
  if (status == tolm::ParseStatus::kBadChecksum) {
    daemonLog(kLogAlert, "TolmDaemon::doSignal - bad packet received from %s (Invalid checksum)",
              connection->peerAddrString().c_str());
    answer = tolm::buildAnswer(tolm::kAnswerBadChecksum, tolm::kRcBadPacket);
    return 0;
  }
  // The size check guarantees the stagger type word (body offset 4) is inside the body.
  const uint32_t staggerType = tolm::loadWord(body, 4);
  daemonLog(kLogDebug, "TolmDaemon::doSignal - stagger type is 0x%08x - %s", staggerType,
            staggerLabel(staggerType));
  if (status != tolm::ParseStatus::kOk) {
    daemonLog(kLogAlert,
              "TolmDaemon::doSignal - bad packet received from %s (fields exceed the packet)",
              connection->peerAddrString().c_str());
    answer = tolm::buildAnswer(tolm::kAnswerSignal, tolm::kRcBadPacket);
    return 0;
  }
  // serve() wakes the Signaler once the client has its answer.
  signaler_->queueSignal(request.name, request.data, request.staggerType, request.staggerParam,
                         Signaler::Wake::kLater);
  answer = tolm::buildAnswer(tolm::kAnswerSignal, tolm::kRcOk);
  return 0;
}

}  // namespace tolmd
