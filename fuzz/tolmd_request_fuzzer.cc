// Fuzz target: one request as tolmd's service thread reads it from a connection.
//
// Each input is the whole byte stream a client sends on one connection (the client then
// half-closes). The bytes travel over a real loopback TCP connection into
// TolmDaemon::processConnection, the daemon's own reading, checking and dispatch code, with a
// Registry and a Signaler attached that are not started, so what they are handed stays
// queued. The outcome is then checked against the reading order of docs/protocol.md, written
// out independently below: which answer (if any) the client gets, whether the connection went
// to the Registry, and whether a signal was queued.
//
// Logging runs at DEBUG into /dev/null, so every log line built from hostile bytes is
// formatted too.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "client/inet_socket.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/loopback_client.h"
#include "outside/inet_server_socket_impl.h"
#include "protocol/tolm_wire.h"
#include "tolmd/daemon_log.h"
#include "tolmd/event_db.h"
#include "tolmd/registry.h"
#include "tolmd/signaler.h"
#include "tolmd/tolm_daemon.h"

namespace tolmd {

// Reaches the service thread's request path without running the service.
class TolmDaemonTestAccess {
 public:
  static void attachWorkers(TolmDaemon& daemon, EventDb& db) {
    daemon.signaler_ = std::make_unique<Signaler>(db);
    daemon.registry_ = std::make_unique<Registry>(db);
  }
  // Destroys both (never started): whatever they were handed is dropped, connections closed.
  static void detachWorkers(TolmDaemon& daemon) {
    daemon.signaler_.reset();
    daemon.registry_.reset();
  }
  static std::size_t queuedSignals(const TolmDaemon& daemon) {
    return daemon.signaler_->pendingCount();
  }
  static void processConnection(TolmDaemon& daemon,
                                const teska::Reference<teska::InetSocketImpl>& connection) {
    daemon.processConnection(connection);
  }
};

}  // namespace tolmd

namespace {

using tolmd::TolmDaemonTestAccess;

// The longest input worth sending: a header, the largest body, and some excess.
constexpr std::size_t kMaxInput = tolm::kHeaderSize + 4096 + 64;

// What the reading order of the protocol says must happen to one input.
struct Expected {
  std::optional<tolm::HeaderBytes> answer;
  bool handedToRegistry = false;
  bool signalQueued = false;
};

uint32_t wordAt(std::span<const uint8_t> bytes, std::size_t offset) {
  return (uint32_t{bytes[offset]} << 24) | (uint32_t{bytes[offset + 1]} << 16) |
         (uint32_t{bytes[offset + 2]} << 8) | uint32_t{bytes[offset + 3]};
}

tolm::HeaderBytes answerOf(uint32_t code, int32_t result) {
  tolm::HeaderBytes bytes{};
  const uint32_t words[3] = {0x00010001, code, static_cast<uint32_t>(result)};
  for (int w = 0; w < 3; ++w) {
    for (int b = 0; b < 4; ++b) {
      bytes[w * 4 + b] = static_cast<uint8_t>(words[w] >> (24 - 8 * b));
    }
  }
  return bytes;
}

Expected expectedOutcome(std::span<const uint8_t> input) {
  Expected expected;
  if (input.size() < 12) {
    return expected;  // no whole header: no answer
  }
  const uint32_t version = wordAt(input, 0);
  const uint32_t function = wordAt(input, 4);
  const int32_t length = static_cast<int32_t>(wordAt(input, 8));
  const bool listener = function == 0xF0000001 || function == 0xF0000002;
  const bool signal = function == 0xF0000003;
  const int32_t minimum = listener ? 11 : signal ? 16 : 0;
  if (length > 4096 || length < minimum) {
    return expected;  // ignored without an answer
  }
  const uint32_t code = function == 0xF0000001   ? 0xE0000001
                        : function == 0xF0000002 ? 0xE0000002
                        : signal                 ? 0xE0000003
                                                 : 0xFFFFFFFF;
  if (input.size() - 12 < static_cast<std::size_t>(length)) {
    expected.answer = answerOf(code, -3);
    return expected;
  }
  if (version != 0x00010001) {
    expected.answer = answerOf(code, -1);
    return expected;
  }
  const std::span<const uint8_t> body = input.subspan(12, static_cast<std::size_t>(length));
  if (listener) {
    tolm::ListenerRequest request;
    if (tolm::parseListenerRequest(body, function == 0xF0000001, request) ==
        tolm::ParseStatus::kOk) {
      expected.handedToRegistry = true;
    } else {
      expected.answer = answerOf(code, -3);
    }
  } else if (signal) {
    tolm::SignalRequest request;
    const tolm::ParseStatus status = tolm::parseSignalRequest(body, request);
    if (status == tolm::ParseStatus::kBadChecksum) {
      expected.answer = answerOf(0xE0000004, -3);
    } else if (status != tolm::ParseStatus::kOk) {
      expected.answer = answerOf(0xE0000003, -3);
    } else {
      expected.answer = answerOf(0xE0000003, 0);
      expected.signalQueued = true;
    }
  } else {
    expected.answer = answerOf(0xFFFFFFFF, -5);
  }
  return expected;
}

// Everything that lives for the whole run.
struct Harness {
  std::string directory;
  std::unique_ptr<tolmd::EventDb> db;
  std::unique_ptr<tolmd::TolmDaemon> daemon;
  int listenFd = -1;
  sockaddr_in address{};
};

Harness* gHarness = nullptr;

// Closes the database at exit: the database library keeps parts of an open handle where the
// leak checker cannot see them.
void tearDown() {
  if (gHarness->listenFd >= 0) {
    ::close(gHarness->listenFd);
  }
  gHarness->daemon.reset();
  gHarness->db.reset();
  std::error_code ignored;
  std::filesystem::remove_all(gHarness->directory, ignored);
  delete gHarness;
  gHarness = nullptr;
}

void setUp() {
  // The daemon's debug log is formatted for every input but goes nowhere.
  FUZZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr);
  tolmd::setLogToStandardOutput(true);
  tolmd::setLogLevel(tolmd::kLogDebug);

