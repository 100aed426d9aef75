// Figures 5 and 6: the client library, each run in new processes as programs use it.
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>

#include "bench/bench_socket.h"
#include "bench/figures.h"
#include "bench/load.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;

struct ProcessRun {
  double firstLineUs = 0;  // from the spawn until the program's first line arrived
  std::vector<std::string> lines;
};

// Runs bench-client with `args` and its output on a pipe, timing the first line precisely
// (no polling). Throws std::runtime_error when it cannot be run or fails.
ProcessRun runClient(BenchRun& run, const std::vector<std::string>& args) {
  const std::string program = run.daemons.binDir() + "/bench-client";
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  // The run's settings replace variables of the same name.
  std::vector<std::string> environment = run.daemons.environment();
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& extra : run.daemons.environment()) {
      replaced = replaced || extra.rfind(name, 0) == 0;
    }
    if (!replaced) {
      environment.push_back(text);
    }
  }
  std::vector<char*> envp;
  for (std::string& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  Fd readEnd(out[0]);
  Fd writeEnd(out[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  pid_t pid = -1;
  const Clock::time_point begin = Clock::now();
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawned != 0) {
    throw std::runtime_error("cannot run " + program);
  }
  ProcessRun outcome;
  std::string text;
  char buffer[4096];
  setTimeouts(readEnd.get(), 60s);
  for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) {
    if (outcome.firstLineUs == 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n))) {
      outcome.firstLineUs = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    outcome.lines.push_back(line);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || outcome.lines.empty()) {
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
    noopWall.push_back(runClient(run, {"noop"}).firstLineUs);
    const ProcessRun discovery = runClient(run, {"discover"});
    discoverWall.push_back(discovery.firstLineUs);
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
