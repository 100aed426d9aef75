#include "bench/bench_daemons.h"

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "tests/support/service_sandbox.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;

constexpr char kSlpConfig[] = "/run/nvo-bench-vslp.conf";

// `name` as found on $PATH when it has no slash (the launcher wants a path).
std::string onPath(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return name;
  }
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string dir; std::getline(path, dir, ':');) {
    if (std::filesystem::exists(dir + "/" + name)) {
      return dir + "/" + name;
    }
  }
  return name;
}

}  // namespace

BenchDaemons::BenchDaemons(std::string binDir, std::vector<std::string> tolmdPrefix)
    : binDir_(std::move(binDir)), tolmdPrefix_(std::move(tolmdPrefix)) {
  // The agent's and the library's defaults, written out so that no /etc/vslp.conf of the host
  // can change what is measured.
  std::ofstream(kSlpConfig, std::ios::trunc) << "net.slp.port = 427\n";
}

BenchDaemons::~BenchDaemons() {
  stopReference();
  if (tolmd_) {
    tolmd_->stop(15s);
  }
  if (slpAgent_) {
    slpAgent_->stop(10s);
  }
}

std::vector<std::string> BenchDaemons::environment() const {
  return {std::string("VSLP_CONF=") + kSlpConfig};
}

void BenchDaemons::startSlpAgent() {
  slpAgent_ = std::make_unique<nvo_test::DaemonProcess>(
      binDir_ + "/vslpd", std::vector<std::string>{"-d"}, environment());
  slpAgent_->start();
  if (!nvo_test::waitForSlpAgent(10s)) {
    throw std::runtime_error("vslpd did not come up:\n" + slpAgent_->transcript());
  }
}

double BenchDaemons::startTolmd(const std::vector<std::string>& args,
                                std::chrono::seconds timeout) {
  std::vector<std::string> command = tolmdPrefix_;
  command.push_back(binDir_ + "/tolmd");
  command.insert(command.end(), args.begin(), args.end());
  const std::string program = onPath(command.front());
  command.erase(command.begin());
  tolmd_ = std::make_unique<nvo_test::DaemonProcess>(program, command, environment());
  const auto begin = std::chrono::steady_clock::now();
  tolmd_->start();
  const std::optional<uint16_t> port = nvo_test::waitUntilListening(*tolmd_, timeout);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (!port) {
    throw std::runtime_error("tolmd did not start listening:\n" + tolmd_->transcript());
  }
  tolmdPort_ = *port;
  return seconds;
}

void BenchDaemons::stopTolmd() {
  if (!tolmd_) {
    return;
  }
  const auto code = tolmd_->stop(30s);
  tolmd_.reset();
  tolmdPort_ = 0;
  if (code != 0) {
    throw std::runtime_error("tolmd did not stop cleanly");
  }
}

std::size_t BenchDaemons::tolmdRssKib() const {
  if (!tolmd_) {
    return 0;
  }
  std::ifstream status("/proc/" + std::to_string(tolmd_->pid()) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return static_cast<std::size_t>(std::stoul(line.substr(6)));
    }
  }
  return 0;
}

uint16_t BenchDaemons::startReference(bool probe, const std::string& store) {
  stopReference();
  std::vector<std::string> args;
  if (probe) {
    args.push_back("--probe");
  }
  if (!store.empty()) {
    args.insert(args.end(), {"--store", store});
  }
  reference_ = std::make_unique<nvo_test::DaemonProcess>(binDir_ + "/bench-reference-server", args);
  reference_->start();
  const auto line = reference_->waitForLine("port ", 30s);
  if (!line) {
    throw std::runtime_error("the reference server did not start");
  }
  return static_cast<uint16_t>(std::stoi(reference_->lines()[*line].substr(5)));
}

void BenchDaemons::stopReference() {
  if (reference_) {
    reference_->sendSignal(SIGKILL);
    reference_->waitForExit(10s);
    reference_.reset();
  }
}

}  // namespace nvo_bench
