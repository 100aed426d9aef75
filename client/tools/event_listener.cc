#include "client/tools/event_listener.h"

#include <poll.h>

#include <chrono>
#include <span>
#include <utility>

#include <arpa/inet.h>

#include "client/inet_socket.h"
#include "client/socket_exception.h"
#include "client/socket_transfer.h"
#include "client/socket_util.h"
#include "protocol/tolm_wire.h"

namespace vokra {
namespace {

using Clock = std::chrono::steady_clock;

// Time-outs, in seconds: each whole packet read or written on a connection (one budget for
// all of its pieces), connecting to the daemon and sending it a request, and the wait for a
// REGISTER or DEREGISTER answer (the daemon first probes the listener, which may take it a
// while).
constexpr int kIoSeconds = 5;
constexpr int kConnectSeconds = 10;
constexpr auto kAnswerWait = std::chrono::seconds(30);
// NOTIFY bodies come from SIGNAL bodies of at most 4096 bytes; anything far larger is no
// notification of this protocol.
constexpr int32_t kMaxNotifyBody = 64 * 1024;
constexpr uint8_t kAck[tolm::kSequentialAckSize] = {'A', 'C', 'K', '!'};

const char* requestName(uint32_t function) {
  return function == tolm::kFuncRegister ? "REGISTER" : "DEREGISTER";
}

}  // namespace

EventListener::EventListener(ListenerConfig config, std::ostream& out, std::ostream& err)
    : config_(std::move(config)), out_(out), err_(err), socket_(0, config_.port) {}

bool EventListener::registerAll(const std::vector<std::string>& events) {
  for (const std::string& event : events) {
    const std::optional<int32_t> result = exchange(tolm::kFuncRegister, event);
    if (!result || *result != tolm::kRcOk) {
      err_ << "tolm-listen: registering " << escapeName(event) << " failed";
      if (result) {
        err_ << ": result " << *result;
      }
      err_ << std::endl;
      return false;
    }
    registered_.push_back(event);
    out_ << "registered " << escapeName(event) << " at "
         << inetAddrToString(registeredAddress_, htons(socket_.port())) << std::endl;
  }
  return true;
}

bool EventListener::deregisterAll() {
  bool allDone = true;
  for (const std::string& event : registered_) {
    const std::optional<int32_t> result = exchange(tolm::kFuncDeregister, event);
    if (result && *result == tolm::kRcOk) {
      out_ << "deregistered " << escapeName(event) << std::endl;
    } else {
      err_ << "tolm-listen: deregistering " << escapeName(event) << " failed" << std::endl;
      allDone = false;
    }
  }
  registered_.clear();
  return allDone;
}

void EventListener::serve(int stopFd) {
  while (config_.count == 0 || notifications_ < config_.count) {
    pollfd entries[2] = {{socket_.descriptor(), POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      continue;  // interrupted by a signal; the stop descriptor tells whether to end
    }
    if (entries[1].revents != 0) {
      return;
    }
    if (entries[0].revents != 0) {
      acceptAndServe();
    }
  }
}

std::optional<int32_t> EventListener::exchange(uint32_t function, const std::string& event) {
  try {
    InetSocket daemon;
    daemon.setTimeouts(kConnectSeconds);
    daemon.connect(config_.server.host, config_.server.port);
    if (registeredAddress_ == 0) {
      registeredAddress_ = config_.address.value_or(daemon.localAddress());
    }
    const std::vector<uint8_t> request =
        tolm::buildListenerRequest(function, registeredAddress_, htons(socket_.port()), event);
    if (!writeAll(daemon, request, kConnectSeconds)) {
      err_ << "tolm-listen: sending " << requestName(function) << " failed" << std::endl;
      return std::nullopt;
    }
    const auto deadline = Clock::now() + kAnswerWait;
    while (Clock::now() < deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd entries[2] = {{daemon.descriptor(), POLLIN, 0}, {socket_.descriptor(), POLLIN, 0}};
      if (::poll(entries, 2, static_cast<int>(left.count()) + 1) <= 0) {
        continue;
      }
      if (entries[1].revents != 0) {
        acceptAndServe();
      }
      if (entries[0].revents != 0) {
        tolm::HeaderBytes answer{};
        if (!readExactly(daemon, answer, kIoSeconds)) {
          return std::nullopt;
        }
        return tolm::decodeHeader(answer).length;
      }
    }
    err_ << "tolm-listen: no answer to " << requestName(function) << std::endl;
  } catch (const SocketException& e) {
    err_ << "tolm-listen: " << e.getMessage() << std::endl;
  }
  return std::nullopt;
}

void EventListener::acceptAndServe() {
  const int fd = socket_.acceptConnection();
  if (fd >= 0) {
    serveConnection(fd);
  }
}

void EventListener::serveConnection(int fd) {
  try {
    InetSocket peer(fd);
    peer.setTimeouts(kIoSeconds);
    tolm::HeaderBytes headerBytes{};
    if (!readExactly(peer, headerBytes, kIoSeconds)) {
      return;
    }
    const tolm::Header header = tolm::decodeHeader(headerBytes);
    if (header.function == tolm::kFuncPing) {
      const tolm::HeaderBytes answer = tolm::buildAnswer(tolm::kAnswerPing, tolm::kRcOk);
      writeAll(peer, answer, kIoSeconds);
      return;
    }
    if (header.function != tolm::kFuncNotify || header.length < 0 ||
        header.length > kMaxNotifyBody) {
      err_ << "tolm-listen: ignored a packet with function " << std::hex << header.function
           << std::dec << " and length " << header.length << std::endl;
      return;
    }
    std::vector<uint8_t> body(static_cast<std::size_t>(header.length));
    tolm::Notification notification;
    if (!readExactly(peer, body, kIoSeconds) ||
        tolm::parseNotify(body, notification) != tolm::ParseStatus::kOk) {
      err_ << "tolm-listen: ignored a truncated or malformed NOTIFY" << std::endl;
      return;
    }
    printNotification(notification.staggerType, notification.name, notification.data);
    if (notification.staggerType == tolm::kStaggerSequential) {
      writeAll(peer, kAck, kIoSeconds);
    }
  } catch (const SocketException& e) {
    err_ << "tolm-listen: " << e.getMessage() << std::endl;
  }
}

void EventListener::printNotification(int32_t staggerType, const std::string& name,
                                      const std::vector<uint8_t>& data) {
  ++notifications_;
  out_ << "NOTIFY event=" << escapeName(name) << " stagger=" << staggerType
       << " bytes=" << data.size() << ' ' << formatPayload(data, config_.forceHex) << std::endl;
}

}  // namespace vokra
