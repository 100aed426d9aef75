// nvo-rpm-import: adds RPM packages to the software repository of the directory.
#include <getopt.h>

#include <exception>
#include <iostream>
#include <string>

#include "gateway/mux_client.h"
#include "gateway/tools/gateway_requests.h"
#include "gateway/tools/packages.h"
#include "gateway/tools/tool_session.h"

namespace {

constexpr int kExitBadFile = 3;
constexpr int kExitRefused = 4;

constexpr const char* kUsage =
    "Usage: nvo-rpm-import [-a FILE] [--secure] FILE.rpm...\n"
    "Adds each RPM package (its name, version and release, read from the package header) to\n"
    "the software repository as an orvantarpm entry with a new UUID, below\n"
    "ou=pub,ou=RPM,ou=SoftwareRepository of the directory. A package of the same name,\n"
    "version and release already there is left alone and reported with its UUID.\n"
    "\n"
    "  -a, --authentication FILE   the authentication document of the session; without it\n"
    "                              the file named by NVO_AUTHENTICATION (mode 0600) is used\n"
    "  -s, --secure                import into ou=secure instead of ou=pub\n"
    "  -h, --help                  print this help\n"
    "\n"
    "Prints one line per package: \"added UUID NAME VERSION RELEASE\" or\n"
    "\"present UUID NAME VERSION RELEASE\".\n"
    "Exit status: 0 every package was added or already there, 1 usage error or unreadable\n"
    "authentication document, 2 the session was refused, 3 a file was no readable RPM package\n"
    "(the others were still imported), 4 the directory refused a search or an addition, or\n"
    "has no such repository unit.\n";

}  // namespace

int main(int argc, char** argv) {
  static const option kLongOptions[] = {{"authentication", required_argument, nullptr, 'a'},
                                        {"secure", no_argument, nullptr, 's'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  std::string authenticationFile;
  std::string unitName = "pub";
  int opt = 0;
  while ((opt = getopt_long(argc, argv, "a:sh", kLongOptions, nullptr)) != -1) {
    switch (opt) {
      case 'a':
        authenticationFile = optarg;
        break;
      case 's':
        unitName = "secure";
        break;
      case 'h':
        std::cout << kUsage;
        return nvo::tools::kExitDone;
      default:
        return nvo::tools::usageError("nvo-rpm-import", "unknown option", kUsage);
    }
  }
  if (optind >= argc) {
    return nvo::tools::usageError("nvo-rpm-import", "give at least one FILE.rpm", kUsage);
  }

  nvo::MUXClient client;
  if (int code = nvo::tools::openSession(client, authenticationFile, "nvo-rpm-import"); code != 0) {
    return code;
  }
  int status = nvo::tools::kExitDone;
  try {
    auto unit = nvo::tools::findRepositoryUnit(client, unitName);
    if (!unit) {
      std::cerr << "nvo-rpm-import: the directory has no repository unit ou=" << unitName
                << ",ou=RPM,ou=SoftwareRepository\n";
      client.endSession();
      return kExitRefused;
    }
    for (int i = optind; i < argc; ++i) {
      const std::string path = argv[i];
      std::string error;
      auto package = nvo::tools::readRpmFile(path, error);
      if (!package) {
        std::cerr << "nvo-rpm-import: " << path << ": " << error << "\n";
        status = kExitBadFile;
        continue;
      }
      try {
        nvo::tools::ImportResult result = nvo::tools::importPackage(client, *unit, *package);
        std::cout << (result.added ? "added " : "present ") << result.uuid << " " << package->name
                  << " " << package->version << " " << package->release << "\n";
      } catch (const std::exception& e) {
        std::cerr << "nvo-rpm-import: " << path << ": the directory refused: " << e.what() << "\n";
        status = kExitRefused;
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "nvo-rpm-import: the directory refused: " << e.what() << "\n";
    status = kExitRefused;
  }
  client.endSession();
  return status;
}
