#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halbrin {

// One attribute of a directory entry: its name as written and its values in order.
struct Attribute {
  std::string name;
  std::vector<std::string> values;
};

// Protocol result codes the tool tells apart; every other code is a failure.
inline constexpr int kResultSuccess = 0;
inline constexpr int kResultAlreadyExists = 68;

// The tool's narrow view of one LDAP session, so that the steps never touch the client library.
// An implementation owns its session handle and releases it on destruction (unbinding if
// unbind() was not called). Not thread-safe; the tool uses one connection from one thread.
class DirectoryConnection {
 public:
  virtual ~DirectoryConnection() = default;

  // Simple bind as `dn` with `password`. Returns true when the server accepted them.
  virtual bool bind(const std::string& dn, const std::string& password) = 0;

  // Base-scope search of the root DSE (empty base, filter "(objectclass=*)") asking for the
  // `wanted` attributes with their values. Returns the attributes of the first entry in the
  // order the server sent them (empty when there is no entry); std::nullopt when the search
  // fails.
  virtual std::optional<std::vector<Attribute>> readRootDse(
      const std::vector<std::string>& wanted) = 0;

  // Adds the entry `dn` with `attributes` (every value added as new). Returns the protocol
  // result code: kResultSuccess, kResultAlreadyExists or any other code the library reports.
  virtual int addEntry(const std::string& dn, const std::vector<Attribute>& attributes) = 0;

  // Lets the library write its report of the last failed operation, named `operation`, to
  // standard error.
  virtual void reportError(const std::string& operation) = 0;

  // Ends the session. Returns the library's result (0 on success). The session is gone
  // afterwards whatever the result; no other method may be called.
  virtual int unbind() = 0;
};

// Creates a session handle for `host` and `port`. Returns nullptr when the library gives no
// handle. Whether any traffic happens before bind() is the implementation's business.
using ConnectionOpener =
    std::function<std::unique_ptr<DirectoryConnection>(const std::string& host, int port)>;

}  // namespace halbrin
