#include "client/tolm_client.h"

#include <cstdint>
#include <limits>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "client/inet_socket.h"
#include "client/socket_exception.h"
#include "client/socket_transfer.h"
#include "client/tolm_server_info.h"
#include "client/tolm_slp_info.h"
#include "protocol/tolm_wire.h"

namespace vokra {
namespace {

// One connection, one request, one 12-byte answer. Returns the answer's result word or
// kNetworkFailure; the socket is closed by its destructor on every path. Sending and receiving
// each wait at most the client's time-out in all, also when the bytes travel in pieces.
int exchange(const TolmSLPInfo& server, const std::vector<uint8_t>& request) {
  InetSocket socket;
  socket.setTimeouts(TolmClient::kTimeoutSeconds);
  try {
    socket.connect(server.getHost(), server.getPort());
    tolm::HeaderBytes answer{};
    if (!writeAll(socket, request, TolmClient::kTimeoutSeconds) ||
        !readExactly(socket, answer, TolmClient::kTimeoutSeconds)) {
      return TolmClient::kNetworkFailure;
    }
    return tolm::decodeHeader(answer).length;
  } catch (const SocketException&) {
    return TolmClient::kNetworkFailure;
  }
}

}  // namespace

std::string TolmClient::getTolmServer() {
  const TolmSLPInfo server = TolmServerInfo::shared().copySLPInfo();
  return server.getPort() != 0 ? server.getUrl() : std::string();
}

int TolmClient::signalEvent(const std::string& eventName, const void* data, int dataLength,
                            int staggerType, int /*reserved*/) {
  if (eventName.empty()) {
    return kEmptyEventName;
  }
  const TolmSLPInfo server = TolmServerInfo::shared().copySLPInfo();
  if (server.getPort() == 0) {
    return kNoServer;
  }
  if (dataLength < 0 || (dataLength > 0 && data == nullptr)) {
    return kNoBuffer;
  }
  std::vector<uint8_t> request;
  try {
    const std::span<const uint8_t> payload(static_cast<const uint8_t*>(data),
                                           static_cast<std::size_t>(dataLength));
    request = tolm::buildSignalRequest(eventName, payload, staggerType);
  } catch (const std::bad_alloc&) {
    return kNoBuffer;
  } catch (const std::length_error&) {
    return kNoBuffer;
  }
  if (request.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return kNoBuffer;
  }
  return exchange(server, request);
}

}  // namespace vokra
