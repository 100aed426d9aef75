#include "slp/client.h"

#include <unistd.h>

#include <random>
#include <set>

#include "slp/codec.h"
#include "slp/lookup.h"
#include "slp/predicate.h"
#include "slp/srv_url.h"
#include "slp/tcp_exchange.h"
#include "slp/text.h"

namespace vslp {
namespace {

uint16_t randomXid() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<uint16_t>(std::uniform_int_distribution<int>(1, 0xffff)(generator));
}

// The RFC form of a requested type: "tolm.x" is sent as "service:tolm.x".
std::string wireServiceType(const std::string& type) {
  std::string t(trim(type));
  return fold(t).rfind("service:", 0) == 0 ? t : "service:" + t;
}

Extension pidExtension() {
  auto pid = static_cast<uint32_t>(::getpid());
  return Extension{kPidWatchExtension,
                   {static_cast<uint8_t>(pid >> 24), static_cast<uint8_t>(pid >> 16),
                    static_cast<uint8_t>(pid >> 8), static_cast<uint8_t>(pid)}};
}

}  // namespace

SLPError apiError(uint16_t code) {
  switch (code) {
    case kOk:
      return SLP_OK;
    case kLanguageNotSupported:
    case kParseError:
    case kInvalidRegistration:
    case kScopeNotSupported:
    case kAuthenticationAbsent:
    case kAuthenticationFailed:
    case kInvalidUpdate:
    case kRefreshRejected:
      return static_cast<SLPError>(-static_cast<int>(code));
    case kAuthenticationUnknown:
      return SLP_AUTHENTICATION_FAILED;
    case kVerNotSupported:
    case kOptionNotUnderstood:
    case kMsgNotSupported:
      return SLP_NOT_IMPLEMENTED;
    default:
      return SLP_INTERNAL_SYSTEM_ERROR;
  }
}

Client::Client(std::string lang, ClientSettings settings)
    : lang_(std::move(lang)), settings_(std::move(settings)) {}

std::string Client::scopesOr(const std::string& scopes) const {
  return splitList(scopes).empty() ? settings_.scopes : scopes;
}

SLPError Client::exchangeWithLocalAgent(Message request, const RegReport& report) {
  request.header.xid = randomXid();
  int error = 0;
  auto reply = TcpExchange::run(Endpoint{settings_.agent, settings_.port}, encode(request),
                                settings_.unicastMaximumWait, error);
  if (!reply) {
    return error == ETIMEDOUT ? SLP_NETWORK_TIMED_OUT
           : error == EPROTO  ? SLP_NETWORK_ERROR
                              : SLP_NETWORK_INIT_FAILED;
  }
  DecodeResult d = decode(*reply);
  if (!d.message || d.message->header.xid != request.header.xid ||
      d.message->function() != Function::kSrvAck) {
    return SLP_NETWORK_ERROR;
  }
  report(apiError(std::get<SrvAck>(d.message->body).error));
  return SLP_OK;
}

SLPError Client::registerService(const std::string& url, uint16_t lifetime, const std::string& type,
                                 const std::string& attrs, bool fresh, const RegReport& report) {
  auto parsed = parseServiceUrl(url);
  if (!parsed) {
    return SLP_INVALID_REGISTRATION;
  }
  bool serviceUrl = fold(parsed->type).rfind("service:", 0) == 0;
  std::string srvType = serviceUrl || trim(type).empty() ? parsed->type : std::string(trim(type));
  SrvReg reg{UrlEntry{lifetime, url, {}}, srvType, settings_.scopes, attrs, {}};
  Message m{Header{static_cast<uint16_t>(fresh ? kFlagFresh : 0), 0, lang_, {}}, reg};
  if (settings_.watchRegistrationPid) {
    m.header.extensions.push_back(pidExtension());
  }
  return exchangeWithLocalAgent(std::move(m), report);
}

SLPError Client::deregisterService(const std::string& url, const std::string& tags,
                                   const RegReport& report) {
  if (!parseServiceUrl(url)) {
    return SLP_INVALID_REGISTRATION;
  }
  SrvDeReg dereg{settings_.scopes, UrlEntry{0, url, {}}, tags};
  return exchangeWithLocalAgent(Message{Header{0, 0, lang_, {}}, dereg}, report);
}

