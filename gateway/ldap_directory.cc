#include "gateway/ldap_directory.h"

#include <lber.h>
#include <ldap.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <utility>

#include <sys/time.h>

namespace nvo {
namespace {

struct LdapUnbind {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct MessageFree {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
struct BerFree {
  void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
struct MemFree {
  void operator()(char* text) const { ldap_memfree(text); }
};
struct BerTextFree {
  void operator()(char* text) const { ber_memfree(text); }
};
// The value array of ldap_get_attribute_ber: one allocation, values pointing into the message.
struct ValuesArrayFree {
  void operator()(berval* values) const { ber_memfree(values); }
};

using LdapPtr = std::unique_ptr<LDAP, LdapUnbind>;
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;
using BerPtr = std::unique_ptr<BerElement, BerFree>;
using TextPtr = std::unique_ptr<char, MemFree>;
using BerTextPtr = std::unique_ptr<char, BerTextFree>;
using ValuesArrayPtr = std::unique_ptr<berval, ValuesArrayFree>;

// A berval over bytes the caller keeps alive; the library does not write through it.
berval borrowed(const std::string& text) {
  berval value{};
  value.bv_len = text.size();
  value.bv_val = const_cast<char*>(text.data());  // NOLINT: read-only use by the library
  return value;
}

// Results that mean the connection is gone rather than that the server refused.
bool connectionLost(int code) {
  return code == LDAP_SERVER_DOWN || code == LDAP_CONNECT_ERROR || code == LDAP_UNAVAILABLE;
}

// The library's text for `code`, followed by the server's diagnostic message when one came.
std::string describe(LDAP* ld, int code) {
  std::string message = ldap_err2string(code);
  if (ld != nullptr) {
    char* diagnostic = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
        diagnostic != nullptr) {
      const TextPtr owned(diagnostic);
      if (*diagnostic != '\0') {
        message += ": ";
        message += diagnostic;
      }
    }
  }
  return message;
}

int scopeOf(SearchScope scope) {
  switch (scope) {
    case SearchScope::kBase:
      return LDAP_SCOPE_BASE;
    case SearchScope::kOneLevel:
      return LDAP_SCOPE_ONELEVEL;
    case SearchScope::kSubtree:
      break;
  }
  return LDAP_SCOPE_SUBTREE;
}

int modOpOf(Modification::Op op) {
  switch (op) {
    case Modification::Op::kAdd:
      return LDAP_MOD_ADD;
    case Modification::Op::kDelete:
      return LDAP_MOD_DELETE;
    case Modification::Op::kReplace:
      break;
  }
  return LDAP_MOD_REPLACE;
}

// An add or modify request's LDAPMod list over bervals that point into `source`, which the
// caller keeps alive and unchanged while the list is used. Every array is sized before a
// pointer into it is taken.
class ModList {
 public:
  explicit ModList(const std::vector<Modification>& source) {
    values_.resize(source.size());
    valuePointers_.resize(source.size());
    mods_.resize(source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
      const Modification& change = source[i];
      for (const std::string& value : change.values) {
        values_[i].push_back(borrowed(value));
      }
      for (berval& value : values_[i]) {
        valuePointers_[i].push_back(&value);
      }
      valuePointers_[i].push_back(nullptr);
      mods_[i].mod_op = modOpOf(change.op) | LDAP_MOD_BVALUES;
      mods_[i].mod_type = const_cast<char*>(change.attribute.c_str());  // NOLINT: read-only
      // A delete without values removes the attribute: the library wants a null list then.
      mods_[i].mod_bvalues = change.values.empty() ? nullptr : valuePointers_[i].data();
    }
    for (LDAPMod& mod : mods_) {
      pointers_.push_back(&mod);
    }
    pointers_.push_back(nullptr);
  }
  ModList(const ModList&) = delete;
  ModList& operator=(const ModList&) = delete;

  LDAPMod** get() { return pointers_.data(); }

