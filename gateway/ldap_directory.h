// LdapDirectory: the Directory of directory.h over OpenLDAP's client library, one LDAPv3
// connection bound with a simple bind. This is the only place of the gateway that calls the
// library.
//
// Bounded waits: connecting gives up after kNetworkTimeoutSeconds and every operation after
// kOperationTimeoutSeconds, so every call returns within a bounded time even when the server
// accepts connections and then never answers (a frozen or overloaded slapd); the call then
// throws DirectoryError with LDAP_TIMEOUT (-5) and the connection is dropped, to be re-opened
// by the next call.
//
// Lost connections: when an operation finds the connection gone (server down, connect error,
// server unavailable), the connection is re-opened and re-bound once with the credentials of
// open(), and the operation is tried once more; a second failure is thrown. A signal that the
// program handles while a call waits does not count as a lost connection: the wait goes on.
//
// TLS: ldaps:// URLs (and the CA that checks the server) are configured as OpenLDAP's tools
// are: ldap.conf, ~/.ldaprc and the LDAPTLS_* environment variables. LDAPTLS_CACERT is also
// read again at every open, so a process that sets it after its first connection still gets
// it. Referrals are not chased.
//
// Not thread-safe: one thread uses one object.
#ifndef GATEWAY_LDAP_DIRECTORY_H_
#define GATEWAY_LDAP_DIRECTORY_H_

#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "gateway/directory.h"

namespace nvo {

// Blocks SIGPIPE in the calling thread while the library writes to a socket whose peer is
// gone, and swallows the SIGPIPE that write raised, so a dropped connection becomes a result
// code and never ends the process. The process's own signal settings are left as they are.
// Guards nest: only the outermost one in a thread changes the mask, so a caller that runs
// several operations in a row (one gateway command) may hold one guard around all of them.
class SigpipeGuard {
 public:
  SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;
  ~SigpipeGuard();

 private:
  sigset_t old_{};
  bool active_ = false;
  bool wasPending_ = false;
};

class LdapDirectory : public Directory {
 public:
  static constexpr int kNetworkTimeoutSeconds = 5;
  static constexpr int kOperationTimeoutSeconds = 10;

  // True for a URL of scheme ldap, ldaps or ldapi, in any case ("LDAP://host:389").
  static bool isLdapUrl(const std::string& url);
  // `url` with its scheme in lower case (the library accepts only that); other text unchanged.
  static std::string normalizeUrl(const std::string& url);

  LdapDirectory();
  LdapDirectory(const LdapDirectory&) = delete;
  LdapDirectory& operator=(const LdapDirectory&) = delete;
  // Unbinds when still bound.
  ~LdapDirectory() override;

  // Connects to `url` and binds as `bindDn` with `password` (both empty: anonymous). Replaces
  // any connection held before. Throws DirectoryError: a URL that is not an LDAP one
  // (LDAP_PARAM_ERROR), a server that cannot be reached (LDAP_SERVER_DOWN), a refused bind
  // (LDAP_INVALID_CREDENTIALS and the like).
  void open(const std::string& url, const std::string& bindDn, const std::string& password);
  // Unbinds and forgets the credentials; later operations throw LDAP_SERVER_DOWN.
  void close();
  // True between a successful open() and close().
  bool isOpen() const;
  const std::string& url() const { return url_; }

  std::vector<DirEntry> search(const SearchRequest& request) override;
  void add(const std::string& dn, const std::vector<DirAttribute>& attributes) override;
  void modify(const std::string& dn, const std::vector<Modification>& changes) override;
  void rename(const std::string& dn, const std::string& newRdn,
              const std::string& newSuperior) override;
  void remove(const std::string& dn) override;
  void applyAtomically(const std::vector<DirChange>& changes) override;
  void setPassword(const std::string& dn, const std::string& password) override;
  std::string boundDn() const override { return bindDn_; }

 private:
  struct Connection;

  // A new connection to url_, bound with the stored credentials; throws DirectoryError.
  void connect();
  // Runs `operation` (which returns an LDAP result code) on the connection, re-opening once
  // when the connection was lost; throws DirectoryError for any result but success.
  template <typename Operation>
  void run(const Operation& operation);

  std::string url_;
  std::string bindDn_;
  std::string password_;
  bool opened_ = false;
  std::unique_ptr<Connection> connection_;
};

}  // namespace nvo

#endif  // GATEWAY_LDAP_DIRECTORY_H_
