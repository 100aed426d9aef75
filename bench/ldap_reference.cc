#include "bench/ldap_reference.h"

#include <ldap.h>

#include <stdexcept>
#include <vector>

#include <sys/time.h>

namespace nvo_bench {

namespace {

// The attributes every gateway reply carries for an object.
const char* kHeader[] = {"entryUUID", "structuralObjectClass", "objectClass", nullptr};
const char* kNoAttributes[] = {"1.1", nullptr};
const char* kUuidOnly[] = {"entryUUID", nullptr};

void check(int code, const char* what) {
  if (code != LDAP_SUCCESS) {
    throw std::runtime_error(std::string("reference ") + what + ": " + ldap_err2string(code));
  }
}

struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using Result = std::unique_ptr<LDAPMessage, MessageFree>;

// RFC 4515 escaping of one filter value.
std::string filterValue(const std::string& value) {
  berval in{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())};
  berval out{};
  check(ldap_bv2escaped_filter_value(&in, &out), "filter escaping");
  std::string escaped(out.bv_val, out.bv_len);
  ber_memfree(out.bv_val);
  return escaped;
}

std::string firstValue(LDAP* ld, LDAPMessage* entry, const char* attribute) {
  berval** values = ldap_get_values_len(ld, entry, attribute);
  std::string text;
  if (values != nullptr && values[0] != nullptr) {
    text.assign(values[0]->bv_val, values[0]->bv_len);
  }
  ldap_value_free_len(values);
  return text;
}

}  // namespace

struct LdapReference::Connection {
  LDAP* ld = nullptr;
  ~Connection() {
    if (ld != nullptr) {
      ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
  }

  Result search(const std::string& base, int scope, const std::string& filter,
                const char** attributes, int sizeLimit = 0) {
    LDAPMessage* raw = nullptr;
    timeval limit{30, 0};
    const int code =
        ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(), const_cast<char**>(attributes),
                          0, nullptr, nullptr, &limit, sizeLimit, &raw);
    Result result(raw);
    if (code != LDAP_NO_SUCH_OBJECT) {
      check(code, "search");
    }
    return result;
  }

  // Password Modify (RFC 3062): the server stores the password hashed.
  void setPassword(const std::string& dn, const std::string& password) {
    berval user{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.data())};
    berval secret{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
    berval generated{};
    check(ldap_passwd_s(ld, &user, nullptr, &secret, &generated, nullptr, nullptr),
          "password modify");
    ber_memfree(generated.bv_val);
  }
};

