#include "slp/lookup.h"

#include <poll.h>

#include <algorithm>
#include <random>

#include "slp/codec.h"
#include "slp/interfaces.h"

namespace vslp {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kGroup = 0xeffffffd;  // 239.255.255.253
constexpr size_t kMaxRetries = 8;
constexpr size_t kMaxDatagram = 65535;
constexpr int kMaxDatagramsPerWakeup = 64;

uint16_t freshXid() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<uint16_t>(std::uniform_int_distribution<int>(1, 0xffff)(generator));
}

void setPrList(Body& body, const std::string& list) {
  if (auto* r = std::get_if<SrvRqst>(&body)) {
    r->prList = list;
  } else if (auto* a = std::get_if<AttrRqst>(&body)) {
    a->prList = list;
  } else if (auto* t = std::get_if<SrvTypeRqst>(&body)) {
    t->prList = list;
  }
}

std::string join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) {
    out += (out.empty() ? "" : ",") + s;
  }
  return out;
}

}  // namespace

Lookup::Lookup(const ClientSettings& settings, Message request, std::vector<Function> replies)
    : settings_(settings), request_(std::move(request)), replies_(std::move(replies)) {
  request_.header.xid = freshXid();
}

std::vector<uint8_t> Lookup::encodeRequest(const std::vector<std::string>& prList, bool multicast) {
  Message m = request_;
  m.header.flags = multicast ? kFlagMcast : 0;
  setPrList(m.body, join(prList));
  return encode(m);
}

bool Lookup::startLocal() {
  try {
    local_ = std::make_unique<TcpExchange>(Endpoint{settings_.agent, settings_.port},
                                           encodeRequest({}, false));
  } catch (const SocketError&) {
    return false;
  }
  // Loopback connections complete (or are refused) at once; wait briefly to know whether
  // the local agent can answer before the first multicast round goes out.
  std::vector<pollfd> fds{{local_->fd(), local_->events(), 0}};
  pollFor(fds, std::chrono::milliseconds(200));
  local_->onEvents(fds[0].revents);
  if (local_->state() == TcpExchange::State::kFailed) {
    local_.reset();
    return false;
  }
  return true;
}

void Lookup::multicastRound() {
  if (interfaceAddresses_.empty()) {
    multicastDone_ = true;
    return;
  }
  std::vector<uint8_t> bytes = encodeRequest(prList_, true);
  if (bytes.size() > settings_.mtu) {
    multicastDone_ = true;  // the previous-responder list no longer fits
    return;
  }
  for (uint32_t address : interfaceAddresses_) {
    if (setMulticastInterface(udp_.get(), address) &&
        sendDatagram(udp_.get(), bytes, Endpoint{kGroup, settings_.port}, 0)) {
      multicastSent_ = true;
    }
  }
  size_t index = std::min(round_, settings_.multicastTimeouts.size() - 1);
  roundEnd_ = SteadyClock::now() + settings_.multicastTimeouts[index];
  newThisRound_ = false;
  ++round_;
}

bool Lookup::accept(const std::vector<uint8_t>& bytes, Message& out) const {
  DecodeResult d = decode(bytes);
  if (!d.message || d.message->header.xid != request_.header.xid) {
    return false;
  }
  Function f = d.message->function();
  if (std::find(replies_.begin(), replies_.end(), f) == replies_.end()) {
    return false;
  }
  out = std::move(*d.message);
  return true;
}

bool Lookup::onDatagram(const Handler& handler) {
  for (int i = 0; i < kMaxDatagramsPerWakeup; ++i) {
    auto d = receiveDatagram(udp_.get(), kMaxDatagram);
    if (!d) {
      return true;
    }
    Message reply;
    if (d->truncated || !accept(d->data, reply)) {
      continue;
    }
    if (std::find(responders_.begin(), responders_.end(), d->from.addr) != responders_.end()) {
      continue;  // a late duplicate of an answer already taken
    }
    responders_.push_back(d->from.addr);
    prList_.push_back(addressText(d->from.addr));
    newThisRound_ = true;
    bool overflow = (reply.header.flags & kFlagOverflow) != 0 || d->data.size() > settings_.mtu;
    if (overflow && retries_.size() < kMaxRetries) {
      try {
        retries_.push_back(std::make_unique<TcpExchange>(Endpoint{d->from.addr, settings_.port},
                                                         encodeRequest({}, false)));
      } catch (const SocketError&) {
        // Keep what the datagram held.
      }
    }
    if (!handler(reply)) {
      return false;
    }
  }
  return true;
}

