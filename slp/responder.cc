#include "slp/responder.h"

#include <set>

#include "slp/attr_list.h"
#include "slp/predicate.h"
#include "slp/socket_ops.h"
#include "slp/text.h"

namespace vslp {
namespace {

// An error answer: a body of the reply kind carrying `code` for unicast, silence for
// multicast.
template <typename Reply>
std::optional<Body> fail(uint16_t code, const QueryContext& ctx) {
  if (ctx.multicast) {
    return std::nullopt;
  }
  Reply r;
  r.error = code;
  return Body{r};
}

constexpr const char* kDirectoryAgent = "directory-agent";
constexpr const char* kServiceAgent = "service-agent";

}  // namespace

bool asksForDirectoryAgents(const SrvRqst& request) {
  return normalizeServiceType(request.serviceType) == kDirectoryAgent;
}

Responder::Responder(const RegistrationStore& store, std::string scopes)
    : store_(store), scopes_(std::move(scopes)) {}

bool Responder::inScope(const Registration& r, const std::string& requestScopes,
                        Clock::time_point now) const {
  return !r.expired(now) && listsIntersect(requestScopes, r.scopes);
}

std::optional<Body> Responder::answer(const SrvRqst& request, const std::string& lang,
                                      const QueryContext& ctx) const {
  std::string type = normalizeServiceType(request.serviceType);
  if (type.empty()) {
    return fail<SrvRply>(kParseError, ctx);
  }
  if (!request.spi.empty()) {
    return fail<SrvRply>(kAuthenticationUnknown, ctx);
  }
  if (asksForDirectoryAgents(request)) {
    // Not a directory agent: a unicast question (other libraries ask the local agent for
    // known DAs before each lookup) gets an empty answer, a multicast one none.
    return fail<SrvRply>(kOk, ctx);
  }
  if (type == kServiceAgent) {
    return serviceAgentAdvert(request, ctx);
  }
  if (!listsIntersect(request.scopes, scopes_)) {
    return fail<SrvRply>(kScopeNotSupported, ctx);
  }
  auto predicate = Predicate::parse(request.predicate);
  if (!predicate) {
    return fail<SrvRply>(kParseError, ctx);
  }
  SrvRply reply;
  std::set<std::string> seenUrls;
  std::string language = primaryLanguage(lang);
  bool inLanguage = false;
  bool inOtherLanguage = false;
  for (const Registration& r : store_.all()) {
    if (!inScope(r, request.scopes, ctx.now) ||
        !serviceTypeMatches(request.serviceType, r.serviceType)) {
      continue;
    }
    bool sameLanguage = primaryLanguage(r.lang) == language;
    inLanguage = inLanguage || sameLanguage;
    inOtherLanguage = inOtherLanguage || !sameLanguage;
    // Without a predicate the language of a registration does not matter, as long as the
    // type is registered in the request's language at all.
    if (!predicate->matchesAll() && (!sameLanguage || !predicate->matches(r.attrs))) {
      continue;
    }
    if (seenUrls.insert(r.url).second) {
      reply.urls.push_back(UrlEntry{r.remaining(ctx.now), r.url, {}});
    }
  }
  // RFC 2608: the type is registered in this scope, but not in the requested language.
  if (!inLanguage && inOtherLanguage) {
    return fail<SrvRply>(kLanguageNotSupported, ctx);
  }
  if (reply.urls.empty() && ctx.multicast) {
    return std::nullopt;
  }
  return Body{reply};
}

std::optional<Body> Responder::serviceAgentAdvert(const SrvRqst& request,
                                                  const QueryContext& ctx) const {
  if (!splitList(request.scopes).empty() && !listsIntersect(request.scopes, scopes_)) {
    return fail<SrvRply>(kScopeNotSupported, ctx);
  }
  auto predicate = Predicate::parse(request.predicate);
  if (!predicate) {
    return fail<SrvRply>(kParseError, ctx);
  }
  if (!predicate->matches(AttributeList())) {
    return fail<SrvRply>(kOk, ctx);
  }
  uint32_t self = ctx.localAddress != 0 ? ctx.localAddress : 0x7f000001;
  return Body{SaAdvert{"service:service-agent://" + addressText(self), scopes_, "", {}}};
}

std::optional<Body> Responder::answer(const AttrRqst& request, const std::string& lang,
                                      const QueryContext& ctx) const {
  if (trim(request.url).empty()) {
    return fail<AttrRply>(kParseError, ctx);
  }
  if (!request.spi.empty()) {
    return fail<AttrRply>(kAuthenticationUnknown, ctx);
  }
  if (!listsIntersect(request.scopes, scopes_)) {
    return fail<AttrRply>(kScopeNotSupported, ctx);
  }
  if (!isValidTagList(request.tags)) {
    return fail<AttrRply>(kParseError, ctx);
  }
  if (request.url.find("://") != std::string::npos) {
    return attributesOfUrl(request, lang, ctx);
  }
  std::vector<const AttributeList*> lists;
  for (const Registration& r : store_.all()) {
    if (inScope(r, request.scopes, ctx.now) && serviceTypeMatches(request.url, r.serviceType)) {
      lists.push_back(&r.attrs);
    }
  }
  std::string attrs = AttributeList::mergeAll(lists).select(request.tags).toWire();
  if (attrs.empty() && ctx.multicast) {
    return std::nullopt;
  }
  return Body{AttrRply{kOk, attrs, {}}};
}

std::optional<Body> Responder::attributesOfUrl(const AttrRqst& request, const std::string& lang,
                                               const QueryContext& ctx) const {
  const Registration* other = nullptr;
  for (const Registration& r : store_.all()) {
    if (r.url != request.url || !inScope(r, request.scopes, ctx.now)) {
      continue;
    }
    if (!equalFolded(r.lang, lang)) {
      other = &r;
      continue;
    }
    std::string attrs = r.attrs.select(request.tags).toWire();
    if (attrs.empty() && ctx.multicast) {
      return std::nullopt;
    }
    return Body{AttrRply{kOk, attrs, {}}};
  }
  if (other != nullptr) {
    return fail<AttrRply>(kLanguageNotSupported, ctx);
  }
  return fail<AttrRply>(kOk, ctx);
}

std::optional<Body> Responder::answer(const SrvTypeRqst& request, const QueryContext& ctx) const {
  if (!listsIntersect(request.scopes, scopes_)) {
    return fail<SrvTypeRply>(kScopeNotSupported, ctx);
  }
  std::vector<std::string> types;
  std::set<std::string> seen;
  for (const Registration& r : store_.all()) {
    if (!inScope(r, request.scopes, ctx.now)) {
      continue;
    }
    if (request.namingAuthority &&
        namingAuthorityOf(r.serviceType) != fold(*request.namingAuthority)) {
      continue;
    }
    if (seen.insert(normalizeServiceType(r.serviceType)).second) {
      types.push_back(r.serviceType);
    }
  }
  if (types.empty() && ctx.multicast) {
    return std::nullopt;
  }
  std::string list;
  for (const std::string& t : types) {
    list += (list.empty() ? "" : ",") + t;
  }
  return Body{SrvTypeRply{kOk, list}};
}

}  // namespace vslp