SLPError Client::findServices(const std::string& type, const std::string& scopes,
                              const std::string& filter, const UrlCallback& callback) {
  if (!Predicate::parse(filter)) {
    return SLP_PARSE_ERROR;
  }
  SrvRqst rq{"", wireServiceType(type), scopesOr(scopes), filter, ""};
  Lookup lookup(settings_, Message{Header{0, 0, lang_, {}}, rq},
                {Function::kSrvRply, Function::kSaAdvert, Function::kDaAdvert});
  std::set<std::string> seen;
  bool callerStopped = false;
  auto deliver = [&](const std::string& url, uint16_t lifetime) {
    if (!seen.insert(url).second) {
      return true;
    }
    if (settings_.maxResults >= 0 && seen.size() > static_cast<size_t>(settings_.maxResults)) {
      return false;
    }
    callerStopped = callback(url.c_str(), lifetime, SLP_OK) == SLP_FALSE;
    return !callerStopped;
  };
  auto outcome = lookup.run([&](const Message& reply) {
    if (const auto* r = std::get_if<SrvRply>(&reply.body)) {
      for (const UrlEntry& e : r->urls) {
        if (!deliver(e.url, e.lifetime)) {
          return false;
        }
      }
      return true;
    }
    if (const auto* sa = std::get_if<SaAdvert>(&reply.body)) {
      return deliver(sa->url, 0);
    }
    const auto& da = std::get<DaAdvert>(reply.body);
    return da.error != kOk || deliver(da.url, 0);
  });
  if (outcome == Lookup::Outcome::kNetworkError) {
    return SLP_NETWORK_ERROR;
  }
  if (!callerStopped) {
    callback(nullptr, 0, SLP_LAST_CALL);
  }
  return SLP_OK;
}

SLPError Client::findAttributes(const std::string& urlOrType, const std::string& scopes,
                                const std::string& tags, const TextCallback& callback) {
  bool byUrl = urlOrType.find("://") != std::string::npos;
  std::string target = byUrl ? urlOrType : wireServiceType(urlOrType);
  AttrRqst rq{"", target, scopesOr(scopes), tags, ""};
  Lookup lookup(settings_, Message{Header{0, 0, lang_, {}}, rq}, {Function::kAttrRply});
  std::set<std::string> seen;
  bool callerStopped = false;
  auto outcome = lookup.run([&](const Message& reply) {
    const auto& r = std::get<AttrRply>(reply.body);
    if (r.error != kOk || r.attrs.empty() || !seen.insert(r.attrs).second) {
      return true;
    }
    callerStopped = callback(r.attrs.c_str(), SLP_OK) == SLP_FALSE;
    // The attributes of one URL come from the agent holding it: one answer is the answer.
    return !callerStopped && !byUrl;
  });
  if (outcome == Lookup::Outcome::kNetworkError) {
    return SLP_NETWORK_ERROR;
  }
  if (!callerStopped) {
    callback(nullptr, SLP_LAST_CALL);
  }
  return SLP_OK;
}

SLPError Client::findServiceTypes(const std::optional<std::string>& namingAuthority,
                                  const std::string& scopes, const TextCallback& callback) {
  SrvTypeRqst rq{"", namingAuthority, scopesOr(scopes)};
  Lookup lookup(settings_, Message{Header{0, 0, lang_, {}}, rq}, {Function::kSrvTypeRply});
  std::set<std::string> seen;
  bool callerStopped = false;
  auto outcome = lookup.run([&](const Message& reply) {
    const auto& r = std::get<SrvTypeRply>(reply.body);
    std::string fresh;
    for (std::string_view t : splitList(r.types)) {
      if (seen.insert(normalizeServiceType(t)).second) {
        fresh += (fresh.empty() ? "" : ",") + std::string(t);
      }
    }
    if (r.error != kOk || fresh.empty()) {
      return true;
    }
    callerStopped = callback(fresh.c_str(), SLP_OK) == SLP_FALSE;
    return !callerStopped;
  });
  if (outcome == Lookup::Outcome::kNetworkError) {
    return SLP_NETWORK_ERROR;
  }
  if (!callerStopped) {
    callback(nullptr, SLP_LAST_CALL);
  }
  return SLP_OK;
}

}  // namespace vslp
