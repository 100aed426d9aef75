#include "halbrin/testing/slapd_server.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "halbrin/testing/unique_fd.h"

namespace halbrin::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSlapadd = "/usr/sbin/slapadd";
constexpr const char* kLdapsearch = "/usr/bin/ldapsearch";
constexpr const char* kModuleDir = "/usr/lib/ldap";
constexpr const char* kMdbModule = "/usr/lib/ldap/back_mdb.so";
constexpr const char* kCoreSchema = "/etc/ldap/schema/core.schema";

constexpr int kStartAttempts = 3;
constexpr int kAnswerPolls = 100;
constexpr auto kAnswerPollInterval = std::chrono::milliseconds(50);

fs::path sourceDir() {
  const char* dir = std::getenv("NVO_SOURCE_DIR");
  if (dir == nullptr || *dir == '\0') {
    throw std::runtime_error("NVO_SOURCE_DIR is not set; run the test through ctest");
  }
  return dir;
}

fs::path makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/halbrin-slapd-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern);
  }
  return pattern;
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  if (!file.flush()) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

}  // namespace

// Another process may take the port before slapd does; the server then tries a new one.
int unusedLoopbackPort() {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!fd.valid() || bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot find a free loopback port");
  }
  return ntohs(address.sin_port);
}

namespace {

bool acceptsConnections(int port) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return fd.valid() &&
         connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

std::string decodeBase64(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string decoded;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const std::size_t value = kAlphabet.find(c);
    if (value == std::string::npos) {
      continue;  // padding or line noise
    }
    bits = (bits << 6) | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      decoded.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return decoded;
}

// Parses ldapsearch -LLL output written without line wrapping.
std::vector<Entry> parseLdif(const std::string& ldif) {
  std::vector<Entry> entries;
  std::istringstream lines(ldif);
  std::string line;
  bool inEntry = false;
  while (std::getline(lines, line)) {
    const std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string::npos) {
      inEntry = false;
      continue;
    }
    const std::string name = line.substr(0, colon);
    std::string value;
    if (line.compare(colon, 2, "::") == 0) {
      value = decodeBase64(line.substr(colon + 2));
    } else {
      value = line.substr(std::min(line.size(), colon + 2));
    }
    if (!inEntry) {
      entries.push_back({value, {}});
      inEntry = true;
    } else {
      entries.back().attributes[name].push_back(value);
    }
  }
  return entries;
}

}  // namespace

std::string SlapdServer::missingPieces() {
  std::string missing;
  for (const char* path : {kSlapd, kSlapadd, kMdbModule, kCoreSchema, kLdapsearch}) {
    if (!fs::exists(path)) {
      missing += std::string(missing.empty() ? "" : ", ") + path;
    }
  }
  return missing;
}

std::vector<std::string> clientEnvironment() {
  return {"LDAPNOINIT=1"};
}

SlapdServer::SlapdServer(const SlapdOptions& options) : dir_(makeTempDir()) {
  try {
    writeConfiguration(options);
    const ProcessResult added = runProgram(
        {kSlapadd, "-f", (dir_ / "slapd.conf").string(), "-l", (dir_ / "base.ldif").string()});
    if (added.exitCode != 0) {
      throw std::runtime_error("slapadd failed: " + added.out + added.err);
    }
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
      if (startOnFreePort()) {
        return;
      }
    }
    throw std::runtime_error("slapd did not start: " + slapd_->capturedOut() +
                             slapd_->capturedErr());
  } catch (...) {
    slapd_.reset();
    fs::remove_all(dir_);
    throw;
  }
}

SlapdServer::~SlapdServer() {
  slapd_.reset();  // stops slapd before its files go
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void SlapdServer::writeConfiguration(const SlapdOptions& options) const {
  fs::create_directory(dir_ / "db");
  std::ostringstream conf;
  conf << "include " << kCoreSchema << "\n";
  if (options.accessRuleSchema) {
    conf << "include \"" << (sourceDir() / "halbrin/testdata/access_rules.schema").string()
         << "\"\n";
  }
  conf << "modulepath " << kModuleDir << "\nmoduleload back_mdb\n"
       << "pidfile \"" << (dir_ / "slapd.pid").string() << "\"\n"
       << "argsfile \"" << (dir_ / "slapd.args").string() << "\"\n";
  if (!options.rootDseLines.empty()) {
    std::string ldif = "dn:\n";
    for (const std::string& line : options.rootDseLines) {
      ldif += line + "\n";
    }
    writeFile(dir_ / "rootdse.ldif", ldif);
    conf << "rootDSE \"" << (dir_ / "rootdse.ldif").string() << "\"\n";
  }
  conf << "database mdb\nsuffix \"" << kSuffix << "\"\nrootdn \"" << kRootDn << "\"\n"
       << "rootpw " << kRootPassword << "\ndirectory \"" << (dir_ / "db").string() << "\"\n";
  writeFile(dir_ / "slapd.conf", conf.str());
  writeFile(dir_ / "base.ldif",
            std::string("dn: ") + kSuffix + "\nobjectClass: organization\no: orvanta\n");
}

bool SlapdServer::startOnFreePort() {
  slapd_.reset();
  port_ = unusedLoopbackPort();
  // -d keeps slapd in the foreground as our child, so the test owns its whole life.
  slapd_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{kSlapd, "-f", (dir_ / "slapd.conf").string(), "-h", uri() + "/",
                               "-d", "0"},
      std::vector<std::string>{});
  return answers();
}

bool SlapdServer::answers() const {
  for (int poll = 0; poll < kAnswerPolls; ++poll) {
    if (slapd_->waitFor(std::chrono::milliseconds(0))) {
      return false;  // exited, most likely because the port was taken meanwhile
    }
    if (acceptsConnections(port_)) {
      const ProcessResult probe =
          runProgram({kLdapsearch, "-x", "-H", uri(), "-o", "nettimeout=1", "-b", "", "-s", "base",
                      "-LLL", "(objectclass=*)", "namingContexts"},
                     clientEnvironment());
      if (probe.exitCode == 0) {
        return true;
      }
    }
    std::this_thread::sleep_for(kAnswerPollInterval);
  }
  return false;
}

std::vector<Entry> SlapdServer::searchSubtree(const std::string& base) const {
  const ProcessResult result =
      runProgram({kLdapsearch, "-x", "-H", uri(), "-D", kRootDn, "-w", kRootPassword, "-b", base,
                  "-s", "sub", "-LLL", "-o", "ldif-wrap=no", "(objectclass=*)", "*"},
                 clientEnvironment());
  constexpr int kNoSuchObject = 32;
  if (result.exitCode == kNoSuchObject) {
    return {};
  }
  if (result.exitCode != 0) {
    throw std::runtime_error("ldapsearch failed (" + std::to_string(result.exitCode) +
                             "): " + result.err);
  }
  return parseLdif(result.out);
}

}  // namespace halbrin::testing
