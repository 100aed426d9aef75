// Client: the work behind one RFC 2614 handle. Registrations go to the local agent over TCP
// loopback; lookups run a Lookup (local agent plus multicast convergence). Results reach the
// caller through the callbacks given per call, with duplicates removed, and every lookup ends
// with one SLP_LAST_CALL call unless a callback returned SLP_FALSE. Copies the settings it is
// given. One operation at a time; not thread-safe (the C API serialises per handle).
#ifndef SLP_CLIENT_H_
#define SLP_CLIENT_H_

#include <slp.h>

#include <functional>
#include <optional>
#include <string>

#include "slp/message.h"
#include "slp/settings.h"

namespace vslp {

class Client {
 public:
  using RegReport = std::function<void(SLPError)>;
  using UrlCallback = std::function<SLPBoolean(const char* url, unsigned short lifetime, SLPError)>;
  using TextCallback = std::function<SLPBoolean(const char* text, SLPError)>;

  // `lang` must be a valid language tag.
  Client(std::string lang, ClientSettings settings);

  // Registers `url` with the local agent (FRESH when `fresh`). Returns SLP_OK once the agent
  // answered, after reporting its answer; SLP_INVALID_REGISTRATION for a URL that does not
  // parse; SLP_NETWORK_INIT_FAILED when no agent listens; SLP_NETWORK_TIMED_OUT when it did
  // not answer in net.slp.unicastMaximumWait.
  SLPError registerService(const std::string& url, uint16_t lifetime, const std::string& type,
                           const std::string& attrs, bool fresh, const RegReport& report);
  // Deregisters `url`, or only the attributes in `tags` when it is not empty.
  SLPError deregisterService(const std::string& url, const std::string& tags,
                             const RegReport& report);

  // Finds services. Returns SLP_PARSE_ERROR for a malformed filter and SLP_NETWORK_ERROR when
  // no agent can be asked (callback not called).
  SLPError findServices(const std::string& type, const std::string& scopes,
                        const std::string& filter, const UrlCallback& callback);
  SLPError findAttributes(const std::string& urlOrType, const std::string& scopes,
                          const std::string& tags, const TextCallback& callback);
  // `namingAuthority`: empty optional for all authorities, "" for IANA types only.
  SLPError findServiceTypes(const std::optional<std::string>& namingAuthority,
                            const std::string& scopes, const TextCallback& callback);

  const ClientSettings& settings() const { return settings_; }

 private:
  SLPError exchangeWithLocalAgent(Message request, const RegReport& report);
  std::string scopesOr(const std::string& scopes) const;

  std::string lang_;
  ClientSettings settings_;
};

// The API error for a protocol error code (RFC 2614 section 3.9).
SLPError apiError(uint16_t protocolCode);

}  // namespace vslp

#endif  // SLP_CLIENT_H_
