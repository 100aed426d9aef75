// Figures 5 and 6: the client library, each run in new processes as programs use it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
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

// This process's environment with `settings` ("NAME=value") replacing variables of the same
// name.
std::vector<std::string> childEnvironment(const std::vector<std::string>& settings) {
  std::vector<std::string> environment = settings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    const bool replaced = std::any_of(settings.begin(), settings.end(), [&](const auto& setting) {
      return setting.rfind(name, 0) == 0;
    });
    if (!replaced) {
      environment.push_back(text);
    }
  }
  return environment;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> result;
  for (std::string& word : words) {
    result.push_back(word.data());
  }
  result.push_back(nullptr);
  return result;
}

// Reads `fd` to its end, at most `timeout` in all; notes when the first line was complete.
std::string readToEnd(int fd, Clock::time_point begin, std::chrono::milliseconds timeout,
                      double& firstLineUs) {
  std::string text;
  const Clock::time_point deadline = begin + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{fd, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0 ||
        (n = ::read(fd, buffer, sizeof buffer)) <= 0) {
      return text;
    }
    if (firstLineUs == 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n)) != nullptr) {
      firstLineUs = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// Runs bench-client with `args` and its output on a pipe, timing the first line precisely
// (no polling). Throws std::runtime_error when it cannot be run or fails.
ProcessRun runClient(BenchRun& run, const std::vector<std::string>& args) {
  std::vector<std::string> words{run.daemons.binDir() + "/bench-client"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> environment = childEnvironment(run.daemons.environment());
  const std::vector<char*> argv = pointers(words);
  const std::vector<char*> envp = pointers(environment);
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
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawned != 0) {
    throw std::runtime_error(std::string("cannot run ") + argv[0]);
  }
  ProcessRun outcome;
  std::istringstream text(readToEnd(readEnd.get(), begin, 60s, outcome.firstLineUs));
  ::kill(pid, SIGKILL);  // only matters when it overran the time
  int status = 0;
  ::waitpid(pid, &status, 0);
  for (std::string line; std::getline(text, line);) {
    outcome.lines.push_back(line);
  }
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
