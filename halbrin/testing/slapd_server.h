#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "halbrin/testing/child_process.h"

namespace halbrin::testing {

// How a test server differs from a plain OpenLDAP one.
struct SlapdOptions {
  // LDIF lines added to the root DSE through slapd's `rootDSE` directive (no "dn:" line),
  // for example "netscapemdsuffix: cn=x". Empty for none.
  std::vector<std::string> rootDseLines;
  // Load halbrin/testdata/access_rules.schema: the netscapemdsuffix, aci and ACL attribute
  // types and a content rule letting organizational units carry aci and ACL.
  bool accessRuleSchema = false;
};

// One directory entry read back from the server: its DN and its attributes' values by
// attribute name as the server spells it.
struct Entry {
  std::string dn;
  std::map<std::string, std::vector<std::string>> attributes;
};

// A private slapd for one test: its own configuration file, schema and mdb database (suffix
// "o=orvanta" with that entry present, root DN cn=admin,o=orvanta) in a fresh temporary
// directory, listening on a free port on 127.0.0.1 only. Never touches the system's slapd,
// its configuration or its data. The constructor returns once the server answers a root DSE
// search; the destructor stops it and removes the directory. Used from the test thread only.
class SlapdServer {
 public:
  static constexpr const char* kSuffix = "o=orvanta";
  static constexpr const char* kRootDn = "cn=admin,o=orvanta";
  static constexpr const char* kRootPassword = "halbrin-test-secret";

  // Empty when slapd, its mdb module, its core schema and ldapsearch are installed; otherwise
  // what is missing.
  static std::string missingPieces();

  // Starts the server. Throws std::runtime_error with slapd's own output when it cannot.
  explicit SlapdServer(const SlapdOptions& options = {});
  SlapdServer(const SlapdServer&) = delete;
  SlapdServer& operator=(const SlapdServer&) = delete;
  ~SlapdServer();

  int port() const { return port_; }
  std::string uri() const { return "ldap://127.0.0.1:" + std::to_string(port_); }

  // Subtree search below `base` as the root DN for every user attribute; entries in the order
  // the server sends them. Throws std::runtime_error when ldapsearch fails (no such base is
  // not a failure: it gives no entries).
  std::vector<Entry> searchSubtree(const std::string& base) const;

 private:
  void writeConfiguration(const SlapdOptions& options) const;
  bool startOnFreePort();
  bool answers() const;

  std::filesystem::path dir_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> slapd_;
};

// A loopback port nobody listens on at the moment of the call.
int unusedLoopbackPort();

// Environment for the LDAP client programs the tests run: no system or user ldap.conf.
std::vector<std::string> clientEnvironment();

}  // namespace halbrin::testing