LdapReference::LdapReference(const std::string& url, const std::string& dn,
                             const std::string& password, std::string base)
    : connection_(std::make_unique<Connection>()), base_(std::move(base)) {
  check(ldap_initialize(&connection_->ld, url.c_str()), "initialize");
  const int version = LDAP_VERSION3;
  ldap_set_option(connection_->ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  const timeval timeout{30, 0};
  ldap_set_option(connection_->ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  ldap_set_option(connection_->ld, LDAP_OPT_TIMEOUT, &timeout);
  berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
  check(ldap_sasl_bind_s(connection_->ld, dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                         nullptr, nullptr),
        "bind");
}

LdapReference::~LdapReference() = default;

std::string LdapReference::dnOf(const std::string& objectId) {
  Result result = connection_->search(
      base_, LDAP_SCOPE_SUBTREE, "(entryUUID=" + filterValue(objectId) + ")", kNoAttributes, 2);
  LDAPMessage* entry = result ? ldap_first_entry(connection_->ld, result.get()) : nullptr;
  if (entry == nullptr) {
    throw std::runtime_error("reference: no object " + objectId);
  }
  char* dn = ldap_get_dn(connection_->ld, entry);
  std::string text = dn == nullptr ? std::string() : dn;
  ldap_memfree(dn);
  return text;
}

std::string LdapReference::resolve(const std::string& dn) {
  Result result = connection_->search(dn, LDAP_SCOPE_BASE, "(objectClass=*)", kHeader);
  LDAPMessage* entry = result ? ldap_first_entry(connection_->ld, result.get()) : nullptr;
  return entry == nullptr ? std::string() : firstValue(connection_->ld, entry, "entryUUID");
}

std::string LdapReference::searchByMac(const std::string& containerId, const std::string& mac) {
  const std::string filter =
      "(&(objectClass=orvantacomputer)(orvantaidtype=1)(orvantaid=" + filterValue(mac) + "))";
  Result result = connection_->search(dnOf(containerId), LDAP_SCOPE_SUBTREE, filter, kHeader);
  LDAPMessage* entry = result ? ldap_first_entry(connection_->ld, result.get()) : nullptr;
  return entry == nullptr ? std::string() : firstValue(connection_->ld, entry, "entryUUID");
}

std::string LdapReference::add(const std::string& containerId, const std::string& name,
                               const std::string& password, const std::string& mac) {
  const std::string dn = "cn=" + name + "," + dnOf(containerId);
  struct Attribute {
    std::string type;
    std::vector<std::string> values;
  };
  std::vector<Attribute> attributes = {{"objectClass", {"orvantacomputer"}},
                                       {"cn", {name}},
                                       {"orvantaidtype", {"1"}},
                                       {"orvantaid", {mac}}};
  std::vector<std::vector<char*>> values;
  std::vector<LDAPMod> mods(attributes.size());
  std::vector<LDAPMod*> modPointers;
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    values.emplace_back();
    for (std::string& v : attributes[i].values) {
      values.back().push_back(v.data());
    }
    values.back().push_back(nullptr);
    mods[i].mod_op = LDAP_MOD_ADD;
    mods[i].mod_type = attributes[i].type.data();
    mods[i].mod_values = values.back().data();
    modPointers.push_back(&mods[i]);
  }
  modPointers.push_back(nullptr);
  check(ldap_add_ext_s(connection_->ld, dn.c_str(), modPointers.data(), nullptr, nullptr), "add");
  connection_->setPassword(dn, password);
  // The new objectID, read as the engine reads it: the entry's entryUUID alone.
  Result result = connection_->search(dn, LDAP_SCOPE_BASE, "(objectClass=*)", kUuidOnly);
  LDAPMessage* entry = result ? ldap_first_entry(connection_->ld, result.get()) : nullptr;
  return entry == nullptr ? std::string() : firstValue(connection_->ld, entry, "entryUUID");
}

void LdapReference::setPassword(const std::string& objectId, const std::string& password) {
  connection_->setPassword(dnOf(objectId), password);
}

std::size_t LdapReference::enumerate(const std::string& containerId) {
  return enumerate(containerId, nullptr);
}

namespace {

// Reads every header value of `entry`, as a reply writer must, and hands it to `visit`.
void readHeader(LDAP* ld, LDAPMessage* entry, const LdapReference::Visit& visit) {
  std::string objectId;
  for (const char** attribute = kHeader; *attribute != nullptr; ++attribute) {
    berval** values = ldap_get_values_len(ld, entry, *attribute);
    if (attribute == kHeader && values != nullptr && values[0] != nullptr) {
      objectId.assign(values[0]->bv_val, values[0]->bv_len);
    }
    ldap_value_free_len(values);
  }
  if (visit) {
    char* dn = ldap_get_dn(ld, entry);
    visit(dn == nullptr ? std::string() : dn, objectId);
    ldap_memfree(dn);
  }
}

}  // namespace

std::size_t LdapReference::enumerate(const std::string& containerId, const Visit& visit) {
  Result result =
      connection_->search(dnOf(containerId), LDAP_SCOPE_ONELEVEL, "(objectClass=*)", kHeader);
  std::size_t count = 0;
  LDAP* ld = connection_->ld;
  for (LDAPMessage* entry = result ? ldap_first_entry(ld, result.get()) : nullptr; entry != nullptr;
       entry = ldap_next_entry(ld, entry)) {
    readHeader(ld, entry, visit);
    ++count;
  }
  return count;
}

void LdapReference::enumerateBase(const Visit& visit) {
  const char* contextsOnly[] = {"namingContexts", nullptr};
  Result root = connection_->search("", LDAP_SCOPE_BASE, "(objectClass=*)", contextsOnly);
  LDAP* ld = connection_->ld;
  LDAPMessage* rootEntry = root ? ldap_first_entry(ld, root.get()) : nullptr;
  berval** contexts =
      rootEntry == nullptr ? nullptr : ldap_get_values_len(ld, rootEntry, "namingContexts");
  for (berval** context = contexts; context != nullptr && *context != nullptr; ++context) {
    const std::string dn((*context)->bv_val, (*context)->bv_len);
    Result result = connection_->search(dn, LDAP_SCOPE_BASE, "(objectClass=*)", kHeader);
    if (LDAPMessage* entry = result ? ldap_first_entry(ld, result.get()) : nullptr) {
      readHeader(ld, entry, visit);
    }
  }
  ldap_value_free_len(contexts);
}

}  // namespace nvo_bench
