// nvo-call: opens one gateway session, sends one command document and prints the reply.
#include <getopt.h>

#include <iostream>
#include <string>

#include "gateway/mux_client.h"
#include "gateway/tools/tool_session.h"
#include "gateway/xml_parser.h"

namespace {

constexpr int kExitNoReply = 3;

constexpr const char* kUsage =
    "Usage: nvo-call [-a FILE] [COMMAND-FILE]\n"
    "Opens a gateway session, sends the command document read from COMMAND-FILE (standard\n"
    "input when it is absent or \"-\") and prints the reply document.\n"
    "\n"
    "  -a, --authentication FILE   the authentication document of the session; without it\n"
    "                              the file named by NVO_AUTHENTICATION (mode 0600) is used\n"
    "  -h, --help                  print this help\n"
    "\n"
    "Exit status: 0 a reply was printed (it may report an error of the command), 1 usage\n"
    "error or unreadable file, 2 the session was refused (no document, or the bind failed),\n"
    "3 no reply came.\n";

}  // namespace

int main(int argc, char** argv) {
  static const option kLongOptions[] = {{"authentication", required_argument, nullptr, 'a'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  std::string authenticationFile;
  int opt = 0;
  while ((opt = getopt_long(argc, argv, "a:h", kLongOptions, nullptr)) != -1) {
    switch (opt) {
      case 'a':
        authenticationFile = optarg;
        break;
      case 'h':
        std::cout << kUsage;
        return nvo::tools::kExitDone;
      default:
        return nvo::tools::usageError("nvo-call", "unknown option", kUsage);
    }
  }
  if (argc - optind > 1) {
    return nvo::tools::usageError("nvo-call", "give at most one COMMAND-FILE", kUsage);
  }
  const std::string commandFile = optind < argc ? argv[optind] : "-";

  std::string command;
  if (!nvo::tools::readTextFile(commandFile, command)) {
    std::cerr << "nvo-call: cannot read the command document " << commandFile << "\n";
    return nvo::tools::kExitUsage;
  }
  nvo::MUXClient client;
  if (int code = nvo::tools::openSession(client, authenticationFile, "nvo-call"); code != 0) {
    return code;
  }
  const nvo::DOM_Node reply = client.callGateway(command.data(), static_cast<int>(command.size()));
  if (reply == nullptr) {
    std::cerr << "nvo-call: no reply\n";
    client.endSession();
    return kExitNoReply;
  }
  std::cout << nvo::XMLParser::buildXMLFromNodes(reply) << "\n";
  client.endSession();
  return nvo::tools::kExitDone;
}
