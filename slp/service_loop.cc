#include "slp/service_loop.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "slp/log.h"
#include "slp/message.h"

namespace vslp {
namespace {

constexpr auto kHousekeepingInterval = std::chrono::seconds(1);
constexpr auto kInterfaceScanInterval = std::chrono::seconds(10);
constexpr size_t kMaxDatagram = 65535;
constexpr int kMaxDatagramsPerWakeup = 64;
constexpr uint32_t kGroup = 0xeffffffd;  // 239.255.255.253

}  // namespace

ServiceLoop::ServiceLoop(const DaemonSettings& settings, Agent& agent, RegistrationStore& store)
    : settings_(settings), agent_(agent), store_(store) {}

void ServiceLoop::open() {
  udp_ = openSocket(SOCK_DGRAM);
  enablePacketInfo(udp_.get());
  bindTo(udp_.get(), Endpoint{0, settings_.port});
  listener_ = openSocket(SOCK_STREAM);
  setReuseAddress(listener_.get());
  bindTo(listener_.get(), Endpoint{0, settings_.port});
  listenOn(listener_.get(), 16);
  refreshInterfaces();
}

void ServiceLoop::refreshInterfaces() {
  interfaces_ = listInterfaces();
  std::vector<uint32_t> own;
  for (const InterfaceAddress& a : interfaces_) {
    own.push_back(a.address);
  }
  agent_.setOwnAddresses(own);
  for (const InterfaceAddress& a : multicastInterfaces(interfaces_, settings_.interfaces)) {
    if (!joinGroup(udp_.get(), kGroup, a.index)) {
      logMessage(LOG_WARNING, "ServiceLoop::refreshInterfaces cannot join %s on %s: %s",
                 kMulticastGroup, a.name.c_str(), std::strerror(errno));
    }
  }
  nextInterfaceScan_ = Clock::now() + kInterfaceScanInterval;
}

bool ServiceLoop::isOwnAddress(uint32_t addr) const {
  return isLoopbackAddress(addr) ||
         std::any_of(interfaces_.begin(), interfaces_.end(),
                     [addr](const InterfaceAddress& a) { return a.address == addr; });
}

bool ServiceLoop::isLoopbackInterface(int index) const {
  return std::any_of(interfaces_.begin(), interfaces_.end(),
                     [index](const InterfaceAddress& a) { return a.index == index && a.loopback; });
}

bool ServiceLoop::acceptedOn(int interfaceIndex, uint32_t destination) const {
  if (settings_.interfaces.empty() || isLoopbackInterface(interfaceIndex) ||
      isLoopbackAddress(destination)) {
    return true;
  }
  for (const InterfaceAddress& a : interfaces_) {
    bool configured =
        std::any_of(settings_.interfaces.begin(), settings_.interfaces.end(),
                    [&a](const std::string& t) { return parseAddress(t) == a.address; });
    if (configured && (a.index == interfaceIndex || a.address == destination)) {
      return true;
    }
  }
  return false;
}

void ServiceLoop::run(int signalFd) {
  nextHousekeeping_ = Clock::now() + kHousekeepingInterval;
  logMessage(LOG_INFO, "ServiceLoop::run serving port %u", unsigned{settings_.port});
  while (true) {
    std::vector<pollfd> fds{
        {signalFd, POLLIN, 0}, {udp_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    for (const auto& c : connections_) {
      short events =
          static_cast<short>((c->wantsRead() ? POLLIN : 0) | (c->wantsWrite() ? POLLOUT : 0));
      fds.push_back({c->fd(), events, 0});
    }
    auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextHousekeeping_ - Clock::now());
    pollFor(fds, std::max(wait, std::chrono::milliseconds(0)) + std::chrono::milliseconds(1));
    if ((fds[0].revents & POLLIN) != 0 && !handleSignals(signalFd)) {
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      serveUdp();
    }
    // Connections first (their pollfd entries match connections_ by position), then accept.
    std::vector<bool> keep(connections_.size(), true);
    for (size_t i = 0; i < connections_.size(); ++i) {
      keep[i] = serveConnection(*connections_[i], fds[3 + i].revents);
    }
    size_t index = 0;
    std::erase_if(connections_, [&](const auto&) { return !keep[index++]; });
    if ((fds[2].revents & POLLIN) != 0) {
      acceptTcp();
    }
    Clock::time_point now = Clock::now();
    if (now >= nextHousekeeping_) {
      housekeeping(now);
    }
  }
}

bool ServiceLoop::handleSignals(int signalFd) {
  unsigned char signals[16];
  long n = ::read(signalFd, signals, sizeof signals);
  for (long i = 0; i < n; ++i) {
    if (signals[i] == SIGTERM || signals[i] == SIGINT) {
      logMessage(LOG_INFO, "ServiceLoop::handleSignals stopping on signal %d", signals[i]);
      return false;
    }
    if (signals[i] == SIGHUP) {
      logMessage(LOG_INFO, "ServiceLoop::handleSignals re-reading interfaces");
      refreshInterfaces();
      housekeeping(Clock::now());
    }
  }
  return true;
}

void ServiceLoop::housekeeping(Clock::time_point now) {
  if (size_t n = store_.expire(now); n > 0) {
    logMessage(LOG_INFO, "ServiceLoop::housekeeping %zu registrations expired", n);
  }
  if (size_t n = store_.withdrawDead(processAlive); n > 0) {
    logMessage(LOG_INFO, "ServiceLoop::housekeeping %zu registrations of ended processes withdrawn",
               n);
  }
  auto idleLimit = settings_.connectionIdleTimeout;
  std::erase_if(connections_, [&](const auto& c) { return now - c->lastActivity() > idleLimit; });
  if (now >= nextInterfaceScan_) {
    refreshInterfaces();
  }
  nextHousekeeping_ = now + kHousekeepingInterval;
}

void ServiceLoop::serveUdp() {
  for (int i = 0; i < kMaxDatagramsPerWakeup; ++i) {
    auto d = receiveDatagram(udp_.get(), kMaxDatagram);
    if (!d) {
      return;
    }
    if (d->truncated || !acceptedOn(d->interfaceIndex, d->destination) || d->from.port == 0) {
      continue;
    }
    RequestContext ctx;
    ctx.from = d->from;
    ctx.multicast = !isOwnAddress(d->destination);
    ctx.localAddress = ctx.multicast ? d->localAddress : d->destination;
    // The kernel drops datagrams that arrive from outside with a loopback or local source
    // address (martians; accept_local is off by default), so the source identifies this host.
    ctx.local = isOwnAddress(d->from.addr);
    auto reply = agent_.handle(d->data, ctx, Clock::now());
    if (reply && !sendDatagram(udp_.get(), reply->bytes, d->from, ctx.localAddress)) {
      logMessage(LOG_DEBUG, "ServiceLoop::serveUdp reply to %s failed: %s",
                 addressText(d->from.addr).c_str(), std::strerror(errno));
    }
  }
}

void ServiceLoop::acceptTcp() {
  for (int i = 0; i < 8; ++i) {
    Endpoint peer;
    auto fd = acceptConnection(listener_.get(), peer);
    if (!fd) {
      return;
    }
    uint32_t local = localEndpoint(fd->get()).addr;
    if (connections_.size() >= settings_.maxConnections || !acceptedOn(0, local)) {
      logMessage(LOG_NOTICE, "ServiceLoop::acceptTcp refused a connection from %s",
                 addressText(peer.addr).c_str());
      continue;  // closing `fd` refuses it
    }
    connections_.push_back(std::make_unique<TcpConnection>(std::move(*fd), peer, local,
                                                           isOwnAddress(peer.addr), Clock::now()));
  }
}

bool ServiceLoop::serveConnection(TcpConnection& c, short revents) {
  Clock::time_point now = Clock::now();
  if ((revents & (POLLERR | POLLNVAL)) != 0) {
    return false;
  }
  if ((revents & (POLLIN | POLLHUP)) != 0 && c.wantsRead() && !c.receive(now)) {
    return false;
  }
  while (auto message = c.takeMessage()) {
    RequestContext ctx{c.peer(), c.localAddress(), false, true, c.local()};
    auto reply = agent_.handle(*message, ctx, now);
    if (reply) {
      c.queueReply(std::move(reply->bytes), reply->endsExchange);
      if (!c.flush(now)) {
        return false;
      }
    }
  }
  if (c.wantsWrite() && (revents & POLLOUT) != 0 && !c.flush(now)) {
    return false;
  }
  return !c.done();
}

}  // namespace vslp
