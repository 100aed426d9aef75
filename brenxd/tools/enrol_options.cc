#include "brenxd/tools/enrol_options.h"

#include <charconv>
#include <cstddef>

namespace brenxd {
namespace {

// A whole decimal number in [1, max], or nothing.
std::optional<int> positiveNumber(const std::string& text, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || stop != end || value < 1 || value > max) {
    return std::nullopt;
  }
  return value;
}

bool splitServer(EnrolOptions& options) {
  const std::size_t colon = options.server.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return false;
  }
  std::optional<int> port = positiveNumber(options.server.substr(colon + 1), 65535);
  if (!port) {
    return false;
  }
  options.host = options.server.substr(0, colon);
  options.port = static_cast<unsigned short>(*port);
  return true;
}

}  // namespace

const char kEnrolUsage[] =
    "usage: nvo-enrol [--server HOST:PORT] [--name HOST] [--mac MAC] [--output FILE]\n"
    "                 [--timeout SECONDS]\n"
    "Asks the workstation creation agent (found through SLP unless --server is given) for this\n"
    "workstation's computer object and credentials, and writes the authentication document it\n"
    "answers with to FILE (created with mode 0600) or to standard output.\n";

std::optional<EnrolOptions> parseEnrolOptions(const std::vector<std::string>& args,
                                              std::string& error) {
  EnrolOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    if (arg != "--server" && arg != "--name" && arg != "--mac" && arg != "--output" &&
        arg != "-o" && arg != "--timeout") {
      error = "unknown option " + arg;
      return std::nullopt;
    }
    if (i + 1 == args.size()) {
      error = "option " + arg + " needs a value";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (arg == "--server") {
      options.server = value;
      if (!splitServer(options)) {
        error = "--server needs HOST:PORT, not " + value;
        return std::nullopt;
      }
    } else if (arg == "--name") {
      options.name = value;
    } else if (arg == "--mac") {
      options.mac = value;
    } else if (arg == "--timeout") {
      std::optional<int> seconds = positiveNumber(value, 3600);
      if (!seconds) {
        error = "--timeout needs a number of seconds from 1 to 3600, not " + value;
        return std::nullopt;
      }
      options.timeoutSeconds = *seconds;
    } else {
      options.output = value;
    }
  }
  return options;
}

}  // namespace brenxd
