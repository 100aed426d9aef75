// SlapdServer: a private OpenLDAP server for one test, on loopback, in a temporary directory.
//
// Two kinds of server:
// - plain (the default): core schema, suffix o=orvanta holding only that entry, root DN
//   cn=admin,o=orvanta with the password kAdminPassword, no access rules. halbrin's tests use it.
// - the gateway's directory model (SlapdOptions::directoryModel): the schema, indexes and access
//   rules of gateway/schema/ (nvo.schema, slapd-nvo.conf) and the base of base.ldif: the
//   administrator cn=admin,o=orvanta as an entry with the hashed password kAdminPassword, member
//   of cn=administrators,o=orvanta. There is no usable root DN: every client, the administrator
//   too, is subject to the access rules. With demoData, also the repository units halbrin makes
//   and gateway/schema/demo.ldif. These are the files scripts/directory loads.
//
// Optionally TLS: an ldaps:// port beside the ldap:// one, with a test CA and a server
// certificate for 127.0.0.1 and localhost made with openssl in the server's directory.
//
// The ldap* helpers run the ldap-utils programs as a given identity, so that tests can check
// the access rules from both sides.
#ifndef TESTS_SUPPORT_SLAPD_SERVER_H_
#define TESTS_SUPPORT_SLAPD_SERVER_H_

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace nvo_test {

// How a test server differs from a plain OpenLDAP one.
struct SlapdOptions {
  // LDIF lines added to the root DSE through slapd's `rootDSE` directive (no "dn:" line),
  // for example "netscapemdsuffix: cn=x". Empty for none.
  std::vector<std::string> rootDseLines;
  // Load halbrin/testdata/access_rules.schema: the netscapemdsuffix, aci and ACL attribute
  // types and a content rule letting organizational units carry aci and ACL.
  bool accessRuleSchema = false;
  // The gateway's schema, indexes, access rules and base (see above).
  bool directoryModel = false;
  // With directoryModel: also the software repository units and gateway/schema/demo.ldif.
  bool demoData = false;
  // Also listen on ldaps:// with a certificate of a test CA (caFile()).
  bool tls = false;
  // Further LDIF loaded with slapadd after everything else (entries only, no changetype).
  std::string extraLdif;
  // The database's largest size in bytes (slapd's mdb `maxsize`); 0 keeps slapd's default of
  // 10 MiB, too small for fixtures of many thousand entries.
  std::size_t mdbMaxSize = 0;
};

// One directory entry read back from the server: its DN and its attributes' values by
// attribute name as the server spells it.
struct Entry {
  std::string dn;
  std::map<std::string, std::vector<std::string>> attributes;
};

// Who runs an ldap* helper: a bind DN and its password; an empty DN binds anonymously.
struct Identity {
  std::string dn;
  std::string password;
};

// What ldapSearch found: the program's exit code (an LDAP result code; 0 success, 32 no such
// object, 50 insufficient access, 49 invalid credentials), the entries and its error output.
struct SearchResult {
  int exitCode = -1;
  std::vector<Entry> entries;
  std::string err;
};

// A loopback port nobody listens on at the moment of the call.
int unusedLoopbackPort();

// Environment for the LDAP client programs the tests run: no system or user ldap.conf.
std::vector<std::string> clientEnvironment();

// Parses LDIF as ldapsearch -LLL -o ldif-wrap=no writes it (base64 values decoded).
std::vector<Entry> parseLdif(const std::string& ldif);

// The ldap-utils programs (ldapsearch, ldapadd, ...) against one server URL, as a given
// identity, each bounded in time. ldapAdd takes entries, ldapModify change records
// ("changetype: ..."); LDIF goes through a file in `scratchDir`. The result's exit code is the
// LDAP result code (255: server not reachable). `scope` is base, one or sub; no `attributes`
// means every user attribute.
class LdapClient {
 public:
  LdapClient(std::string uri, std::filesystem::path scratchDir,
             std::vector<std::string> environment = clientEnvironment());

  SearchResult ldapSearch(const Identity& who, const std::string& base, const std::string& scope,
                          const std::string& filter,
                          const std::vector<std::string>& attributes = {}) const;
  ProcessResult ldapAdd(const Identity& who, const std::string& ldif) const;
  ProcessResult ldapModify(const Identity& who, const std::string& ldif) const;
  ProcessResult ldapDelete(const Identity& who, const std::string& dn) const;
  // Password Modify extended operation: sets the password of `dn`.
  ProcessResult ldapPasswd(const Identity& who, const std::string& dn,
                           const std::string& newPassword) const;
  // Simple bind and "who am I": exit code 0 when the bind succeeded.
  ProcessResult ldapWhoami(const Identity& who) const;

 private:
  ProcessResult run(const std::string& program, const Identity& who,
                    const std::vector<std::string>& args) const;
  ProcessResult runWithLdif(const std::string& program, const Identity& who,
                            const std::string& ldif) const;

  std::string uri_;
  std::filesystem::path scratchDir_;
  std::vector<std::string> environment_;
};

class SlapdServer {
 public:
  static constexpr const char* kSuffix = "o=orvanta";
  static constexpr const char* kAdminDn = "cn=admin,o=orvanta";
  static constexpr const char* kAdminPassword = "halbrin-test-secret";
  static constexpr const char* kAdministratorsDn = "cn=administrators,o=orvanta";
  // The plain server's root DN is the administrator's DN, with the same password.
  static constexpr const char* kRootDn = kAdminDn;
  static constexpr const char* kRootPassword = kAdminPassword;

  // Empty when slapd, its tools and mdb module, its core schema, ldap-utils and openssl are
  // installed; otherwise what is missing.
  static std::string missingPieces();
  static Identity admin() { return {kAdminDn, kAdminPassword}; }
  static Identity anonymous() { return {}; }

  // Starts the server. Throws std::runtime_error with slapd's own output when it cannot.
  explicit SlapdServer(const SlapdOptions& options = {});
  SlapdServer(const SlapdServer&) = delete;
  SlapdServer& operator=(const SlapdServer&) = delete;
  ~SlapdServer();

  int port() const { return port_; }
  std::string uri() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
  // With SlapdOptions::tls: the ldaps:// port and URL, and the test CA's certificate (PEM).
  int tlsPort() const { return tlsPort_; }
  std::string tlsUri() const { return "ldaps://127.0.0.1:" + std::to_string(tlsPort_); }
  std::string caFile() const;
  // Environment for ldap-utils programs talking to tlsUri(): no ldap.conf but the test CA's,
  // certificate checking on.
  std::vector<std::string> tlsClientEnvironment() const;
  // The server's temporary directory (removed by the destructor).
  const std::filesystem::path& directory() const { return dir_; }

  // Stops slapd (SIGTERM; the data stays). start() runs it again on the same ports with the
  // same data and returns once it answers; it throws std::runtime_error when it cannot.
  void stop();
  void start();
  bool running() const { return slapd_ != nullptr; }
  // SIGSTOP and SIGCONT: a frozen server accepts connections but answers nothing.
  void freeze();
  void thaw();

  // Subtree search below `base` as the administrator for every user attribute; entries in the
  // order the server sends them. Throws std::runtime_error when ldapsearch fails (no such
  // base is not a failure: it gives no entries).
  std::vector<Entry> searchSubtree(const std::string& base) const;

  // The ldap-utils programs against uri() as `who` (see LdapClient).
  LdapClient client() const { return LdapClient(uri(), dir_); }
  SearchResult ldapSearch(const Identity& who, const std::string& base, const std::string& scope,
                          const std::string& filter,
                          const std::vector<std::string>& attributes = {}) const {
    return client().ldapSearch(who, base, scope, filter, attributes);
  }
  ProcessResult ldapAdd(const Identity& who, const std::string& ldif) const {
    return client().ldapAdd(who, ldif);
  }
  ProcessResult ldapModify(const Identity& who, const std::string& ldif) const {
    return client().ldapModify(who, ldif);
  }
  ProcessResult ldapDelete(const Identity& who, const std::string& dn) const {
    return client().ldapDelete(who, dn);
  }
  ProcessResult ldapPasswd(const Identity& who, const std::string& dn,
                           const std::string& newPassword) const {
    return client().ldapPasswd(who, dn, newPassword);
  }
  ProcessResult ldapWhoami(const Identity& who) const { return client().ldapWhoami(who); }

 private:
  void writeConfiguration(const SlapdOptions& options) const;
  std::string initialLdif(const SlapdOptions& options) const;
  void makeTlsFiles() const;
  bool startOnFreePorts();
  bool launch();
  bool answers() const;
  std::vector<std::string> listenUrls() const;

  std::filesystem::path dir_;
  bool tls_ = false;
  int port_ = 0;
  int tlsPort_ = 0;
  std::unique_ptr<ChildProcess> slapd_;
};

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_SLAPD_SERVER_H_
