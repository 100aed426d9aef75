// bench-reference-server [--probe] [--store FILE] [--backlog N]: the baseline server of the
// benchmarks. It does only the work the event protocol's shape demands and nothing else:
// accept one connection at a time, read the 12-byte header and the announced body, write a
// 12-byte answer, close. With --probe it also does what a registration costs on the wire:
// before answering it connects to the listener named in the body (address and port as a
// REGISTER carries them), writes a 12-byte PING and reads the 12-byte reply.
//
// With --store it also keeps what it registered, as durably as the daemon keeps registrations:
// the body of every registration whose probe was answered goes into FILE (a DurableLog), and
// whenever no further connection is waiting, the ones answered since the last time are
// written and flushed to the disk at once (the daemon answers a batch of queued
// registrations, then flushes its database once).
//
// No checks, no logging, no queues, no index: whatever the daemon takes beyond this is its
// own cost. Prints "port N" once it listens (on every address, port chosen by the system) and
// serves until killed.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>

#include "bench/bench_socket.h"
#include "bench/durable_log.h"

namespace {

using nvo_bench::DurableLog;
using nvo_bench::Fd;

constexpr auto kTimeout = std::chrono::seconds(5);
constexpr int32_t kMaxBody = 4096;
constexpr std::size_t kStoreBytes = std::size_t{4} << 20;  // zeros written up front

uint32_t word(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

void putWord(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

// The PING round trip of a registration; the body holds address (4) and port (2) at 4..9,
// both in network order. True when the listener answered.
bool probe(const std::vector<uint8_t>& body) {
  if (body.size() < 10) {
    return false;
  }
  uint32_t address = 0;
  uint16_t port = 0;
  std::memcpy(&address, body.data() + 4, 4);
  std::memcpy(&port, body.data() + 8, 2);
  Fd listener = nvo_bench::connectTo(ntohl(address), ntohs(port), kTimeout);
  if (!listener.valid()) {
    return false;
  }
  std::array<uint8_t, 12> ping{};
  putWord(ping.data(), 0x00010001);
  putWord(ping.data() + 4, 0xF0000006);
  std::array<uint8_t, 12> reply{};
  return nvo_bench::writeAll(listener.get(), ping) && nvo_bench::readExact(listener.get(), reply);
}

void serveOne(int fd, bool probeListener, DurableLog* store) {
  nvo_bench::setTimeouts(fd, kTimeout);
  std::array<uint8_t, 12> header{};
  if (!nvo_bench::readExact(fd, header)) {
    return;
  }
  const uint32_t function = word(header.data() + 4);
  const auto length = static_cast<int32_t>(word(header.data() + 8));
  if (length < 0 || length > kMaxBody) {
    return;
  }
  std::vector<uint8_t> body(static_cast<std::size_t>(length));
  if (!nvo_bench::readExact(fd, body)) {
    return;
  }
  const bool reached = probeListener && probe(body);
  std::array<uint8_t, 12> answer{};
  putWord(answer.data(), 0x00010001);
  putWord(answer.data() + 4, function == 0xF0000001 ? 0xE0000001 : 0xE0000003);
  nvo_bench::writeAll(fd, answer);
  if (store != nullptr && reached && function == 0xF0000001) {
    store->add(body);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool probeListener = false;
  std::string storePath;
  int backlog = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--probe") {
      probeListener = true;
    } else if (arg == "--store" && i + 1 < argc) {
      storePath = argv[++i];
    } else if (arg == "--backlog" && i + 1 < argc) {
      backlog = std::stoi(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: bench-reference-server [--probe] [--store FILE] [--backlog N]\n");
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<DurableLog> store;
  if (!storePath.empty()) {
    store = std::make_unique<DurableLog>(storePath, kStoreBytes);
  }
  // With a store the listening socket does not block, so the end of a batch (no connection
  // waiting) can be seen.
  Fd server = nvo_bench::listenOn(INADDR_ANY, 0, backlog, store != nullptr);
  std::printf("port %u\n", static_cast<unsigned>(nvo_bench::boundPort(server.get())));
  std::fflush(stdout);
  for (;;) {
    Fd connection(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.valid()) {
      serveOne(connection.get(), probeListener, store.get());
    } else if (store != nullptr && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      store->flush();
      pollfd waiting{server.get(), POLLIN, 0};
      ::poll(&waiting, 1, -1);
    }
  }
}
