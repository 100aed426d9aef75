#include "halbrin/ldap_connection.h"

#include <ldap.h>

#include <utility>
#include <vector>

namespace halbrin {
namespace {

struct MessageFree {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
struct BerFree {
  void operator()(BerElement* iterator) const { ber_free(iterator, 0); }
};
struct MemFree {
  void operator()(char* text) const { ldap_memfree(text); }
};
struct ValueListFree {
  void operator()(char** values) const { ldap_value_free(values); }
};

using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;
using BerPtr = std::unique_ptr<BerElement, BerFree>;
using NamePtr = std::unique_ptr<char, MemFree>;
using ValueListPtr = std::unique_ptr<char*, ValueListFree>;

// A null-terminated char* array over strings the caller keeps alive; the library's interface
// takes non-const pointers but does not write through them.
std::vector<char*> nullTerminated(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// The add request's attribute list, built over a private copy of the attributes. The copy and
// the pointer arrays are sized before any pointer is taken, so no pointer is invalidated.
class ModList {
 public:
  explicit ModList(const std::vector<Attribute>& attributes) : attributes_(attributes) {
    values_.reserve(attributes_.size());
    mods_.reserve(attributes_.size());
    for (Attribute& attribute : attributes_) {
      values_.push_back(nullTerminated(attribute.values));
      LDAPMod mod{};
      mod.mod_op = LDAP_MOD_ADD;
      mod.mod_type = attribute.name.data();
      mod.mod_values = values_.back().data();
      mods_.push_back(mod);
    }
    pointers_.reserve(mods_.size() + 1);
    for (LDAPMod& mod : mods_) {
      pointers_.push_back(&mod);
    }
    pointers_.push_back(nullptr);
  }
  ModList(const ModList&) = delete;
  ModList& operator=(const ModList&) = delete;

  LDAPMod** get() { return pointers_.data(); }

 private:
  std::vector<Attribute> attributes_;
  std::vector<std::vector<char*>> values_;
  std::vector<LDAPMod> mods_;
  std::vector<LDAPMod*> pointers_;
};

std::vector<std::string> valuesOf(LDAP* session, LDAPMessage* entry, const char* name) {
  std::vector<std::string> values;
  ValueListPtr list(ldap_get_values(session, entry, name));
  for (char** value = list.get(); value != nullptr && *value != nullptr; ++value) {
    values.emplace_back(*value);
  }
  return values;
}

}  // namespace

void LdapConnection::Unbinder::operator()(ldap* session) const {
  ldap_unbind_ext(session, nullptr, nullptr);
}

LdapConnection::LdapConnection(SessionPtr session) : session_(std::move(session)) {}

std::unique_ptr<DirectoryConnection> LdapConnection::open(const std::string& host, int port) {
  SessionPtr session(ldap_init(host.c_str(), port));
  if (!session) {
    return nullptr;
  }
  int version = LDAP_VERSION3;
  if (ldap_set_option(session.get(), LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS) {
    return nullptr;
  }
  return std::unique_ptr<DirectoryConnection>(new LdapConnection(std::move(session)));
}

bool LdapConnection::bind(const std::string& dn, const std::string& password) {
  return ldap_simple_bind_s(session_.get(), dn.c_str(), password.c_str()) == LDAP_SUCCESS;
}

std::optional<std::vector<Attribute>> LdapConnection::readRootDse(
    const std::vector<std::string>& wanted) {
  std::vector<std::string> names = wanted;
  std::vector<char*> attrs = nullTerminated(names);
  LDAPMessage* raw = nullptr;
  const int result =
      ldap_search_ext_s(session_.get(), "", LDAP_SCOPE_BASE, "(objectclass=*)", attrs.data(), 0,
                        nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &raw);
  MessagePtr message(raw);  // the library may hand back a message even on failure
  if (result != LDAP_SUCCESS) {
    return std::nullopt;
  }
  std::vector<Attribute> attributes;
  LDAPMessage* entry = ldap_first_entry(session_.get(), message.get());
  if (entry == nullptr) {
    return attributes;
  }
  BerElement* rawIterator = nullptr;
  NamePtr name(ldap_first_attribute(session_.get(), entry, &rawIterator));
  BerPtr iterator(rawIterator);
  while (name) {
    attributes.push_back({name.get(), valuesOf(session_.get(), entry, name.get())});
    name.reset(ldap_next_attribute(session_.get(), entry, iterator.get()));
  }
  return attributes;
}

int LdapConnection::addEntry(const std::string& dn, const std::vector<Attribute>& attributes) {
  ModList mods(attributes);
  return ldap_add_ext_s(session_.get(), dn.c_str(), mods.get(), nullptr, nullptr);
}

void LdapConnection::reportError(const std::string& operation) {
  ldap_perror(session_.get(), operation.c_str());
}

int LdapConnection::unbind() {
  return ldap_unbind(session_.release());
}

}  // namespace halbrin