bool Lookup::onExchange(TcpExchange& x, const Handler& handler) {
  if (x.state() != TcpExchange::State::kDone) {
    return true;
  }
  Message reply;
  bool keepGoing = !accept(x.reply(), reply) || handler(reply);
  return keepGoing;
}

bool Lookup::finished(SteadyClock::time_point now) const {
  if (now >= deadline_) {
    return true;
  }
  bool exchangesDone =
      (!local_ || local_->finished()) &&
      std::all_of(retries_.begin(), retries_.end(), [](const auto& x) { return x->finished(); });
  return multicastDone_ && exchangesDone;
}

bool Lookup::start() {
  SteadyClock::time_point begin = SteadyClock::now();
  bool localUp = startLocal();
  if (settings_.multicast) {
    for (const InterfaceAddress& a : multicastInterfaces(listInterfaces(), settings_.interfaces)) {
      interfaceAddresses_.push_back(a.address);
    }
  }
  deadline_ = begin + (interfaceAddresses_.empty() ? settings_.unicastMaximumWait
                                                   : settings_.multicastMaximumWait);
  if (localUp && isLoopbackAddress(settings_.agent)) {
    // The local agent answers by TCP; listing this host keeps it from answering again.
    // Loopback addresses name every host, so they never go into the list.
    for (const InterfaceAddress& a : listInterfaces()) {
      if (!isLoopbackAddress(a.address)) {
        prList_.push_back(addressText(a.address));
      }
    }
  }
  if (!interfaceAddresses_.empty()) {
    udp_ = openSocket(SOCK_DGRAM);
    setMulticastTtl(udp_.get(), settings_.multicastTtl);
    setMulticastLoop(udp_.get(), true);
    multicastDone_ = false;
    multicastRound();
  }
  return localUp || multicastSent_;
}

void Lookup::advanceRounds(SteadyClock::time_point now) {
  if (multicastDone_ || now < roundEnd_) {
    return;
  }
  bool quiet = !newThisRound_ && round_ >= 2;
  if (quiet || round_ >= settings_.multicastTimeouts.size()) {
    multicastDone_ = true;
  } else {
    multicastRound();
  }
}

bool Lookup::waitAndDispatch(const Handler& handler) {
  std::vector<pollfd> fds;
  std::vector<TcpExchange*> exchanges;
  if (udp_.valid()) {
    fds.push_back({udp_.get(), POLLIN, 0});
  }
  if (local_ && !local_->finished()) {
    exchanges.push_back(local_.get());
  }
  for (auto& x : retries_) {
    if (!x->finished()) {
      exchanges.push_back(x.get());
    }
  }
  for (TcpExchange* x : exchanges) {
    fds.push_back({x->fd(), x->events(), 0});
  }
  SteadyClock::time_point wakeAt = multicastDone_ ? deadline_ : std::min(roundEnd_, deadline_);
  pollFor(fds, std::chrono::ceil<std::chrono::milliseconds>(wakeAt - SteadyClock::now()));
  size_t base = udp_.valid() ? 1 : 0;
  if (udp_.valid() && (fds[0].revents & POLLIN) != 0 && !onDatagram(handler)) {
    return false;
  }
  for (size_t i = 0; i < exchanges.size(); ++i) {
    exchanges[i]->onEvents(fds[base + i].revents);
    if (!onExchange(*exchanges[i], handler)) {
      return false;
    }
  }
  return true;
}

Lookup::Outcome Lookup::run(const Handler& handler) {
  if (!start()) {
    return Outcome::kNetworkError;
  }
  while (true) {
    SteadyClock::time_point now = SteadyClock::now();
    advanceRounds(now);
    if (finished(now)) {
      return Outcome::kComplete;
    }
    if (!waitAndDispatch(handler)) {
      return Outcome::kStopped;
    }
  }
}

}  // namespace vslp
