// The command engine's narrow view of one directory connection, so that only the LDAP adapter
// (ldap_directory.cc) ever calls the client library. Every name and value crossing this seam
// is already in its final form: DNs are complete and escaped (RFC 4514), filters are complete
// and escaped (RFC 4515).
#ifndef GATEWAY_DIRECTORY_H_
#define GATEWAY_DIRECTORY_H_

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace nvo {

// A failed directory operation: `code` is the LDAP result code (RFC 4511; negative for the
// client library's own codes such as -1 server down), what() the library's text followed by
// the server's diagnostic message when it sent one.
class DirectoryError : public std::runtime_error {
 public:
  DirectoryError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// One attribute of an entry: its name as the server spells it and its values in order.
struct DirAttribute {
  std::string name;
  std::vector<std::string> values;
};

// One entry of a search result, attributes in the order the server sent them.
struct DirEntry {
  std::string dn;
  std::vector<DirAttribute> attributes;

  // The values of `name` (compared case-insensitively); empty when absent.
  const std::vector<std::string>& values(const std::string& name) const;
  // The first value of `name`, or empty.
  std::string first(const std::string& name) const;
};

enum class SearchScope { kBase, kOneLevel, kSubtree };

struct SearchRequest {
  std::string base;
  SearchScope scope = SearchScope::kSubtree;
  std::string filter = "(objectClass=*)";
  // Attributes to return; empty means every user attribute. Operational attributes (such as
  // entryUUID) come back only when named.
  std::vector<std::string> attributes;
  int sizeLimit = 0;  // 0: the server's limit
};

struct Modification {
  enum class Op { kAdd, kDelete, kReplace };
  Op op = Op::kAdd;
  std::string attribute;
  std::vector<std::string> values;  // kDelete with no values removes the attribute
};

// One change of an all-or-nothing group (Directory::applyAtomically).
struct DirChange {
  enum class Kind { kAdd, kModify, kDelete };
  Kind kind = Kind::kAdd;
  std::string dn;
  std::vector<DirAttribute> attributes;  // kAdd: the new entry's attributes
  std::vector<Modification> changes;     // kModify: the modifications
};

// One bound connection. Calls block for at most the adapter's operation time-out and then
// throw DirectoryError. An implementation that loses its connection re-opens and re-binds it
// once, transparently, and retries the operation once. Not thread-safe.
class Directory {
 public:
  virtual ~Directory() = default;

  // Entries matching the request; a base that does not exist throws (noSuchObject, 32).
  virtual std::vector<DirEntry> search(const SearchRequest& request) = 0;
  virtual void add(const std::string& dn, const std::vector<DirAttribute>& attributes) = 0;
  virtual void modify(const std::string& dn, const std::vector<Modification>& changes) = 0;
  // Modify-DN: a new RDN (escaped, "cn=x") and, when not empty, a new superior DN; the old RDN
  // value is removed.
  virtual void rename(const std::string& dn, const std::string& newRdn,
                      const std::string& newSuperior) = 0;
  // Deletes one leaf entry.
  virtual void remove(const std::string& dn) = 0;
  // Applies every change, in order, or none: one LDAP transaction (RFC 5805), so that a reader
  // sees the directory as it was before or as it is after, never in between. A failed change
  // aborts the transaction and throws its DirectoryError; nothing has changed then.
  virtual void applyAtomically(const std::vector<DirChange>& changes) = 0;
  // Sets the password of `dn` through the Password Modify extended operation, so the server
  // stores it hashed.
  virtual void setPassword(const std::string& dn, const std::string& password) = 0;
  // The DN this connection is bound as (the session's own object); empty when anonymous.
  virtual std::string boundDn() const = 0;
};

}  // namespace nvo

#endif  // GATEWAY_DIRECTORY_H_
