#include "tests/support/slapd_server.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tests/support/unique_fd.h"

namespace nvo_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSlapadd = "/usr/sbin/slapadd";
constexpr const char* kSlappasswd = "/usr/sbin/slappasswd";
constexpr const char* kLdapBin = "/usr/bin/";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kModuleDir = "/usr/lib/ldap";
constexpr const char* kMdbModule = "/usr/lib/ldap/back_mdb.so";
constexpr const char* kCoreSchema = "/etc/ldap/schema/core.schema";
constexpr const char* kPasswordHashToken = "@ADMIN_PASSWORD_HASH@";
// The directory model's root DN has no password: nobody binds as it. slapd runs the searches
// of the set= access rules as this identity.
constexpr const char* kInternalRootDn = "cn=slapd internal lookups,o=orvanta";

constexpr int kStartAttempts = 3;
constexpr int kAnswerPolls = 100;
constexpr auto kAnswerPollInterval = std::chrono::milliseconds(50);
// Loading a large fixture (the gateway bench's 100,000 computers) on a busy machine.
constexpr auto kSlapaddLimit = std::chrono::seconds(120);
// ldap-utils exit with 255 when they cannot reach the server.
constexpr int kServerDown = 255;
constexpr int kNoSuchObject = 32;

fs::path sourceDir() {
  const char* dir = std::getenv("NVO_SOURCE_DIR");
  if (dir == nullptr || *dir == '\0') {
    throw std::runtime_error("NVO_SOURCE_DIR is not set; run the test through ctest");
  }
  return dir;
}

fs::path schemaDir() {
  return sourceDir() / "gateway/schema";
}

fs::path makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/nvo-slapd-XXXXXX";
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

