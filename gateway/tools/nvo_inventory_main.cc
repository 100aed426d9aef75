// nvo-inventory: reports this computer's installed packages and hardware model into its
// inventory in the directory, as the computer itself.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway/mux_client.h"
#include "gateway/tools/gateway_requests.h"
#include "gateway/tools/packages.h"
#include "gateway/tools/tool_session.h"

namespace {

constexpr int kExitNoDatabase = 3;
constexpr int kExitRefused = 4;

constexpr const char* kDpkgStatus = "/var/lib/dpkg/status";
constexpr const char* kModelFile = "/sys/class/dmi/id/product_name";
// dpkg's status file of a full desktop is a few MiB; more is no status file.
constexpr std::size_t kMaxStatusBytes = 64u * 1024 * 1024;

constexpr const char* kUsage =
    "Usage: nvo-inventory [-a FILE] [--dpkg-status FILE | --rpm-dbpath DIR] [--model-file FILE]\n"
    "                     [--print]\n"
    "Reports this computer's installed packages and hardware model into its inventory in the\n"
    "directory, as the computer itself (the session's own object), replacing the previous\n"
    "report in one step. The packages come from dpkg's status database (/var/lib/dpkg/status)\n"
    "when the machine has one, else from the RPM database; the model from\n"
    "/sys/class/dmi/id/product_name (when it is absent the model is reported unknown).\n"
    "\n"
    "  -a, --authentication FILE   the computer's authentication document; without it the\n"
    "                              file named by NVO_AUTHENTICATION (mode 0600) is used\n"
    "      --dpkg-status FILE      read this dpkg status file\n"
    "      --rpm-dbpath DIR        read the RPM database in DIR\n"
    "      --model-file FILE       read the model from FILE\n"
    "  -p, --print                 print the report's command document instead of sending it\n"
    "  -h, --help                  print this help\n"
    "\n"
    "Prints the model and the numbers of packages added, removed and unchanged.\n"
    "Exit status: 0 reported, 1 usage error or unreadable authentication document, 2 the\n"
    "session was refused, 3 the package database could not be read or lists no package,\n"
    "4 the directory refused the report (nothing of it was stored).\n";

bool readStatusFile(const std::string& path, std::string& text) {
  std::FILE* raw = std::fopen(path.c_str(), "rb");
  if (raw == nullptr) {
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(raw, &std::fclose);
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text.append(buffer, got);
    if (text.size() > kMaxStatusBytes) {
      return false;
    }
  }
  return std::ferror(file.get()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  enum { kDpkgOption = 256, kRpmOption, kModelOption };
  static const option kLongOptions[] = {{"authentication", required_argument, nullptr, 'a'},
                                        {"dpkg-status", required_argument, nullptr, kDpkgOption},
                                        {"rpm-dbpath", required_argument, nullptr, kRpmOption},
                                        {"model-file", required_argument, nullptr, kModelOption},
                                        {"print", no_argument, nullptr, 'p'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  std::string authenticationFile;
  std::string dpkgStatus;
  std::string rpmDbPath;
  std::string modelFile = kModelFile;
  bool useRpm = false;
  bool print = false;
  int opt = 0;
  while ((opt = getopt_long(argc, argv, "a:ph", kLongOptions, nullptr)) != -1) {
    switch (opt) {
      case 'a':
        authenticationFile = optarg;
        break;
      case kDpkgOption:
        dpkgStatus = optarg;
        break;
      case kRpmOption:
        rpmDbPath = optarg;
        useRpm = true;
        break;
      case kModelOption:
        modelFile = optarg;
        break;
      case 'p':
        print = true;
        break;
      case 'h':
        std::cout << kUsage;
        return nvo::tools::kExitDone;
      default:
        return nvo::tools::usageError("nvo-inventory", "unknown option", kUsage);
    }
  }
  if (optind < argc) {
    return nvo::tools::usageError("nvo-inventory", "no arguments expected", kUsage);
  }
  if (useRpm && !dpkgStatus.empty()) {
    return nvo::tools::usageError("nvo-inventory", "give --dpkg-status or --rpm-dbpath, not both",
                                  kUsage);
  }
  if (!useRpm && dpkgStatus.empty()) {
    useRpm = access(kDpkgStatus, F_OK) != 0;
    dpkgStatus = kDpkgStatus;
  }

  std::vector<nvo::tools::Package> packages;
  if (useRpm) {
    std::string error;
    auto found = nvo::tools::readRpmDatabase(rpmDbPath, error);
    if (!found) {
      std::cerr << "nvo-inventory: " << error << "\n";
      return kExitNoDatabase;
    }
    packages = std::move(*found);
  } else {
    std::string text;
    if (!readStatusFile(dpkgStatus, text)) {
      std::cerr << "nvo-inventory: cannot read the dpkg status file " << dpkgStatus << "\n";
      return kExitNoDatabase;
    }
    packages = nvo::tools::parseDpkgStatus(text);
  }
  if (packages.empty()) {
    // A machine runs on installed packages: a database listing none was misread, and
    // reporting it would empty the inventory.
    std::cerr << "nvo-inventory: the package database lists no installed package; nothing "
                 "was reported\n";
    return kExitNoDatabase;
  }
  std::string reason;
  std::optional<std::string> model = nvo::tools::readModel(modelFile, reason);

  if (print) {
    std::cout << nvo::tools::inventoryCommand(model, packages) << "\n";
    return nvo::tools::kExitDone;
  }
  nvo::MUXClient client;
  if (int code = nvo::tools::openSession(client, authenticationFile, "nvo-inventory"); code != 0) {
    return code;
  }
  try {
    nvo::tools::InventoryResult result = nvo::tools::reportInventory(client, model, packages);
    if (model) {
      std::cout << "model: " << *model << "\n";
    } else {
      std::cout << "model: unknown (" << reason << ")\n";
    }
    std::cout << "packages: " << packages.size() << " (added " << result.added << ", removed "
              << result.removed << ", unchanged " << result.unchanged << ")\n";
  } catch (const std::exception& e) {
    std::cerr << "nvo-inventory: the directory refused the report: " << e.what() << "\n";
    client.endSession();
    return kExitRefused;
  }
  client.endSession();
  return nvo::tools::kExitDone;
}
