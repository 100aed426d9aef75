// nvo-bench: measures the event daemon and the client library against minimal reference
// programs, in one run on one machine, and prints the results as a table and as
// machine-readable lines (bench/README.md explains every figure). scripts/bench builds and
// runs it inside tests/sandbox/run-in-sandbox, which it requires: it starts vslpd on port 427
// and tolmd with its real database path.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "bench/bench_daemons.h"
#include "bench/bench_options.h"
#include "bench/figures.h"
#include "bench/listener_farm.h"
#include "bench/report.h"
#include "tests/support/daemon_process.h"

namespace {

using namespace std::chrono_literals;
using namespace nvo_bench;

std::string ownDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

void runFigures(const BenchOptions& options, Report& report) {
  BenchDaemons daemons(ownDirectory(), options.tolmdPrefix);
  daemons.startSlpAgent();
  std::filesystem::remove(kDatabaseFile);
  daemons.startTolmd({"-d", "-l", "INFO"}, 30s);
  ListenerFarm farm(options.listeners);
  BenchRun run{options, daemons, farm, report};

  const auto wanted = [&](int figure) { return options.figures.contains(figure); };
  if (wanted(1)) {
    std::cerr << "nvo-bench: 1 intake\n";
    figureIntake(run);
  }
  if (wanted(2) || wanted(3)) {
    std::cerr << "nvo-bench: 3 registration\n";
    figureRegistration(run);
  }
  if (wanted(2)) {
    std::cerr << "nvo-bench: 2 fan-out\n";
    figureFanOut(run);
  }
  if (wanted(5)) {
    std::cerr << "nvo-bench: 5 discovery\n";
    figureDiscovery(run);
  }
  if (wanted(6)) {
    std::cerr << "nvo-bench: 6 client\n";
    figureClient(run);
  }
  if (wanted(4)) {
    std::cerr << "nvo-bench: 4 scale\n";
    figureScale(run);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<BenchOptions> options = parseOptions(argc, argv, std::cerr);
  if (!options) {
    return 2;
  }
  if (!nvo_test::inSandbox() || ::geteuid() != 0) {
    std::cerr << "nvo-bench: run me through tests/sandbox/run-in-sandbox (scripts/bench does)\n";
    return 2;
  }
  nvo_test::becomeSubreaper();
  Report report;
  report.note("parameters: " + describe(*options));
  report.note("ratio: tolmd (or libvokra) against the reference; 1 = as fast, higher is better");
  try {
    runFigures(*options, report);
  } catch (const std::exception& e) {
    std::cerr << "nvo-bench: " << e.what() << '\n';
    report.printTable(std::cout);
    return 1;
  }
  report.printTable(std::cout);
  std::cout << '\n';
  report.printMachineLines(std::cout);
  return 0;
}
