#include "slp/registration_store.h"

#include <algorithm>

#include "slp/message.h"
#include "slp/srv_url.h"
#include "slp/text.h"

namespace vslp {
namespace {

bool isServiceUrlType(const std::string& type) {
  return fold(type).rfind("service:", 0) == 0;
}

}  // namespace

uint16_t Registration::remaining(Clock::time_point now) const {
  if (lifetime == kLifetimeForever) {
    return kLifetimeForever;
  }
  auto end = registered + std::chrono::seconds(lifetime);
  if (now >= end) {
    return 0;
  }
  auto left = std::chrono::ceil<std::chrono::seconds>(end - now).count();
  return static_cast<uint16_t>(std::min<long long>(left, lifetime));
}

bool Registration::expired(Clock::time_point now) const {
  return lifetime != kLifetimeForever && remaining(now) == 0;
}

RegistrationStore::RegistrationStore(StoreLimits limits, std::string scopes)
    : limits_(limits), scopes_(std::move(scopes)) {}

std::vector<Registration>::iterator RegistrationStore::findEntry(const std::string& url,
                                                                 const std::string& lang) {
  return std::find_if(entries_.begin(), entries_.end(), [&](const Registration& r) {
    return r.url == url && equalFolded(r.lang, lang);
  });
}

size_t RegistrationStore::countFrom(const std::string& source) const {
  return static_cast<size_t>(std::count_if(
      entries_.begin(), entries_.end(), [&](const Registration& r) { return r.source == source; }));
}

uint16_t RegistrationStore::validate(const RegisterRequest& request) const {
  if (request.lifetime == 0 || request.url.empty() || request.url.size() > limits_.maxUrlLength ||
      request.attrs.size() > limits_.maxAttrLength || !parseServiceUrl(request.url)) {
    return kInvalidRegistration;
  }
  if (normalizeServiceType(request.serviceType).empty()) {
    return kInvalidRegistration;
  }
  // A service: URL carries its own type; the declared type must be that type or its
  // abstract type.
  std::string urlType = serviceTypeOfUrl(request.url);
  if (isServiceUrlType(urlType) && !serviceTypeMatches(request.serviceType, urlType)) {
    return kInvalidRegistration;
  }
  if (!AttributeList::parse(request.attrs)) {
    return kInvalidRegistration;
  }
  if (!listIsSubset(request.scopes, scopes_)) {
    return kScopeNotSupported;
  }
  return kOk;
}

uint16_t RegistrationStore::add(const RegisterRequest& request, Clock::time_point now) {
  if (uint16_t error = validate(request); error != kOk) {
    return error;
  }
  AttributeList attrs = *AttributeList::parse(request.attrs);
  auto it = findEntry(request.url, request.lang);
  if (!request.fresh) {
    if (it == entries_.end() || !serviceTypeMatches(request.serviceType, it->serviceType)) {
      return kInvalidUpdate;
    }
    if (!listIsSubset(request.scopes, it->scopes) || !listIsSubset(it->scopes, request.scopes)) {
      return kScopeNotSupported;
    }
    AttributeList merged = it->attrs;
    merged.update(attrs);
    if (merged.toWire().size() > limits_.maxAttrLength) {
      return kInvalidRegistration;
    }
    it->attrs = std::move(merged);
    it->lifetime = request.lifetime;
    it->registered = now;
    return kOk;
  }
  if (it == entries_.end() &&
      (entries_.size() >= limits_.maxTotal || countFrom(request.source) >= limits_.maxPerSource)) {
    return kInternalError;
  }
  std::string urlType = serviceTypeOfUrl(request.url);
  Registration r{request.url,
                 request.lang,
                 isServiceUrlType(urlType) ? urlType : request.serviceType,
                 request.scopes,
                 std::move(attrs),
                 request.lifetime,
                 now,
                 request.source,
                 request.process};
  if (it == entries_.end()) {
    entries_.push_back(std::move(r));
  } else {
    *it = std::move(r);
  }
  return kOk;
}

uint16_t RegistrationStore::remove(const std::string& url, const std::string& lang,
                                   const std::string& scopes, const std::string& tags) {
  auto sameUrl = [&url](const Registration& r) { return r.url == url; };
  auto first = std::find_if(entries_.begin(), entries_.end(), sameUrl);
  if (first == entries_.end()) {
    return kInvalidRegistration;
  }
  if (!listIsSubset(scopes, first->scopes) || !listIsSubset(first->scopes, scopes)) {
    return kScopeNotSupported;
  }
  if (splitList(tags).empty()) {
    std::erase_if(entries_, sameUrl);
    return kOk;
  }
  if (!isValidTagList(tags)) {
    return kParseError;
  }
  auto it = findEntry(url, lang);
  if (it == entries_.end()) {
    return kInvalidRegistration;
  }
  it->attrs.remove(tags);
  return kOk;
}

size_t RegistrationStore::expire(Clock::time_point now) {
  return std::erase_if(entries_, [now](const Registration& r) { return r.expired(now); });
}

size_t RegistrationStore::withdrawDead(const std::function<bool(const ProcessRef&)>& alive) {
  return std::erase_if(entries_,
                       [&alive](const Registration& r) { return r.process && !alive(*r.process); });
}

}  // namespace vslp
