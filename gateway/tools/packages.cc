#include "gateway/tools/packages.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include <rpm/header.h>
#include <rpm/rpmdb.h>
#include <rpm/rpmio.h>
#include <rpm/rpmlib.h>
#include <rpm/rpmmacro.h>
#include <rpm/rpmts.h>
#include <sys/stat.h>

namespace nvo::tools {

namespace {

struct TsFree {
  void operator()(rpmts ts) const { rpmtsFree(ts); }
};
struct HeaderRelease {
  void operator()(Header h) const { headerFree(h); }
};
struct FdClose {
  void operator()(FD_t fd) const { Fclose(fd); }
};
struct IteratorFree {
  void operator()(rpmdbMatchIterator it) const { rpmdbFreeIterator(it); }
};
using TsPtr = std::unique_ptr<std::remove_pointer_t<rpmts>, TsFree>;
using HeaderPtr = std::unique_ptr<std::remove_pointer_t<Header>, HeaderRelease>;
using FdPtr = std::unique_ptr<std::remove_pointer_t<FD_t>, FdClose>;
using IteratorPtr = std::unique_ptr<std::remove_pointer_t<rpmdbMatchIterator>, IteratorFree>;

// rpm's configuration (macros, database path) is read once per process.
bool rpmConfigured() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = rpmReadConfigFiles(nullptr, nullptr) == 0; });
  return ok;
}

std::string headerText(Header h, rpmTagVal tag) {
  const char* text = headerGetString(h, tag);
  return text != nullptr ? text : "";
}

Package packageOf(Header h) {
  return {headerText(h, RPMTAG_NAME), headerText(h, RPMTAG_VERSION), headerText(h, RPMTAG_RELEASE),
          headerText(h, RPMTAG_ARCH)};
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::optional<Package> readRpmFile(const std::string& path, std::string& error) {
  if (!rpmConfigured()) {
    error = "cannot read rpm's configuration";
    return std::nullopt;
  }
  FdPtr fd(Fopen(path.c_str(), "r.ufdio"));
  if (fd == nullptr || Ferror(fd.get()) != 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  TsPtr ts(rpmtsCreate());
  rpmtsSetVSFlags(ts.get(), RPMVSF_MASK_NODIGESTS | RPMVSF_MASK_NOSIGNATURES);
  Header raw = nullptr;
  const rpmRC rc = rpmReadPackageFile(ts.get(), fd.get(), path.c_str(), &raw);
  HeaderPtr header(raw);
  if ((rc != RPMRC_OK && rc != RPMRC_NOTTRUSTED && rc != RPMRC_NOKEY) || header == nullptr) {
    error = "not an RPM package";
    return std::nullopt;
  }
  Package package = packageOf(header.get());
  if (package.name.empty() || package.version.empty()) {
    error = "the package header has no name or version";
    return std::nullopt;
  }
  return package;
}

std::optional<std::vector<Package>> readRpmDatabase(const std::string& dbPath, std::string& error) {
  if (!rpmConfigured()) {
    error = "cannot read rpm's configuration";
    return std::nullopt;
  }
  if (!dbPath.empty()) {
    rpmPushMacro(nullptr, "_dbpath", nullptr, dbPath.c_str(), RMIL_CMDLINE);
  }
  // rpm opens a missing database as an empty one: that would report nothing installed.
  std::unique_ptr<char, decltype(&std::free)> where(rpmExpand("%{_dbpath}", nullptr), &std::free);
  struct stat status {};
  if (where == nullptr || stat(where.get(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    error = "no RPM database at " + std::string(where != nullptr ? where.get() : "%{_dbpath}");
    return std::nullopt;
  }
  TsPtr ts(rpmtsCreate());
  if (rpmtsOpenDB(ts.get(), O_RDONLY) != 0) {
    error = "cannot open the RPM database" + (dbPath.empty() ? "" : " " + dbPath);
    return std::nullopt;
  }
  std::vector<Package> packages;
  IteratorPtr it(rpmtsInitIterator(ts.get(), RPMDBI_PACKAGES, nullptr, 0));
  while (it != nullptr) {
    Header h = rpmdbNextIterator(it.get());  // owned by the iterator
    if (h == nullptr) {
      break;
    }
    Package p = packageOf(h);
    if (!p.name.empty() && p.name != "gpg-pubkey") {
      packages.push_back(std::move(p));
    }
  }
  return packages;
}

Package debianPackage(const std::string& name, const std::string& debianVersion,
                      const std::string& arch) {
  std::string rest = debianVersion;
  if (std::size_t colon = rest.find(':'); colon != std::string::npos) {
    rest.erase(0, colon + 1);
  }
  std::string release;
  if (std::size_t dash = rest.rfind('-'); dash != std::string::npos) {
    release = rest.substr(dash + 1);
    rest.erase(dash);
  }
  return {name, rest, release, arch};
}

std::vector<Package> parseDpkgStatus(const std::string& text) {
  std::vector<Package> packages;
  std::string name;
  std::string version;
  std::string arch;
  bool installed = false;
  auto finish = [&] {
    if (installed && !name.empty() && !version.empty()) {
      packages.push_back(debianPackage(name, version, arch));
    }
    name.clear();
    version.clear();
    arch.clear();
    installed = false;
  };
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (trimmed(line).empty()) {
      finish();
      continue;
    }
    if (line.front() == ' ' || line.front() == '\t') {
      continue;  // a continuation line of a multi-line field
    }
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    std::string field = line.substr(0, colon);
    std::string value = trimmed(line.substr(colon + 1));
    if (field == "Package") {
      name = value;
    } else if (field == "Version") {
      version = value;
    } else if (field == "Architecture") {
      arch = value;
    } else if (field == "Status") {
      // "want flag status": the last word is the package's state.
      std::size_t space = value.find_last_of(' ');
      installed = value.substr(space == std::string::npos ? 0 : space + 1) == "installed";
    }
  }
  finish();
  return packages;
}

std::optional<std::string> readModel(const std::string& path, std::string& reason) {
  std::ifstream in(path);
  if (!in) {
    reason = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string line;
  std::getline(in, line);
  constexpr std::size_t kMaxModelBytes = 256;
  line = trimmed(line.substr(0, kMaxModelBytes));
  if (line.empty()) {
    reason = path + " is empty";
    return std::nullopt;
  }
  return line;
}

}  // namespace nvo::tools
