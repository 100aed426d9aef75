// bench-client: the client side of figures 5 and 6, run as a new process each time.
//
//   bench-client noop              prints "noop" and ends: what starting a process costs
//   bench-client discover          TolmClient::getTolmServer() through SLP; prints
//                                  "url URL us MICROSECONDS" (time inside the process)
//   bench-client client N EVENT    N signalEvent() calls through libvokra and N raw reference
//                                  exchanges (connect, write, read 12, close) with the same
//                                  daemon, interleaved in blocks; prints one line for each:
//                                  "lib|raw calls N errors E us_per_call X p50_us Y p99_us Z"
//
// Exit status 0 on success, 1 when no daemon was found, 2 on a usage error.
#include <slp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "bench/bench_socket.h"
#include "client/tolm_client.h"
#include "protocol/tolm_wire.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBlock = 100;
constexpr int kPayloadBytes = 32;

struct Calls {
  std::vector<double> us;
  std::size_t errors = 0;
};

double quantile(std::vector<double> values, double q) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

void print(const char* name, const Calls& calls) {
  double total = 0;
  for (double us : calls.us) {
    total += us;
  }
  std::printf("%s calls %zu errors %zu us_per_call %.1f p50_us %.1f p99_us %.1f\n", name,
              calls.us.size(), calls.errors,
              calls.us.empty() ? 0.0 : total / static_cast<double>(calls.us.size()),
              quantile(calls.us, 0.5), quantile(calls.us, 0.99));
}

template <class F>
void timed(Calls& calls, F&& call) {
  const Clock::time_point begin = Clock::now();
  const bool ok = call();
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
  if (ok) {
    calls.us.push_back(us);
  } else {
    ++calls.errors;
  }
}

// The raw reference exchange with the daemon at address:port (host order).
bool rawSignal(uint32_t address, uint16_t port, const std::vector<uint8_t>& request) {
  nvo_bench::Fd fd = nvo_bench::connectTo(address, port, std::chrono::seconds(10));
  std::array<uint8_t, 12> answer{};
  return fd.valid() && nvo_bench::writeAll(fd.get(), request) &&
         nvo_bench::readExact(fd.get(), answer) && answer[4] == 0xE0 && answer[11] == 0;
}

int discover() {
  const Clock::time_point begin = Clock::now();
  vokra::TolmClient client;
  const std::string url = client.getTolmServer();
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
  if (url.empty()) {
    std::printf("url none us %.1f\n", us);
    return 1;
  }
  std::printf("url %s us %.1f\n", url.c_str(), us);
  std::fflush(stdout);  // the caller times this line's arrival, not the end of the process
  return 0;
}

int signalBoth(std::size_t count, const std::string& event) {
  vokra::TolmClient client;
  const std::string url = client.getTolmServer();
  SLPSrvURL* parsed = nullptr;
  if (url.empty() || SLPParseSrvURL(url.c_str(), &parsed) != SLP_OK) {
    std::printf("no daemon\n");
    return 1;
  }
  const uint32_t address = ntohl(::inet_addr(parsed->s_pcHost));
  const auto port = static_cast<uint16_t>(parsed->s_iPort);
  SLPFree(parsed);

  const std::vector<uint8_t> payload(kPayloadBytes, 0x5a);
  const std::vector<uint8_t> request = tolm::buildSignalRequest(event, payload, 0);
  Calls lib;
  Calls raw;
  for (std::size_t done = 0; done < count; done += kBlock) {
    const std::size_t n = std::min(kBlock, count - done);
    for (std::size_t i = 0; i < n; ++i) {
      timed(lib,
            [&] { return client.signalEvent(event, payload.data(), kPayloadBytes, 0, 0) == 0; });
    }
    for (std::size_t i = 0; i < n; ++i) {
      timed(raw, [&] { return rawSignal(address, port, request); });
    }
  }
  print("lib", lib);
  print("raw", raw);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "noop" && argc == 2) {
    std::printf("noop\n");
    std::fflush(stdout);
    return 0;
  }
  if (mode == "discover" && argc == 2) {
    return discover();
  }
  if (mode == "client" && argc == 4) {
    return signalBoth(std::strtoul(argv[2], nullptr, 10), argv[3]);
  }
  std::fprintf(stderr, "usage: bench-client noop | discover | client N EVENT\n");
  return 2;
}
