#include "bench/load.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "bench/bench_socket.h"

namespace nvo_bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTimeout = std::chrono::seconds(10);

uint32_t word(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

// Runs `body(thread index, results)` on `clients` threads and merges what they measured.
LoadResult runThreads(std::size_t clients,
                      const std::function<void(std::size_t, LoadResult&)>& body) {
  std::vector<LoadResult> partial(clients);
  std::vector<std::thread> threads;
  const Clock::time_point start = Clock::now();
  for (std::size_t i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] { body(i, partial[i]); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  LoadResult total;
  total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (LoadResult& part : partial) {
    total.completed += part.completed;
    total.errors += part.errors;
    total.latenciesUs.insert(total.latenciesUs.end(), part.latenciesUs.begin(),
                             part.latenciesUs.end());
  }
  return total;
}

void timedExchange(uint16_t port, const std::vector<uint8_t>& request, uint32_t answerCode,
                   LoadResult& result) {
  const Clock::time_point begin = Clock::now();
  const bool ok = exchangeOnce(port, request, answerCode);
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
  if (ok) {
    ++result.completed;
    result.latenciesUs.push_back(us);
  } else {
    ++result.errors;
  }
}

}  // namespace

double quantile(std::vector<double>& values, double q) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto index =
      static_cast<std::size_t>(std::lround(q * static_cast<double>(values.size() - 1)));
  return values[std::min(index, values.size() - 1)];
}

double median(std::vector<double> values) {
  return quantile(values, 0.5);
}

bool exchangeOnce(uint16_t port, const std::vector<uint8_t>& request, uint32_t answerCode) {
  Fd fd = connectTo(kLoopback, port, kTimeout);
  if (!fd.valid() || !writeAll(fd.get(), request)) {
    return false;
  }
  std::array<uint8_t, 12> answer{};
  if (!readExact(fd.get(), answer)) {
    return false;
  }
  return word(answer.data() + 4) == answerCode && word(answer.data() + 8) == 0;
}

LoadResult runForDuration(uint16_t port, std::size_t clients, std::chrono::milliseconds duration,
                          const RequestMaker& make, uint32_t answerCode) {
  std::atomic<std::size_t> next{0};
  const Clock::time_point end = Clock::now() + duration;
  return runThreads(clients, [&](std::size_t, LoadResult& result) {
    while (Clock::now() < end) {
      timedExchange(port, make(next++), answerCode, result);
    }
  });
}

LoadResult runCount(uint16_t port, std::size_t clients, std::size_t total, const RequestMaker& make,
                    uint32_t answerCode) {
  std::atomic<std::size_t> next{0};
  return runThreads(clients, [&](std::size_t, LoadResult& result) {
    for (std::size_t n = next++; n < total; n = next++) {
      timedExchange(port, make(n), answerCode, result);
    }
  });
}

}  // namespace nvo_bench
