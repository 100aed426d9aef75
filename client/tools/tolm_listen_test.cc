// tolm-listen as a real process against a daemon played by the test over loopback: the test
// accepts the REGISTER and DEREGISTER requests, probes the listener with PING as tolmd does,
// answers, and sends NOTIFY packets. Checks the exact requests, the printed lines and the
// sequential acknowledgement.
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "client/inet_socket.h"
#include "client/socket_transfer.h"
#include "client/tools/listen_socket.h"
#include "protocol/tolm_wire.h"
#include "tests/support/daemon_process.h"

namespace vokra {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kIoSeconds = 5;

// The daemon's side of one REGISTER or DEREGISTER conversation.
struct ListenerRequestSeen {
  tolm::Header header;
  tolm::ListenerRequest request;
};

class FakeDaemon {
 public:
  FakeDaemon() : socket_(htonl(INADDR_LOOPBACK), 0) {}

  std::string serverArgument() const { return "127.0.0.1:" + std::to_string(socket_.port()); }

  // Accepts one request connection, probes the listener it names with PING, answers `result`.
  std::optional<ListenerRequestSeen> serveListenerRequest(int32_t result) {
    pollfd entry{socket_.descriptor(), POLLIN, 0};
    if (::poll(&entry, 1, 10000) != 1) {
      return std::nullopt;
    }
    InetSocket client(socket_.acceptConnection());
    client.setTimeouts(kIoSeconds);
    ListenerRequestSeen seen;
    tolm::HeaderBytes header{};
    if (!readExactly(client, header, kIoSeconds)) {
      return std::nullopt;
    }
    seen.header = tolm::decodeHeader(header);
    std::vector<uint8_t> body(static_cast<std::size_t>(seen.header.length));
    if (seen.header.length > tolm::kMaxBodyLength || !readExactly(client, body, kIoSeconds) ||
        tolm::parseListenerRequest(body, seen.header.function == tolm::kFuncRegister,
                                   seen.request) != tolm::ParseStatus::kOk) {
      return std::nullopt;
    }
    if (!ping(seen.request)) {
      return std::nullopt;
    }
    const tolm::HeaderBytes answer =
        tolm::buildAnswer(seen.header.function == tolm::kFuncRegister ? tolm::kAnswerRegister
                                                                      : tolm::kAnswerDeregister,
                          result);
    client.write(answer.data(), static_cast<int>(answer.size()), true);
    return seen;
  }

  // Sends one NOTIFY to the listener; returns the bytes it answered before closing.
  static std::vector<uint8_t> notify(const tolm::ListenerRequest& listener,
                                     const std::string& storedName, int32_t staggerType,
                                     std::vector<uint8_t> data, bool corruptChecksum = false) {
    std::vector<uint8_t> packet = tolm::buildNotify(storedName, staggerType, data);
    if (corruptChecksum) {
      packet[15] ^= 0x01;
    }
    InetSocket peer(listener.address, listener.port);
    peer.setTimeouts(kIoSeconds);
    peer.write(packet.data(), static_cast<int>(packet.size()), true);
    std::vector<uint8_t> answer(16);
    std::size_t have = 0;
    for (int round = 0; round < 16; ++round) {
      const int got =
          peer.read(answer.data() + have, static_cast<int>(answer.size() - have), false);
      if (got <= 0) {
        break;
      }
      have += static_cast<std::size_t>(got);
    }
    answer.resize(have);
    return answer;
  }

 private:
  static bool ping(const tolm::ListenerRequest& listener) {
    InetSocket peer(listener.address, listener.port);
    peer.setTimeouts(kIoSeconds);
    const tolm::HeaderBytes probe = tolm::buildPing();
    peer.write(probe.data(), static_cast<int>(probe.size()), true);
    tolm::HeaderBytes answer{};
    return readExactly(peer, answer, kIoSeconds) &&
           tolm::decodeHeader(answer).function == tolm::kAnswerPing;
  }

