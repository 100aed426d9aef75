// bench-reference-server [--probe] [--backlog N]: the baseline server of the benchmarks. It
// does only the socket work the event protocol's shape demands and nothing else: accept one
// connection at a time, read the 12-byte header and the announced body, write a 12-byte
// answer, close. With --probe it also does what a registration costs on the wire: before
// answering it connects to the listener named in the body (address and port as a REGISTER
// carries them), writes a 12-byte PING and reads the 12-byte reply.
//
// No checks, no logging, no queues, no database: whatever the daemon takes beyond this is
// its own cost. Prints "port N" once it listens (on every address, port chosen by the
// system) and serves until killed.
#include <signal.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>

#include "bench/bench_socket.h"

namespace {

using nvo_bench::Fd;

constexpr auto kTimeout = std::chrono::seconds(5);
constexpr int32_t kMaxBody = 4096;

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
// both in network order.
void probe(const std::vector<uint8_t>& body) {
  if (body.size() < 10) {
    return;
  }
  uint32_t address = 0;
  uint16_t port = 0;
  std::memcpy(&address, body.data() + 4, 4);
  std::memcpy(&port, body.data() + 8, 2);
  Fd listener = nvo_bench::connectTo(ntohl(address), ntohs(port), kTimeout);
  if (!listener.valid()) {
    return;
  }
  std::array<uint8_t, 12> ping{};
  putWord(ping.data(), 0x00010001);
  putWord(ping.data() + 4, 0xF0000006);
  std::array<uint8_t, 12> reply{};
  if (nvo_bench::writeAll(listener.get(), ping)) {
    nvo_bench::readExact(listener.get(), reply);
  }
}

void serveOne(int fd, bool probeListener) {
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
  if (probeListener) {
    probe(body);
  }
  std::array<uint8_t, 12> answer{};
  putWord(answer.data(), 0x00010001);
  putWord(answer.data() + 4, function == 0xF0000001 ? 0xE0000001 : 0xE0000003);
  nvo_bench::writeAll(fd, answer);
}

}  // namespace

int main(int argc, char** argv) {
  bool probeListener = false;
  int backlog = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--probe") {
      probeListener = true;
    } else if (arg == "--backlog" && i + 1 < argc) {
      backlog = std::stoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench-reference-server [--probe] [--backlog N]\n");
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  Fd server = nvo_bench::listenOn(INADDR_ANY, 0, backlog, false);
  std::printf("port %u\n", static_cast<unsigned>(nvo_bench::boundPort(server.get())));
  std::fflush(stdout);
  for (;;) {
    Fd connection(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.valid()) {
      serveOne(connection.get(), probeListener);
    }
  }
}
