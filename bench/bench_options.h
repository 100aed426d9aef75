// The parameters of a benchmark run. Defaults are the sizes the figures are defined with;
// smaller ones make a quick run.
#ifndef BENCH_BENCH_OPTIONS_H_
#define BENCH_BENCH_OPTIONS_H_

#include <cstddef>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace nvo_bench {

struct BenchOptions {
  std::set<int> figures{1, 2, 3, 4, 5, 6};
  // 1 intake
  std::vector<std::size_t> clients{1, 8, 64};
  double intakeSeconds = 2.0;
  std::size_t payloadBytes = 32;
  // 2 fan-out
  std::size_t listeners = 1000;
  std::size_t gonePercent = 10;
  std::size_t fanoutRepetitions = 9;
  // 3 registration
  std::size_t registrations = 8000;
  std::size_t registrationClients = 8;
  // 4 scale
  std::size_t scaleRegistrations = 100000;
  std::size_t scaleEvents = 10000;
  std::size_t smallRegistrations = 10;
  std::size_t latencySamples = 30;
  // 5 discovery, 6 client
  std::size_t discoveryRuns = 10;
  std::size_t clientCalls = 2000;
  // Words put before tolmd's command line, for profiling ("perf record -g -o FILE"); tolmd is
  // then that program's child.
  std::vector<std::string> tolmdPrefix;
};

// Parses the command line; nothing (after printing why to `err`) on a usage error.
std::optional<BenchOptions> parseOptions(int argc, char** argv, std::ostream& err);

// "figures=1,2 clients=1,8,64 ...": every parameter, for the report.
std::string describe(const BenchOptions& options);

}  // namespace nvo_bench

#endif  // BENCH_BENCH_OPTIONS_H_
