// Client-side load for the benchmarks: concurrent request loops against a server of the event
// protocol, with per-request latencies, and the statistics the report prints.
//
// Every request is one conversation as the protocol has it: connect, write the request, read
// the 12-byte answer, close. Functions here run their own threads and return when done; every
// socket call is bounded by a time-out, so a server that stops answering only produces errors.
#ifndef BENCH_LOAD_H_
#define BENCH_LOAD_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace nvo_bench {

struct LoadResult {
  std::size_t completed = 0;  // requests answered with the expected answer code and result 0
  std::size_t errors = 0;     // refused, timed out, cut short, or another answer
  double seconds = 0;         // wall time of the whole run
  std::vector<double> latenciesUs;

  double perSecond() const { return seconds > 0 ? static_cast<double>(completed) / seconds : 0; }
};

// The q-quantile (0..1) of `values` (sorted in place); 0 when empty.
double quantile(std::vector<double>& values, double q);
double median(std::vector<double> values);

// Builds request number n (n counts from 0 across all clients).
using RequestMaker = std::function<std::vector<uint8_t>(std::size_t n)>;

// One conversation with 127.0.0.1:port (host order): true when the answer arrived with
// `answerCode` and result 0.
bool exchangeOnce(uint16_t port, const std::vector<uint8_t>& request, uint32_t answerCode);

// `clients` threads each repeat conversations until `duration` has passed.
LoadResult runForDuration(uint16_t port, std::size_t clients, std::chrono::milliseconds duration,
                          const RequestMaker& make, uint32_t answerCode);
// `clients` threads share `total` conversations (request numbers 0..total-1).
LoadResult runCount(uint16_t port, std::size_t clients, std::size_t total, const RequestMaker& make,
                    uint32_t answerCode);

}  // namespace nvo_bench

#endif  // BENCH_LOAD_H_
