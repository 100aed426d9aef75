// tolm-listen: registers a listener of its own with tolmd for one or more events, prints every
// notification, and deregisters when interrupted (SIGINT, SIGTERM) or after --count
// notifications.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "client/socket_exception.h"
#include "client/tolm_server_info.h"
#include "client/tolm_slp_info.h"
#include "client/tools/event_listener.h"
#include "client/tools/tool_text.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: tolm-listen [options] EVENT...\n"
    "Registers a listener with the event daemon tolmd for each EVENT and prints every\n"
    "notification as one line:\n"
    "  NOTIFY event=NAME stagger=TYPE bytes=N text=PAYLOAD   (printable payloads)\n"
    "  NOTIFY event=NAME stagger=TYPE bytes=N hex=PAYLOAD    (others, or with --hex)\n"
    "Ctrl-C (SIGINT) or SIGTERM deregisters and ends.\n"
    "\n"
    "  -s, --server HOST:PORT  the daemon (default: found through SLP)\n"
    "  -a, --address ADDRESS   IPv4 address the daemon reaches this listener at (default:\n"
    "                          this host's address on the connection to the daemon)\n"
    "  -p, --port PORT         listening port (default: chosen by the system)\n"
    "  -x, --hex               print every payload in hexadecimal\n"
    "  -c, --count N           deregister and end after N notifications\n"
    "  -h, --help              print this help\n";

// The self-pipe that turns SIGINT and SIGTERM into a readable descriptor.
int gStopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int /*signo*/) {
  const int saved = errno;
  const char byte = 's';
  [[maybe_unused]] const ssize_t written = ::write(gStopPipe[1], &byte, 1);
  errno = saved;
}

bool installStopHandlers() {
  if (::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return false;
  }
  struct sigaction stop {};
  stop.sa_handler = onStopSignal;
  sigemptyset(&stop.sa_mask);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return ::sigaction(SIGINT, &stop, nullptr) == 0 && ::sigaction(SIGTERM, &stop, nullptr) == 0 &&
         ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int usageError(const std::string& message) {
  std::cerr << "tolm-listen: " << message << "\n" << kUsage;
  return kExitUsage;
}

// Parses the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, vokra::ListenerConfig& config,
                 std::vector<std::string>& events) {
  static const option kLongOptions[] = {{"server", required_argument, nullptr, 's'},
                                        {"address", required_argument, nullptr, 'a'},
                                        {"port", required_argument, nullptr, 'p'},
                                        {"hex", no_argument, nullptr, 'x'},
                                        {"count", required_argument, nullptr, 'c'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  int opt = 0;
  while ((opt = getopt_long(argc, argv, "s:a:p:xc:h", kLongOptions, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    if (opt == 's') {
      const auto server = vokra::parseHostPort(value);
      if (!server) {
        return usageError("not HOST:PORT: " + value);
      }
      config.server = *server;
    } else if (opt == 'a') {
      in_addr address{};
      if (::inet_pton(AF_INET, value.c_str(), &address) != 1) {
        return usageError("not an IPv4 address: " + value);
      }
      config.address = address.s_addr;
    } else if (opt == 'p') {
      const auto port = vokra::parseUnsigned(value, 0, UINT16_MAX);
      if (!port) {
        return usageError("not a port: " + value);
      }
      config.port = static_cast<uint16_t>(*port);
    } else if (opt == 'x') {
      config.forceHex = true;
    } else if (opt == 'c') {
      const auto count = vokra::parseUnsigned(value, 1, UINT64_MAX);
      if (!count) {
        return usageError("not a positive count: " + value);
      }
      config.count = *count;
    } else if (opt == 'h') {
      std::cout << kUsage;
      return 0;
    } else {
      return usageError("unknown option");
    }
  }
  for (int i = optind; i < argc; ++i) {
    events.emplace_back(argv[i]);
  }
  return events.empty() ? usageError("give at least one EVENT") : -1;
}

// Fills in the daemon's address from SLP when no --server was given; false when none is known.
bool findServer(vokra::ListenerConfig& config) {
  if (config.server.port != 0) {
    return true;
  }
  vokra::TolmServerInfo& info = vokra::TolmServerInfo::shared();
  const vokra::TolmSLPInfo found = info.copySLPInfo();
  if (found.getPort() == 0) {
    std::cerr << "tolm-listen: no event daemon found through SLP (SLP error " << info.getLastError()
              << ")" << std::endl;
    return false;
  }
  config.server = {found.getHost(), found.getPort()};
  return true;
}

int run(vokra::ListenerConfig config, const std::vector<std::string>& events) {
  vokra::EventListener listener(std::move(config), std::cout, std::cerr);
  const bool registered = listener.registerAll(events);
  if (registered) {
    listener.serve(gStopPipe[0]);
  }
  const bool deregistered = listener.deregisterAll();
  return registered && deregistered ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  vokra::ListenerConfig config;
  std::vector<std::string> events;
  const int status = parseOptions(argc, argv, config, events);
  if (status >= 0) {
    return status;
  }
  if (!installStopHandlers()) {
    std::cerr << "tolm-listen: cannot install signal handlers" << std::endl;
    return kExitFailure;
  }
  if (!findServer(config)) {
    return kExitFailure;
  }
  try {
    return run(std::move(config), events);
  } catch (const vokra::SocketException& e) {
    std::cerr << "tolm-listen: " << e.getMessage() << std::endl;
    return kExitFailure;
  }
}
