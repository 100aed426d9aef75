#include "brenxd/tools/primary_interface.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace brenxd {
namespace {

const std::filesystem::path kNetClass = "/sys/class/net";

std::string firstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The interface's hardware address, or nothing for none or an all-zero one (loopback, tunnels).
std::optional<std::string> macOf(const std::string& interface) {
  if (interface.empty() || interface.find('/') != std::string::npos) {
    return std::nullopt;
  }
  const std::string mac = firstLine(kNetClass / interface / "address");
  if (mac.empty() || mac.find_first_not_of("0:") == std::string::npos) {
    return std::nullopt;
  }
  return mac;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::optional<std::string> defaultRouteInterface(const std::string& routeTable) {
  std::istringstream lines(routeTable);
  std::string line;
  std::getline(lines, line);  // the heading
  std::optional<std::string> best;
  long bestMetric = std::numeric_limits<long>::max();
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string interface, destination, gateway, flags, refCount, use, metric, mask;
    if (!(fields >> interface >> destination >> gateway >> flags >> refCount >> use >> metric >>
          mask)) {
      continue;
    }
    if (destination != "00000000" || mask != "00000000") {
      continue;
    }
    long value = std::numeric_limits<long>::max();
    try {
      value = std::stol(metric);
    } catch (const std::exception&) {
      continue;
    }
    if (value < bestMetric) {
      bestMetric = value;
      best = interface;
    }
  }
  return best;
}

std::optional<std::string> primaryMacAddress() {
  if (std::optional<std::string> route = defaultRouteInterface(readFile("/proc/net/route"))) {
    if (std::optional<std::string> mac = macOf(*route)) {
      return mac;
    }
  }
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(kNetClass, ignored)) {
    if (std::optional<std::string> mac = macOf(entry.path().filename().string())) {
      return mac;
    }
  }
  return std::nullopt;
}

}  // namespace brenxd