  auto* harness = new Harness;
  char pattern[] = "/tmp/tolmd_request_fuzzer.XXXXXX";
  FUZZ_CHECK(::mkdtemp(pattern) != nullptr);
  harness->directory = pattern;
  harness->db = std::make_unique<tolmd::EventDb>(harness->directory + "/events.dat");
  harness->daemon = std::make_unique<tolmd::TolmDaemon>(*harness->db, nullptr, "tolmd", [] {});

  harness->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  FUZZ_CHECK(harness->listenFd >= 0);
  harness->address.sin_family = AF_INET;
  harness->address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto* raw = reinterpret_cast<sockaddr*>(&harness->address);
  FUZZ_CHECK(::bind(harness->listenFd, raw, sizeof harness->address) == 0);
  socklen_t size = sizeof harness->address;
  FUZZ_CHECK(::getsockname(harness->listenFd, raw, &size) == 0);
  FUZZ_CHECK(::listen(harness->listenFd, 8) == 0);
  gHarness = harness;
  std::atexit(tearDown);
}

// A connected pair over loopback: the client end (raw descriptor) and the daemon's end.
std::pair<int, int> connectPair() {
  const int client = fuzz_loopback::connectTo(gHarness->address);
  int server = -1;
  do {
    server = ::accept4(gHarness->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (server < 0 && errno == EINTR);
  FUZZ_CHECK(server >= 0);
  return {client, server};
}

// True when nothing has arrived and the daemon's end is still open.
bool quietAndOpen(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return fuzz_loopback::pollRetrying(entry, 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> input(data, size < kMaxInput ? size : kMaxInput);
  const Expected expected = expectedOutcome(input);
  auto [client, server] = connectPair();
  fuzz_loopback::sendAll(client, input);
  FUZZ_CHECK(::shutdown(client, SHUT_WR) == 0);

  auto connection = std::make_shared<vokra::InetSocket>(server);
  connection->setTimeouts(1);
  tolmd::TolmDaemon& daemon = *gHarness->daemon;
  TolmDaemonTestAccess::attachWorkers(daemon, *gHarness->db);
  fuzz_loopback::runWithoutAlarm(
      [&] { TolmDaemonTestAccess::processConnection(daemon, connection); });

  FUZZ_CHECK(TolmDaemonTestAccess::queuedSignals(daemon) == (expected.signalQueued ? 1u : 0u));
  if (expected.handedToRegistry) {
    // The Registry answers later; until then the connection stays open and silent.
    FUZZ_CHECK(connection->isConnected());
    FUZZ_CHECK(connection.use_count() == 2);
    FUZZ_CHECK(quietAndOpen(client));
  } else {
    FUZZ_CHECK(!connection->isConnected());
  }
  TolmDaemonTestAccess::detachWorkers(daemon);
  connection.reset();

  const std::vector<uint8_t> received = fuzz_loopback::receiveUntilClosed(client, 4096);
  // The client half-closed first, so its end would linger in TIME_WAIT and use up the local
  // ports over a long run; a reset on close leaves nothing behind.
  const linger reset{1, 0};
  ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(client);
  if (expected.answer) {
    FUZZ_CHECK(received.size() == tolm::kHeaderSize);
    FUZZ_CHECK(std::memcmp(received.data(), expected.answer->data(), tolm::kHeaderSize) == 0);
  } else {
    FUZZ_CHECK(received.empty());
  }
  return 0;
}