  ListenSocket socket_;
};

std::string listenerText(const tolm::ListenerRequest& request) {
  in_addr address{};
  address.s_addr = request.address;
  return std::string(inet_ntoa(address)) + ":" + std::to_string(ntohs(request.port));
}

TEST(TolmListenTest, RegistersPrintsAcknowledgesAndDeregistersOnInterrupt) {
  FakeDaemon daemon;
  nvo_test::DaemonProcess tool(nvo_test::buildBinary("tolm-listen"),
                               {"--server", daemon.serverArgument(), "alpha", "beta"});
  tool.start();

  const auto alpha = daemon.serveListenerRequest(tolm::kRcOk);
  ASSERT_TRUE(alpha);
  EXPECT_EQ(alpha->header.version, tolm::kProtocolVersion);
  EXPECT_EQ(alpha->header.function, tolm::kFuncRegister);
  EXPECT_EQ(alpha->request.name, "alpha");
  EXPECT_EQ(alpha->request.address, htonl(INADDR_LOOPBACK));
  const auto beta = daemon.serveListenerRequest(tolm::kRcOk);
  ASSERT_TRUE(beta);
  EXPECT_EQ(beta->request.name, "beta");
  EXPECT_EQ(beta->request.port, alpha->request.port);
  ASSERT_TRUE(tool.waitForLine("registered beta", milliseconds(5000)));
  EXPECT_TRUE(tool.hasExactLine("registered alpha at " + listenerText(alpha->request)));

  // Default mode: no answer, the listener just closes. The daemon stores the name with the
  // NUL the signalling client counted.
  EXPECT_TRUE(FakeDaemon::notify(alpha->request, std::string("alpha\0", 6), 0,
                                 {'h', 'i', ' ', 't', 'h', 'e', 'r', 'e'})
                  .empty());
  ASSERT_TRUE(tool.waitForLine("NOTIFY event=alpha", milliseconds(5000)));
  EXPECT_TRUE(tool.hasExactLine("NOTIFY event=alpha stagger=0 bytes=8 text=hi there"));

  // A corrupt packet is ignored and the listener goes on.
  EXPECT_TRUE(FakeDaemon::notify(alpha->request, "alpha", 0, {'x'}, true).empty());
  // Sequential mode: exactly four bytes of acknowledgement.
  EXPECT_EQ(FakeDaemon::notify(beta->request, "beta", 2, {0x00, 0x01, 0xFF}).size(), 4u);
  ASSERT_TRUE(tool.waitForLine("NOTIFY event=beta", milliseconds(5000)));
  EXPECT_TRUE(tool.hasExactLine("NOTIFY event=beta stagger=2 bytes=3 hex=0001ff"));
  EXPECT_EQ(tool.countLines("NOTIFY"), 2u) << tool.transcript();

  tool.sendSignal(SIGINT);
  const auto goneAlpha = daemon.serveListenerRequest(tolm::kRcOk);
  ASSERT_TRUE(goneAlpha);
  EXPECT_EQ(goneAlpha->header.function, tolm::kFuncDeregister);
  EXPECT_EQ(goneAlpha->request.name, "alpha");
  EXPECT_EQ(goneAlpha->request.address, alpha->request.address);
  const auto goneBeta = daemon.serveListenerRequest(tolm::kRcOk);
  ASSERT_TRUE(goneBeta);
  EXPECT_EQ(goneBeta->request.name, "beta");
  EXPECT_EQ(tool.waitForExit(milliseconds(10000)), 0);
  EXPECT_TRUE(tool.hasExactLine("deregistered alpha"));
  EXPECT_TRUE(tool.hasExactLine("deregistered beta"));
}

TEST(TolmListenTest, CountEndsAfterThatManyNotificationsAndHexForcesHex) {
  FakeDaemon daemon;
  nvo_test::DaemonProcess tool(nvo_test::buildBinary("tolm-listen"),
                               {"--server", daemon.serverArgument(), "--count", "1", "--hex",
                                "--address", "127.0.0.1", "gamma"});
  tool.start();
  const auto gamma = daemon.serveListenerRequest(tolm::kRcOk);
  ASSERT_TRUE(gamma);
  ASSERT_TRUE(tool.waitForLine("registered gamma", milliseconds(5000)));
  FakeDaemon::notify(gamma->request, "gamma", 1, {'o', 'k'});
  const auto gone = daemon.serveListenerRequest(tolm::kRcOk);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->header.function, tolm::kFuncDeregister);
  EXPECT_EQ(tool.waitForExit(milliseconds(10000)), 0);
  EXPECT_TRUE(tool.hasExactLine("NOTIFY event=gamma stagger=1 bytes=2 hex=6f6b"));
}

TEST(TolmListenTest, RefusedRegistrationExitsWithFailure) {
  FakeDaemon daemon;
  nvo_test::DaemonProcess tool(nvo_test::buildBinary("tolm-listen"),
                               {"--server", daemon.serverArgument(), "delta"});
  tool.start();
  ASSERT_TRUE(daemon.serveListenerRequest(tolm::kRcUnreachable));
  EXPECT_EQ(tool.waitForExit(milliseconds(10000)), 1);
  EXPECT_EQ(tool.countLines("registered"), 0u);
}

TEST(TolmListenTest, UsageErrors) {
  const std::string tool = nvo_test::buildBinary("tolm-listen");
  EXPECT_EQ(nvo_test::runProgram(tool, {}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"--server", "nohost", "e"}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"--address", "1.2.3", "e"}).exitCode, 2);
  EXPECT_EQ(nvo_test::runProgram(tool, {"--count", "0", "e"}).exitCode, 2);
  const nvo_test::RunResult help = nvo_test::runProgram(tool, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  ASSERT_FALSE(help.lines.empty());
  EXPECT_EQ(help.lines[0], "Usage: tolm-listen [options] EVENT...");
}

}  // namespace
}  // namespace vokra
