// tolm-signal: signals one event to tolmd through libvokra and prints the result code.
#include <getopt.h>

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "client/tolm_client.h"
#include "client/tools/payload_file.h"
#include "client/tools/tool_text.h"

namespace {

constexpr int kExitRejected = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: tolm-signal [options] EVENT\n"
    "Signals EVENT to the event daemon tolmd (found through SLP) and prints the result.\n"
    "\n"
    "  -d, --data TEXT      payload: the bytes of TEXT\n"
    "  -x, --hex HEX        payload: bytes written in hexadecimal\n"
    "  -f, --file PATH      payload: the contents of PATH; \"-\" reads standard input\n"
    "  -t, --stagger TYPE   default, timed, sequential, or a number (default: default)\n"
    "  -v, --verbose        also print the daemon's service URL\n"
    "  -h, --help           print this help\n"
    "\n"
    "Without -d, -x or -f the payload is empty. Exit status: 0 when the daemon accepted the\n"
    "signal (result 0), 1 for any other result, 2 for usage errors.\n";

struct Options {
  std::string event;
  std::vector<uint8_t> payload;
  int32_t staggerType = 0;
  bool verbose = false;
};

int usageError(const std::string& message) {
  std::cerr << "tolm-signal: " << message << "\n" << kUsage;
  return kExitUsage;
}

// Parses the command line into `options`; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
  static const option kLongOptions[] = {{"data", required_argument, nullptr, 'd'},
                                        {"hex", required_argument, nullptr, 'x'},
                                        {"file", required_argument, nullptr, 'f'},
                                        {"stagger", required_argument, nullptr, 't'},
                                        {"verbose", no_argument, nullptr, 'v'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  int payloadSources = 0;
  int opt = 0;
  while ((opt = getopt_long(argc, argv, "d:x:f:t:vh", kLongOptions, nullptr)) != -1) {
    std::string error;
    std::optional<std::vector<uint8_t>> bytes;
    switch (opt) {
      case 'd':
        bytes = std::vector<uint8_t>(optarg, optarg + std::string(optarg).size());
        break;
      case 'x':
        bytes = vokra::parseHex(optarg);
        error = "not a hexadecimal payload: " + std::string(optarg);
        break;
      case 'f':
        bytes = vokra::readPayloadFile(optarg, &error);
        break;
      case 't': {
        const std::optional<int32_t> type = vokra::parseStaggerType(optarg);
        if (!type) {
          return usageError("unknown stagger type: " + std::string(optarg));
        }
        options.staggerType = *type;
        continue;
      }
      case 'v':
        options.verbose = true;
        continue;
      case 'h':
        std::cout << kUsage;
        return 0;
      default:
        return usageError("unknown option");
    }
    if (!bytes) {
      return usageError(error);
    }
    options.payload = std::move(*bytes);
    ++payloadSources;
  }
  if (payloadSources > 1) {
    return usageError("give at most one of -d, -x and -f");
  }
  if (optind + 1 != argc) {
    return usageError("give exactly one EVENT");
  }
  options.event = argv[optind];
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int status = parseOptions(argc, argv, options);
  if (status >= 0) {
    return status;
  }
  vokra::TolmClient client;
  if (options.verbose) {
    std::cout << "server " << client.getTolmServer() << std::endl;
  }
  const int result =
      client.signalEvent(options.event, options.payload.data(),
                         static_cast<int>(options.payload.size()), options.staggerType, 0);
  std::cout << "result " << result << " (" << vokra::describeResult(result) << ")" << std::endl;
  return result == 0 ? 0 : kExitRejected;
}
