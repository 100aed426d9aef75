#include "slp/agent.h"

#include <algorithm>

#include "slp/codec.h"
#include "slp/log.h"
#include "slp/process_watch.h"
#include "slp/reply_fit.h"
#include "slp/text.h"
#include "slp/wire_buffer.h"

namespace vslp {
namespace {

constexpr uint32_t kMaxTcpReply = 0xffffff;

// The reply kind that answers `function` with an error code, if any.
std::optional<Body> errorBody(uint8_t function, uint16_t code) {
  switch (static_cast<Function>(function)) {
    case Function::kSrvRqst:
      return Body{SrvRply{code, {}}};
    case Function::kSrvReg:
    case Function::kSrvDeReg:
      return Body{SrvAck{code}};
    case Function::kAttrRqst:
      return Body{AttrRply{code, "", {}}};
    case Function::kSrvTypeRqst:
      return Body{SrvTypeRply{code, ""}};
    default:
      return std::nullopt;
  }
}

std::optional<pid_t> watchedPid(const Header& h) {
  for (const Extension& e : h.extensions) {
    if (e.id == kPidWatchExtension && e.data.size() == 4) {
      uint32_t pid = (uint32_t{e.data[0]} << 24) | (uint32_t{e.data[1]} << 16) |
                     (uint32_t{e.data[2]} << 8) | e.data[3];
      if (pid > 0 && pid < 0x7fffffff) {
        return static_cast<pid_t>(pid);
      }
    }
  }
  return std::nullopt;
}

std::optional<AgentReply> withEnd(std::optional<std::vector<uint8_t>> bytes, bool ends) {
  if (!bytes) {
    return std::nullopt;
  }
  return AgentReply{std::move(*bytes), ends};
}

}  // namespace

Agent::Agent(const DaemonSettings& settings, RegistrationStore& store)
    : settings_(settings), store_(store), responder_(store, settings.scopes) {}

std::optional<AgentReply> Agent::handle(std::span<const uint8_t> request, const RequestContext& ctx,
                                        Clock::time_point now) {
  DecodeResult decoded = decode(request);
  bool multicast = ctx.multicast || (decoded.flags & kFlagMcast) != 0;
  if (!decoded.message) {
    logMessage(LOG_DEBUG, "Agent::handle dropped %zu bytes from %s: %s", request.size(),
               addressText(ctx.from.addr).c_str(), decoded.reason.c_str());
    if (!decoded.replyable || multicast) {
      return std::nullopt;
    }
    auto body = errorBody(decoded.function, decoded.error);
    if (!body) {
      return std::nullopt;
    }
    Header h{0, decoded.xid, decoded.lang, {}};
    return withEnd(encodeReply(std::move(*body), h, ctx), false);
  }
  const Message& m = *decoded.message;
  auto body = dispatch(m, ctx, multicast, now);
  if (!body) {
    return std::nullopt;
  }
  bool ends = ctx.tcp && m.function() == Function::kSrvRqst &&
              asksForDirectoryAgents(std::get<SrvRqst>(m.body));
  return withEnd(encodeReply(std::move(*body), m.header, ctx), ends);
}

std::optional<Body> Agent::dispatch(const Message& m, const RequestContext& ctx, bool multicast,
                                    Clock::time_point now) {
  QueryContext q{multicast, ctx.localAddress, now};
  switch (m.function()) {
    case Function::kSrvRqst: {
      const auto& r = std::get<SrvRqst>(m.body);
      if (multicast && listsMe(r.prList, ctx)) {
        return std::nullopt;
      }
      return responder_.answer(r, m.header.lang, q);
    }
    case Function::kAttrRqst: {
      const auto& r = std::get<AttrRqst>(m.body);
      if (multicast && listsMe(r.prList, ctx)) {
        return std::nullopt;
      }
      return responder_.answer(r, m.header.lang, q);
    }
    case Function::kSrvTypeRqst: {
      const auto& r = std::get<SrvTypeRqst>(m.body);
      if (multicast && listsMe(r.prList, ctx)) {
        return std::nullopt;
      }
      return responder_.answer(r, q);
    }
    case Function::kSrvReg:
    case Function::kSrvDeReg:
      if (multicast) {
        return std::nullopt;
      }
      if (!ctx.local) {
        logMessage(LOG_WARNING, "Agent::dispatch refused a %s from %s",
                   m.function() == Function::kSrvReg ? "registration" : "deregistration",
                   addressText(ctx.from.addr).c_str());
        return ctx.tcp ? std::optional<Body>(SrvAck{kAuthenticationFailed}) : std::nullopt;
      }
      return m.function() == Function::kSrvReg ? registration(m, ctx, now) : deregistration(m, ctx);
    default:
      return std::nullopt;  // replies and adverts are not requests to this agent
  }
}

std::optional<Body> Agent::registration(const Message& m, const RequestContext& ctx,
                                        Clock::time_point now) {
  const auto& reg = std::get<SrvReg>(m.body);
  RegisterRequest r;
  r.url = reg.entry.url;
  r.lang = m.header.lang;
  r.serviceType = reg.serviceType;
  r.scopes = reg.scopes;
  r.attrs = reg.attrs;
  r.lifetime = reg.entry.lifetime;
  r.fresh = (m.header.flags & kFlagFresh) != 0;
  r.source = addressText(ctx.from.addr);
  if (auto pid = watchedPid(m.header)) {
    r.process = captureProcess(*pid);
    if (!r.process) {
      logMessage(LOG_NOTICE, "Agent::registration process %d of %s is not running",
                 static_cast<int>(*pid), r.url.c_str());
    }
  }
  uint16_t code = store_.add(r, now);
  logMessage(code == kOk ? LOG_INFO : LOG_NOTICE, "Agent::registration %s lifetime %u: code %u",
             r.url.c_str(), unsigned{r.lifetime}, unsigned{code});
  return SrvAck{code};
}

std::optional<Body> Agent::deregistration(const Message& m, const RequestContext&) {
  const auto& d = std::get<SrvDeReg>(m.body);
  uint16_t code = store_.remove(d.entry.url, m.header.lang, d.scopes, d.tags);
  logMessage(code == kOk ? LOG_INFO : LOG_NOTICE, "Agent::deregistration %s: code %u",
             d.entry.url.c_str(), unsigned{code});
  return SrvAck{code};
}

bool Agent::listsMe(const std::string& prList, const RequestContext& ctx) const {
  for (std::string_view item : splitList(prList)) {
    // A loopback entry names every host, so it cannot name this one.
    auto addr = parseAddress(std::string(item));
    if (!addr || isLoopbackAddress(*addr)) {
      continue;
    }
    if (*addr == ctx.localAddress ||
        std::find(ownAddresses_.begin(), ownAddresses_.end(), *addr) != ownAddresses_.end()) {
      return true;
    }
  }
  return false;
}

std::optional<std::vector<uint8_t>> Agent::encodeReply(Body body, const Header& request,
                                                       const RequestContext& ctx) const {
  Message reply{Header{0, request.xid, request.lang, {}}, std::move(body)};
  size_t limit = ctx.tcp ? kMaxTcpReply : settings_.mtu;
  try {
    return encodeWithin(std::move(reply), limit);
  } catch (const WireError& e) {
    // Only a reply whose fixed part alone exceeds the limit gets here.
    logMessage(LOG_NOTICE, "Agent::encodeReply no reply to %s: %s",
               addressText(ctx.from.addr).c_str(), e.what());
    return std::nullopt;
  }
}

}  // namespace vslp
