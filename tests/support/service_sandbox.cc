#include "tests/support/service_sandbox.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <utility>

#include "tests/support/raw_client.h"

namespace nvo_test {
namespace {

constexpr uint16_t kSlpPort = 427;

}  // namespace

ServiceSandbox::ServiceSandbox(std::string slpConfigPath)
    : slpConfigPath_(std::move(slpConfigPath)) {}

void ServiceSandbox::prepare(const std::string& slpSettings) const {
  becomeSubreaper();
  std::filesystem::remove_all(kTolmdDatabaseDirectory);
  std::filesystem::remove(kTolmdPidFile);
  std::ofstream(slpConfigPath_, std::ios::trunc) << slpSettings;
}

std::vector<std::string> ServiceSandbox::environment() const {
  return {"VSLP_CONF=" + slpConfigPath_};
}

std::unique_ptr<DaemonProcess> ServiceSandbox::startTolmd(
    const std::vector<std::string>& args, const std::vector<std::string>& wrapper) const {
  std::vector<std::string> command = wrapper;
  command.push_back(tolmdPath());
  command.insert(command.end(), args.begin(), args.end());
  std::string program = command.front();
  command.erase(command.begin());
  auto tolmd =
      std::make_unique<DaemonProcess>(std::move(program), std::move(command), environment());
  tolmd->start();
  return tolmd;
}

std::unique_ptr<DaemonProcess> ServiceSandbox::startSlpAgent() const {
  auto agent = std::make_unique<DaemonProcess>(buildBinary("vslpd"), std::vector<std::string>{"-d"},
                                               environment());
  agent->start();
  return agent;
}

std::string tolmdPath() {
  return buildBinary("tolmd");
}

std::optional<uint16_t> waitUntilListening(const DaemonProcess& tolmd,
                                           std::chrono::milliseconds timeout, std::size_t from) {
  const std::optional<std::size_t> index = tolmd.waitForLine(kTolmdListeningLine, timeout, from);
  if (!index) {
    return std::nullopt;
  }
  const std::vector<std::string> lines = tolmd.lines();
  const std::string& line = lines.at(*index);
  const std::string digits =
      line.substr(line.find(kTolmdListeningLine) + sizeof kTolmdListeningLine - 1);
  try {
    const int port = std::stoi(digits);
    if (port > 0 && port <= 65535) {
      return static_cast<uint16_t>(port);
    }
  } catch (const std::exception&) {
    // not a number: reported as no port below
  }
  return std::nullopt;
}

bool waitForSlpAgent(std::chrono::milliseconds timeout) {
  return waitUntil(
      [] {
        try {
          RawConnection probe(kSlpPort);
          return true;
        } catch (const std::exception&) {
          return false;
        }
      },
      timeout);
}

void stopAndRelease(std::unique_ptr<DaemonProcess>& process, std::chrono::milliseconds timeout) {
  if (process) {
    process->stop(timeout);
    process.reset();
  }
}

std::optional<std::string> listedRecord(const std::string& line) {
  const std::size_t at = line.find("  event: ");
  if (line.rfind("Recno: ", 0) != 0 || at == std::string::npos) {
    return std::nullopt;
  }
  return line.substr(at + 2);
}

}  // namespace nvo_test