std::string readFile(const fs::path& path) {
  std::ifstream file(path);
  if (!file) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

ProcessResult mustRun(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extraEnv = {},
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  ProcessResult result = runCommand(argv, extraEnv, limit);
  if (result.exitCode != 0) {
    throw std::runtime_error(argv.at(0) + " failed (" + std::to_string(result.exitCode) +
                             "): " + result.out + result.err);
  }
  return result;
}

// The four units halbrin creates for the repository "ou=SoftwareRepository,o=orvanta", in
// its order, so that demo packages have their parents.
std::string repositoryUnitsLdif() {
  std::string ldif;
  const std::string repository = "ou=SoftwareRepository,o=orvanta";
  for (const auto& [ou, parent] :
       std::vector<std::pair<std::string, std::string>>{{"SoftwareRepository", "o=orvanta"},
                                                        {"RPM", repository},
                                                        {"secure", "ou=RPM," + repository},
                                                        {"pub", "ou=RPM," + repository}}) {
    ldif += "dn: ou=" + ou + "," + parent + "\nobjectClass: organizationalUnit\nou: " + ou + "\n\n";
  }
  return ldif;
}

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

std::string SlapdServer::missingPieces() {
  std::string missing;
  for (const std::string path :
       {kSlapd, kSlapadd, kSlappasswd, kMdbModule, kCoreSchema, "/usr/bin/ldapsearch",
        "/usr/bin/ldapmodify", "/usr/bin/ldappasswd", "/usr/bin/ldapwhoami", kOpenssl}) {
    if (!fs::exists(path)) {
      missing += (missing.empty() ? "" : ", ") + path;
    }
  }
  return missing;
}

std::vector<std::string> clientEnvironment() {
  return {"LDAPNOINIT=1"};
}

SlapdServer::SlapdServer(const SlapdOptions& options) : dir_(makeTempDir()), tls_(options.tls) {
  try {
    if (tls_) {
      makeTlsFiles();
    }
    writeConfiguration(options);
    writeFile(dir_ / "initial.ldif", initialLdif(options));
    // Quick mode (-q): a test database is thrown away, never repaired, and fixtures of a
    // hundred thousand entries then load in seconds rather than minutes.
    mustRun({kSlapadd, "-q", "-f", (dir_ / "slapd.conf").string(), "-l",
             (dir_ / "initial.ldif").string()},
            {}, kSlapaddLimit);
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
      if (startOnFreePorts()) {
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

std::string SlapdServer::caFile() const {
  return (dir_ / "tls/ca.pem").string();
}

std::vector<std::string> SlapdServer::tlsClientEnvironment() const {
  return {"LDAPCONF=" + (dir_ / "tls/ldap.conf").string(), "LDAPRC=nvo-test-no-ldaprc",
          "LDAPTLS_CACERT=" + caFile(), "LDAPTLS_REQCERT=demand"};
}

void SlapdServer::makeTlsFiles() const {
  const fs::path tls = dir_ / "tls";
  fs::create_directory(tls);
  // No system openssl.cnf: everything the certificates carry is on the command line.
  const std::vector<std::string> env = {"OPENSSL_CONF=/dev/null"};
  const auto path = [&](const char* name) { return (tls / name).string(); };
  mustRun({kOpenssl,
           "req",
           "-x509",
           "-newkey",
           "ec",
           "-pkeyopt",
           "ec_paramgen_curve:prime256v1",
           "-nodes",
           "-keyout",
           path("ca.key"),
           "-out",
           path("ca.pem"),
           "-days",
           "3",
           "-subj",
           "/CN=nvo test CA",
           "-addext",
           "basicConstraints=critical,CA:TRUE",
           "-addext",
           "keyUsage=critical,keyCertSign,cRLSign"},
          env);
  mustRun({kOpenssl, "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
           "-nodes", "-keyout", path("server.key"), "-out", path("server.csr"), "-subj",
           "/CN=127.0.0.1"},
          env);
  writeFile(tls / "server.ext",
            "subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n");
  mustRun({kOpenssl, "x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey",
           path("ca.key"), "-CAcreateserial", "-days", "3", "-out", path("server.pem"), "-extfile",
           path("server.ext")},
          env);
  writeFile(tls / "ldap.conf", "TLS_CACERT " + path("ca.pem") + "\nTLS_REQCERT demand\n");
}

void SlapdServer::writeConfiguration(const SlapdOptions& options) const {
  fs::create_directory(dir_ / "db");
  std::ostringstream conf;
  conf << "include " << kCoreSchema << "\n";
  if (options.accessRuleSchema) {
    conf << "include \"" << (sourceDir() / "halbrin/testdata/access_rules.schema").string()
         << "\"\n";
  }
  if (options.directoryModel) {
    conf << "include \"" << (schemaDir() / "nvo.schema").string() << "\"\n";
  }
  conf << "modulepath " << kModuleDir << "\nmoduleload back_mdb\n"
       << "pidfile \"" << (dir_ / "slapd.pid").string() << "\"\n"
       << "argsfile \"" << (dir_ / "slapd.args").string() << "\"\n";
  if (tls_) {
    conf << "TLSCACertificateFile \"" << caFile() << "\"\n"
         << "TLSCertificateFile \"" << (dir_ / "tls/server.pem").string() << "\"\n"
         << "TLSCertificateKeyFile \"" << (dir_ / "tls/server.key").string() << "\"\n";
  }
  if (!options.rootDseLines.empty()) {
    std::string ldif = "dn:\n";
    for (const std::string& line : options.rootDseLines) {
      ldif += line + "\n";
    }
    writeFile(dir_ / "rootdse.ldif", ldif);
    conf << "rootDSE \"" << (dir_ / "rootdse.ldif").string() << "\"\n";
  }
  if (options.directoryModel) {
    // The root DSE and the schema are for bound clients only; anonymous clients may bind.
    conf << "access to dn.base=\"\" by users read by * none\n"
         << "access to dn.base=\"cn=Subschema\" by users read by * none\n";
  }
  conf << "database mdb\nsuffix \"" << kSuffix << "\"\ndirectory \"" << (dir_ / "db").string()
       << "\"\n";
  if (options.mdbMaxSize != 0) {
    conf << "maxsize " << options.mdbMaxSize << "\n";
  }
  if (options.directoryModel) {
    conf << "rootdn \"" << kInternalRootDn << "\"\n"
         << "include \"" << (schemaDir() / "slapd-nvo.conf").string() << "\"\n";
  } else {
    conf << "rootdn \"" << kRootDn << "\"\nrootpw " << kRootPassword << "\n";
  }
  writeFile(dir_ / "slapd.conf", conf.str());
}

std::string SlapdServer::initialLdif(const SlapdOptions& options) const {
  std::string ldif;
  if (!options.directoryModel) {
    ldif = std::string("dn: ") + kSuffix + "\nobjectClass: organization\no: orvanta\n\n";
  } else {
    ldif = readFile(schemaDir() / "base.ldif");
    std::string hash = mustRun({kSlappasswd, "-s", kAdminPassword}).out;
    while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) {
      hash.pop_back();
    }
    const std::size_t token = ldif.find(kPasswordHashToken);
    if (token == std::string::npos) {
      throw std::runtime_error("base.ldif has no " + std::string(kPasswordHashToken));
    }
    ldif.replace(token, std::string(kPasswordHashToken).size(), hash);
    ldif += "\n";
    if (options.demoData) {
      ldif += repositoryUnitsLdif() + readFile(schemaDir() / "demo.ldif") + "\n";
    }
  }
  return ldif + options.extraLdif;
}

std::vector<std::string> SlapdServer::listenUrls() const {
  std::string urls = uri() + "/";
  if (tls_) {
    urls += " " + tlsUri() + "/";
  }
  return {"-h", urls};
}

bool SlapdServer::startOnFreePorts() {
  port_ = unusedLoopbackPort();
  if (tls_) {
    do {
      tlsPort_ = unusedLoopbackPort();
    } while (tlsPort_ == port_);
  }
  return launch();
}

bool SlapdServer::launch() {
  slapd_.reset();
  // -d keeps slapd in the foreground as our child, so the test owns its whole life.
  std::vector<std::string> argv = {kSlapd, "-f", (dir_ / "slapd.conf").string(), "-d", "0"};
  const std::vector<std::string> listen = listenUrls();
  argv.insert(argv.end(), listen.begin(), listen.end());
  slapd_ = std::make_unique<ChildProcess>(argv, std::vector<std::string>{});
  return answers();
}

bool SlapdServer::answers() const {
  for (int poll = 0; poll < kAnswerPolls; ++poll) {
    if (slapd_->waitFor(std::chrono::milliseconds(0))) {
      return false;  // exited, most likely because a port was taken meanwhile
    }
    if (acceptsConnections(port_) && (!tls_ || acceptsConnections(tlsPort_))) {
      // Any LDAP answer will do: the directory model hides the root DSE from anonymous clients.
      const ProcessResult probe =
          runCommand({std::string(kLdapBin) + "ldapsearch", "-x", "-H", uri(), "-o", "nettimeout=1",
                      "-b", "", "-s", "base", "-LLL", "(objectclass=*)", "namingContexts"},
                     clientEnvironment());
      if (probe.exitCode != kServerDown) {
        return true;
      }
    }
    std::this_thread::sleep_for(kAnswerPollInterval);
  }
  return false;
}

void SlapdServer::stop() {
  if (slapd_) {
    slapd_->stop();
    slapd_.reset();
  }
}

void SlapdServer::start() {
  stop();
  // The old listening sockets may linger for a moment after slapd ends; retry a few times.
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    if (launch()) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const std::string output = slapd_ ? slapd_->capturedOut() + slapd_->capturedErr() : "";
  slapd_.reset();
  throw std::runtime_error("slapd did not start again on port " + std::to_string(port_) + ": " +
                           output);
}

void SlapdServer::freeze() {
  if (slapd_) {
    kill(slapd_->pid(), SIGSTOP);
  }
}

void SlapdServer::thaw() {
  if (slapd_) {
    kill(slapd_->pid(), SIGCONT);
  }
}

LdapClient::LdapClient(std::string uri, fs::path scratchDir, std::vector<std::string> environment)
    : uri_(std::move(uri)),
      scratchDir_(std::move(scratchDir)),
      environment_(std::move(environment)) {}

ProcessResult LdapClient::run(const std::string& program, const Identity& who,
                              const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {kLdapBin + program, "-x", "-H", uri_, "-o", "nettimeout=5"};
  if (!who.dn.empty()) {
    argv.insert(argv.end(), {"-D", who.dn, "-w", who.password});
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return runCommand(argv, environment_);
}

ProcessResult LdapClient::runWithLdif(const std::string& program, const Identity& who,
                                      const std::string& ldif) const {
  std::string path = (scratchDir_ / "request-XXXXXX").string();
  UniqueFd fd(mkstemp(path.data()));
  if (!fd.valid()) {
    throw std::runtime_error("mkstemp failed for " + path);
  }
  fd.reset();
  writeFile(path, ldif);
  ProcessResult result = run(program, who, {"-f", path});
  std::error_code ignored;
  fs::remove(path, ignored);
  return result;
}

SearchResult LdapClient::ldapSearch(const Identity& who, const std::string& base,
                                    const std::string& scope, const std::string& filter,
                                    const std::vector<std::string>& attributes) const {
  std::vector<std::string> args = {"-b", base, "-s", scope, "-LLL", "-o", "ldif-wrap=no", filter};
  args.insert(args.end(), attributes.begin(), attributes.end());
  const ProcessResult result = run("ldapsearch", who, args);
  return {result.exitCode, parseLdif(result.out), result.err};
}

ProcessResult LdapClient::ldapAdd(const Identity& who, const std::string& ldif) const {
  return runWithLdif("ldapadd", who, ldif);
}

ProcessResult LdapClient::ldapModify(const Identity& who, const std::string& ldif) const {
  return runWithLdif("ldapmodify", who, ldif);
}

ProcessResult LdapClient::ldapDelete(const Identity& who, const std::string& dn) const {
  return run("ldapdelete", who, {dn});
}

ProcessResult LdapClient::ldapPasswd(const Identity& who, const std::string& dn,
                                     const std::string& newPassword) const {
  return run("ldappasswd", who, {"-s", newPassword, dn});
}

ProcessResult LdapClient::ldapWhoami(const Identity& who) const {
  return run("ldapwhoami", who, {});
}

std::vector<Entry> SlapdServer::searchSubtree(const std::string& base) const {
  const SearchResult result = ldapSearch(admin(), base, "sub", "(objectclass=*)", {"*"});
  if (result.exitCode == kNoSuchObject) {
    return {};
  }
  if (result.exitCode != 0) {
    throw std::runtime_error("ldapsearch failed (" + std::to_string(result.exitCode) +
                             "): " + result.err);
  }
  return result.entries;
}

}  // namespace nvo_test
