#include "brenxd/request_reader.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "brenxd/agent_log.h"
#include "brenxd/request_codec.h"
#include "client/socket_transfer.h"
#include "outside/socket_exception.h"

namespace brenxd {
namespace {

using Clock = std::chrono::steady_clock;
using teska::LogStream;

// One connection being served: the socket, its peer's text and the request's deadline.
struct Client {
  teska::InetSocketImpl& socket;
  std::string peer;
  Clock::time_point deadline;
};

// Reads one field ("DNS name" or "MAC address"): its length, then all its bytes, within the
// request's budget. Nothing (after logging) when it cannot be had.
std::optional<std::string> readField(Client& client, const std::string& label, LogStream& log) {
  std::array<uint8_t, 4> length{};
  if (!vokra::readExactlyBy(client.socket, length, client.deadline)) {
    log << LogStream::info << "Failed reading " << label << " len from client " << client.peer
        << std::endl;
    return std::nullopt;
  }
  const uint32_t size = decodeLength(length);
  if (size > kMaxFieldLength) {
    log << LogStream::info << "Received invalid length for " << label << ": " << size << " from "
        << client.peer << std::endl;
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(size);
  if (!vokra::readExactlyBy(client.socket, bytes, client.deadline)) {
    log << LogStream::info << "Failed reading " << label << " from client " << client.peer
        << std::endl;
    return std::nullopt;
  }
  return fieldText(bytes);
}

std::vector<uint8_t> replyFor(Client& client, WorkStationSyncer& syncer, const std::string& host,
                              const std::string& mac, LogStream& log) {
  try {
    return encodeAnswer(syncer.generateAuthenticationXML(computerName(host, mac), mac));
  } catch (const teska::QRstring& error) {
    log << LogStream::info << "Failed generating auth string for " << client.peer << ": "
        << logText(error) << std::endl;
    return {kRefusal.begin(), kRefusal.end()};
  }
}

void serve(Client& client, WorkStationSyncer& syncer, LogStream& log) {
  log << LogStream::debug << "Processing connection from client " << client.peer << std::endl;
  if (!client.socket.waitForInput(kRequestSeconds)) {
    log << LogStream::debug << "Timed out reading MAC address for client " << client.peer
        << std::endl;
    return;
  }
  std::optional<std::string> host = readField(client, "DNS name", log);
  if (!host) {
    return;
  }
  std::optional<std::string> mac = readField(client, "MAC address", log);
  if (!mac) {
    return;
  }
  std::vector<uint8_t> reply = replyFor(client, syncer, *host, *mac, log);
  if (!client.socket.waitForOutput(kRequestSeconds)) {
    log << LogStream::debug << "Timed out waiting to write response to client " << client.peer
        << std::endl;
    return;
  }
  // The length and the text go out as two writes; a client that stops reading holds the agent
  // no longer than the write budget.
  std::span<const uint8_t> bytes(reply);
  if (vokra::writeAll(client.socket, bytes.first(4), kRequestSeconds)) {
    vokra::writeAll(client.socket, bytes.subspan(4), kRequestSeconds);
  }
  log << LogStream::debug << "Done processing connection from client " << client.peer << std::endl;
}

}  // namespace

void processConnection(teska::InetServerSocketImpl& listener, WorkStationSyncer& syncer,
                       LogStream& log) {
  try {
    teska::Reference<teska::InetSocketImpl> connection = listener.accept(0);
    if (!connection) {
      return;  // the client gave up between the wake-up and the accept
    }
    Client client{*connection, connection->peerAddrString(),
                  Clock::now() + std::chrono::seconds(kRequestSeconds)};
    serve(client, syncer, log);
    connection->disconnect();
  } catch (const teska::SocketException& e) {
    log << LogStream::alert << "SocketException caught in processConnection:" << std::endl;
    log << LogStream::alert << "Error Number: " << e.errornum() << std::endl;
    log << LogStream::alert << "Message: " << e.getMessage() << std::endl;
    log << LogStream::alert << "Where: " << e.where() << std::endl;
  } catch (const teska::TimeOutException& e) {
    log << LogStream::alert << "TimeOutException caught in processConnection:" << std::endl;
    log << LogStream::alert << "Message: " << e.getMessage() << std::endl;
  }
}

}  // namespace brenxd