 private:
  std::vector<std::vector<berval>> values_;
  std::vector<std::vector<berval*>> valuePointers_;
  std::vector<LDAPMod> mods_;
  std::vector<LDAPMod*> pointers_;
};

// Room reserved for an entry's attributes: what the engine's searches usually bring back, so
// the list is not regrown attribute by attribute.
constexpr std::size_t kAttributesExpected = 8;

// One entry of a search result, read into its value form in one pass over the entry (the
// names and values are read where they lie in the message and copied once).
DirEntry readEntry(LDAP* ld, LDAPMessage* message) {
  DirEntry entry;
  BerElement* rawBer = nullptr;
  berval dn{};
  const int code = ldap_get_dn_ber(ld, message, &rawBer, &dn);
  const BerPtr ber(rawBer);
  if (code != LDAP_SUCCESS) {
    return entry;
  }
  entry.dn.assign(dn.bv_val == nullptr ? "" : dn.bv_val, dn.bv_len);
  entry.attributes.reserve(kAttributesExpected);
  berval name{};
  berval* values = nullptr;
  while (ldap_get_attribute_ber(ld, message, ber.get(), &name, &values) == LDAP_SUCCESS &&
         name.bv_val != nullptr) {
    const ValuesArrayPtr ownedValues(values);
    DirAttribute& attribute = entry.attributes.emplace_back();
    attribute.name.assign(name.bv_val, name.bv_len);
    std::size_t count = 0;
    while (values != nullptr && values[count].bv_val != nullptr) {
      ++count;
    }
    attribute.values.reserve(count);
    for (const berval* value = values; value != nullptr && value->bv_val != nullptr; ++value) {
      attribute.values.emplace_back(value->bv_val, value->bv_len);
    }
    values = nullptr;
  }
  return entry;
}

timeval seconds(int count) {
  timeval value{};
  value.tv_sec = count;
  return value;
}

}  // namespace

namespace {
// Guards alive in this thread: only the outermost one changes the signal mask.
thread_local int guardDepth = 0;
}  // namespace

SigpipeGuard::SigpipeGuard() {
  if (guardDepth++ > 0) {
    return;
  }
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  active_ = pthread_sigmask(SIG_BLOCK, &pipe, &old_) == 0;
  if (active_ && sigismember(&old_, SIGPIPE) == 1) {
    // Blocked already: a SIGPIPE pending now is the caller's own and must stay. (While SIGPIPE
    // is not blocked, none can be pending in this thread.)
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
}

SigpipeGuard::~SigpipeGuard() {
  if (--guardDepth > 0 || !active_) {
    return;
  }
  if (!wasPending_) {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec none{};
    while (sigtimedwait(&pipe, nullptr, &none) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

struct LdapDirectory::Connection {
  LdapPtr ld;
};

bool LdapDirectory::isLdapUrl(const std::string& url) {
  const std::string normal = normalizeUrl(url);
  for (const char* scheme : {"ldap://", "ldaps://", "ldapi://"}) {
    if (normal.rfind(scheme, 0) == 0) {
      return true;
    }
  }
  return false;
}

std::string LdapDirectory::normalizeUrl(const std::string& url) {
  std::string normal = url;
  const std::size_t end = normal.find("://");
  if (end == std::string::npos) {
    return normal;
  }
  std::transform(normal.begin(), normal.begin() + static_cast<std::ptrdiff_t>(end), normal.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return normal;
}

LdapDirectory::LdapDirectory() = default;

LdapDirectory::~LdapDirectory() {
  close();
}

void LdapDirectory::open(const std::string& url, const std::string& bindDn,
                         const std::string& password) {
  close();
  if (!isLdapUrl(url)) {
    throw DirectoryError(LDAP_PARAM_ERROR, "not an LDAP URL (ldap://, ldaps://, ldapi://): " + url);
  }
  url_ = normalizeUrl(url);
  bindDn_ = bindDn;
  password_ = password;
  connect();
  opened_ = true;
}

void LdapDirectory::close() {
  if (connection_ != nullptr) {
    const SigpipeGuard guard;
    connection_.reset();
  }
  opened_ = false;
  bindDn_.clear();
  password_.clear();
}

bool LdapDirectory::isOpen() const {
  return opened_;
}

void LdapDirectory::connect() {
  connection_.reset();
  const SigpipeGuard guard;
  LDAP* raw = nullptr;
  int code = ldap_initialize(&raw, url_.c_str());
  LdapPtr ld(raw);
  if (code != LDAP_SUCCESS || ld == nullptr) {
    throw DirectoryError(code, describe(nullptr, code) + ": " + url_);
  }
  const int version = LDAP_VERSION3;
  const timeval network = seconds(kNetworkTimeoutSeconds);
  const timeval operation = seconds(kOperationTimeoutSeconds);
  code = ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  if (code == LDAP_OPT_SUCCESS) {
    code = ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &network);
  }
  if (code == LDAP_OPT_SUCCESS) {
    code = ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &operation);
  }
  if (code == LDAP_OPT_SUCCESS) {
    code = ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  }
  if (code == LDAP_OPT_SUCCESS) {
    // A signal the program handles would otherwise end the wait for an answer as a lost
    // server: the operation would be tried again on a new connection, a change done twice.
    code = ldap_set_option(ld.get(), LDAP_OPT_RESTART, LDAP_OPT_ON);
  }
  if (const char* caFile = std::getenv("LDAPTLS_CACERT");
      code == LDAP_OPT_SUCCESS && caFile != nullptr && *caFile != '\0') {
    code = ldap_set_option(ld.get(), LDAP_OPT_X_TLS_CACERTFILE, caFile);
    const int newContext = 0;
    if (code == LDAP_OPT_SUCCESS) {
      code = ldap_set_option(ld.get(), LDAP_OPT_X_TLS_NEWCTX, &newContext);
    }
  }
  if (code != LDAP_OPT_SUCCESS) {
    throw DirectoryError(LDAP_LOCAL_ERROR, "cannot set the connection options of " + url_);
  }
  berval credentials = borrowed(password_);
  code = ldap_sasl_bind_s(ld.get(), bindDn_.empty() ? nullptr : bindDn_.c_str(), LDAP_SASL_SIMPLE,
                          &credentials, nullptr, nullptr, nullptr);
  if (code != LDAP_SUCCESS) {
    throw DirectoryError(code, describe(ld.get(), code));
  }
  connection_ = std::make_unique<Connection>();
  connection_->ld = std::move(ld);
}

template <typename Operation>
void LdapDirectory::run(const Operation& operation) {
  if (!opened_) {
    throw DirectoryError(LDAP_SERVER_DOWN, "no directory connection is open");
  }
  const SigpipeGuard guard;
  bool reopened = false;
  if (connection_ == nullptr) {
    connect();
    reopened = true;
  }
  int code = operation(connection_->ld.get());
  if (connectionLost(code) && !reopened) {
    connection_.reset();
    connect();
    code = operation(connection_->ld.get());
  }
  if (code == LDAP_SUCCESS) {
    return;
  }
  const std::string message = describe(connection_->ld.get(), code);
  if (connectionLost(code) || code == LDAP_TIMEOUT) {
    // The library's state of this connection is unknown now (an answer may still come):
    // the next call starts on a new one.
    connection_.reset();
  }
  throw DirectoryError(code, message);
}

std::vector<DirEntry> LdapDirectory::search(const SearchRequest& request) {
  std::vector<DirEntry> entries;
  std::vector<char*> attributes;
  for (const std::string& name : request.attributes) {
    attributes.push_back(const_cast<char*>(name.c_str()));  // NOLINT: read-only use
  }
  attributes.push_back(nullptr);
  run([&](LDAP* ld) {
    entries.clear();
    timeval limit = seconds(kOperationTimeoutSeconds);
    LDAPMessage* raw = nullptr;
    const int code =
        ldap_search_ext_s(ld, request.base.c_str(), scopeOf(request.scope), request.filter.c_str(),
                          request.attributes.empty() ? nullptr : attributes.data(), 0, nullptr,
                          nullptr, &limit, request.sizeLimit, &raw);
    const MessagePtr result(raw);
    if (code != LDAP_SUCCESS) {
      return code;
    }
    const int count = ldap_count_entries(ld, result.get());
    entries.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (LDAPMessage* entry = ldap_first_entry(ld, result.get()); entry != nullptr;
         entry = ldap_next_entry(ld, entry)) {
      entries.push_back(readEntry(ld, entry));
    }
    return LDAP_SUCCESS;
  });
  return entries;
}

void LdapDirectory::add(const std::string& dn, const std::vector<DirAttribute>& attributes) {
  std::vector<Modification> additions;
  additions.reserve(attributes.size());
  for (const DirAttribute& attribute : attributes) {
    additions.push_back({Modification::Op::kAdd, attribute.name, attribute.values});
  }
  ModList mods(additions);
  run([&](LDAP* ld) { return ldap_add_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr); });
}

void LdapDirectory::modify(const std::string& dn, const std::vector<Modification>& changes) {
  ModList mods(changes);
  run([&](LDAP* ld) { return ldap_modify_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr); });
}

void LdapDirectory::rename(const std::string& dn, const std::string& newRdn,
                           const std::string& newSuperior) {
  run([&](LDAP* ld) {
    return ldap_rename_s(ld, dn.c_str(), newRdn.c_str(),
                         newSuperior.empty() ? nullptr : newSuperior.c_str(), 1, nullptr, nullptr);
  });
}

void LdapDirectory::remove(const std::string& dn) {
  run([&](LDAP* ld) { return ldap_delete_ext_s(ld, dn.c_str(), nullptr, nullptr); });
}

namespace {

struct BervalFree {
  void operator()(berval* value) const { ber_bvfree(value); }
};
using BervalPtr = std::unique_ptr<berval, BervalFree>;

// Sends one change of a transaction, tagged with the transaction's control. The server only
// queues it; its outcome comes with the end of the transaction.
int sendInTransaction(LDAP* ld, const DirChange& change, LDAPControl** controls) {
  switch (change.kind) {
    case DirChange::Kind::kAdd: {
      std::vector<Modification> additions;
      additions.reserve(change.attributes.size());
      for (const DirAttribute& attribute : change.attributes) {
        additions.push_back({Modification::Op::kAdd, attribute.name, attribute.values});
      }
      ModList mods(additions);
      return ldap_add_ext_s(ld, change.dn.c_str(), mods.get(), controls, nullptr);
    }
    case DirChange::Kind::kModify: {
      ModList mods(change.changes);
      return ldap_modify_ext_s(ld, change.dn.c_str(), mods.get(), controls, nullptr);
    }
    case DirChange::Kind::kDelete:
      break;
  }
  return ldap_delete_ext_s(ld, change.dn.c_str(), controls, nullptr);
}

}  // namespace

void LdapDirectory::applyAtomically(const std::vector<DirChange>& changes) {
  if (changes.empty()) {
    return;
  }
  // The server's own diagnostic of a failed change, taken before the abort replaces it.
  std::string failure;
  try {
    run([&](LDAP* ld) {
      failure.clear();
      berval* rawId = nullptr;
      int code = ldap_txn_start_s(ld, nullptr, nullptr, &rawId);
      const BervalPtr txnId(rawId);
      if (code != LDAP_SUCCESS) {
        return code;
      }
      if (txnId == nullptr) {
        return static_cast<int>(LDAP_PROTOCOL_ERROR);
      }
      LDAPControl spec{};
      spec.ldctl_oid = const_cast<char*>(LDAP_CONTROL_TXN_SPEC);  // NOLINT: read-only use
      spec.ldctl_value = *txnId;
      spec.ldctl_iscritical = 1;
      LDAPControl* controls[] = {&spec, nullptr};
      for (const DirChange& change : changes) {
        code = sendInTransaction(ld, change, controls);
        if (code != LDAP_SUCCESS && code != LDAP_TXN_SPECIFY_OKAY) {
          failure = describe(ld, code) + " (" + change.dn + ")";
          if (!connectionLost(code)) {
            ldap_txn_end_s(ld, 0, txnId.get(), nullptr, nullptr, nullptr);
          }
          return code;
        }
      }
      // No failed-request id asked for: libldap 2.5 cannot decode a commit answer for it.
      return ldap_txn_end_s(ld, 1, txnId.get(), nullptr, nullptr, nullptr);
    });
  } catch (const DirectoryError& e) {
    if (!failure.empty()) {
      throw DirectoryError(e.code(), failure);
    }
    throw;
  }
}

void LdapDirectory::setPassword(const std::string& dn, const std::string& password) {
  run([&](LDAP* ld) {
    berval user = borrowed(dn);
    berval newPassword = borrowed(password);
    berval generated{};  // a password the server made up; none is asked for here
    const int code = ldap_passwd_s(ld, &user, nullptr, &newPassword, &generated, nullptr, nullptr);
    const BerTextPtr owned(generated.bv_val);
    return code;
  });
}

}  // namespace nvo
