// RegistrationStore: the services this host's agent advertises, keyed by URL and language
// (RFC 2608 section 9.3). It applies the registration rules: a FRESH registration replaces an
// earlier one of the same URL and language, an incremental one updates attributes of an
// existing registration with the same type and scopes; lifetimes count down from the last
// registration except SLP_LIFETIME_MAXIMUM (65535), which never expires; registrations bound
// to a process are withdrawn once it is gone. Sizes and counts are bounded (total and per
// registering host). Not thread-safe: owned and used by the daemon's service loop.
#ifndef SLP_REGISTRATION_STORE_H_
#define SLP_REGISTRATION_STORE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "slp/attr_list.h"
#include "slp/process_watch.h"

namespace vslp {

using Clock = std::chrono::steady_clock;

inline constexpr uint16_t kLifetimeForever = 65535;

struct Registration {
  std::string url;
  std::string lang;
  std::string serviceType;  // as registered
  std::string scopes;       // as registered
  AttributeList attrs;
  uint16_t lifetime = 0;
  Clock::time_point registered;
  std::string source;  // address of the registering host
  std::optional<ProcessRef> process;

  // Seconds left at `now`, rounded up; 65535 for registrations that never expire.
  uint16_t remaining(Clock::time_point now) const;
  bool expired(Clock::time_point now) const;
};

struct StoreLimits {
  size_t maxTotal = 4096;
  size_t maxPerSource = 1024;
  size_t maxUrlLength = 4096;
  size_t maxAttrLength = 16384;
};

// What a SrvReg asks for.
struct RegisterRequest {
  std::string url;
  std::string lang;
  std::string serviceType;
  std::string scopes;
  std::string attrs;
  uint16_t lifetime = 0;
  bool fresh = true;
  std::string source;
  std::optional<ProcessRef> process;
};

class RegistrationStore {
 public:
  // `scopes`: the comma list of scopes this agent serves; every registration must lie in it.
  RegistrationStore(StoreLimits limits, std::string scopes);

  // Applies a registration. Returns the protocol error code: kOk, kInvalidRegistration (zero
  // lifetime, URL or attributes malformed or too long, service type not the URL's),
  // kScopeNotSupported, kInvalidUpdate (incremental update of an unknown URL or with another
  // type), kInternalError (a limit reached).
  uint16_t add(const RegisterRequest& request, Clock::time_point now);

  // Applies a deregistration. With an empty tag list every language of `url` is removed,
  // otherwise the listed attributes of the registration in `lang`. Returns kOk,
  // kInvalidRegistration (not registered), kScopeNotSupported (scopes differ from the
  // registration's) or kParseError (bad tag list).
  uint16_t remove(const std::string& url, const std::string& lang, const std::string& scopes,
                  const std::string& tags);

  // Drops expired registrations; returns how many.
  size_t expire(Clock::time_point now);

  // Drops registrations whose process `alive` reports gone; returns how many.
  size_t withdrawDead(const std::function<bool(const ProcessRef&)>& alive);

  // Live registrations, in registration order.
  const std::vector<Registration>& all() const { return entries_; }
  size_t size() const { return entries_.size(); }
  const std::string& scopes() const { return scopes_; }

 private:
  uint16_t validate(const RegisterRequest& request) const;
  std::vector<Registration>::iterator findEntry(const std::string& url, const std::string& lang);
  size_t countFrom(const std::string& source) const;

  StoreLimits limits_;
  std::string scopes_;
  std::vector<Registration> entries_;
};

}  // namespace vslp

#endif  // SLP_REGISTRATION_STORE_H_
