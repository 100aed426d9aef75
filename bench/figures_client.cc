// Figures 5 and 6: the client library, each run in new processes as programs use it.
#include <sstream>
#include <stdexcept>

#include "bench/figures.h"
#include "bench/load.h"
#include "tests/support/daemon_process.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;

struct ProcessRun {
  double wallUs = 0;
  std::vector<std::string> lines;
};

ProcessRun runClient(BenchRun& run, const std::vector<std::string>& args) {
  const Clock::time_point begin = Clock::now();
  nvo_test::RunResult result = nvo_test::runProgram(run.daemons.binDir() + "/bench-client", args,
                                                    60s, run.daemons.environment());
  ProcessRun outcome{std::chrono::duration<double, std::micro>(Clock::now() - begin).count(),
                     std::move(result.lines)};
  if (result.exitCode != 0 || outcome.lines.empty()) {
    throw std::runtime_error("bench-client " + args.front() + " failed");
  }
  return outcome;
}

// The number after `key` in a "key value key value" line.
double valueAfter(const std::string& line, const std::string& key) {
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    if (word == key) {
      double value = 0;
      in >> value;
      return value;
    }
  }
  throw std::runtime_error("no " + key + " in: " + line);
}

}  // namespace

void figureDiscovery(BenchRun& run) {
  std::vector<double> discoverWall;
  std::vector<double> discoverInside;
  std::vector<double> noopWall;
  std::string url;
  for (std::size_t i = 0; i < run.options.discoveryRuns; ++i) {
    noopWall.push_back(runClient(run, {"noop"}).wallUs);
    const ProcessRun discovery = runClient(run, {"discover"});
    discoverWall.push_back(discovery.wallUs);
    discoverInside.push_back(valueAfter(discovery.lines.front(), "us"));
    std::istringstream(discovery.lines.front()).ignore(4) >> url;
  }
  const double wall = median(discoverWall);
  const double inside = median(discoverInside);
  const double noop = median(noopWall);
  Row row{"5 discovery (new process)",
          milliseconds(wall) + " (" + milliseconds(inside) + " in the call)",
          milliseconds(noop) + " (process only)",
          wall > 0 ? noop / wall : 0.0,
          "< 50 ms",
          wall < 50000,
          {{"figure", "discovery"},
           {"runs", std::to_string(run.options.discoveryRuns)},
           {"url", url},
           {"process_median_us", fixed(wall, 1)},
           {"call_median_us", fixed(inside, 1)},
           {"noop_process_median_us", fixed(noop, 1)}}};
  run.report.add(std::move(row));
}

void figureClient(BenchRun& run) {
  const ProcessRun result =
      runClient(run, {"client", std::to_string(run.options.clientCalls), "bench.client"});
  if (result.lines.size() < 2) {
    throw std::runtime_error("bench-client client printed too little");
  }
  const std::string& lib = result.lines[0];
  const std::string& raw = result.lines[1];
  const double libUs = valueAfter(lib, "us_per_call");
  const double rawUs = valueAfter(raw, "us_per_call");
  Row row{"6 client signalEvent",
          milliseconds(libUs) + " per call, p99 " + milliseconds(valueAfter(lib, "p99_us")),
          milliseconds(rawUs) + " per call, p99 " + milliseconds(valueAfter(raw, "p99_us")),
          libUs > 0 ? rawUs / libUs : 0.0,
          "",
          std::nullopt,
          {{"figure", "client"},
           {"calls", std::to_string(run.options.clientCalls)},
           {"lib_us_per_call", fixed(libUs, 1)},
           {"lib_p50_us", fixed(valueAfter(lib, "p50_us"), 1)},
           {"lib_p99_us", fixed(valueAfter(lib, "p99_us"), 1)},
           {"lib_errors", fixed(valueAfter(lib, "errors"), 0)},
           {"raw_us_per_call", fixed(rawUs, 1)},
           {"raw_p50_us", fixed(valueAfter(raw, "p50_us"), 1)},
           {"raw_p99_us", fixed(valueAfter(raw, "p99_us"), 1)},
           {"raw_errors", fixed(valueAfter(raw, "errors"), 0)}}};
  run.report.add(std::move(row));
}

}  // namespace nvo_bench
