// EventListener: the listener side of the event protocol, as any program outside the daemon
// speaks it. It runs a TCP listener, registers it with tolmd for named events (REGISTER),
// answers the daemon's PING probes, prints every NOTIFY it receives, acknowledges NOTIFY in
// sequential stagger mode, and deregisters (DEREGISTER) when asked to.
//
// The daemon probes the listener before it answers a REGISTER or DEREGISTER, so while waiting
// for such an answer the listener keeps serving its own socket. Everything runs on the calling
// thread, one connection at a time; every read and write is bounded by a time-out.
//
// Owns its listening socket. Output goes to the streams given, one flushed line per event.
#ifndef CLIENT_TOOLS_EVENT_LISTENER_H_
#define CLIENT_TOOLS_EVENT_LISTENER_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "client/tools/listen_socket.h"
#include "client/tools/tool_text.h"

namespace vokra {

struct ListenerConfig {
  HostPort server;                  // the daemon
  std::optional<uint32_t> address;  // network order; default: the local address of the
                                    // connection to the daemon
  uint16_t port = 0;                // listening port, host order; 0 lets the system choose
  bool forceHex = false;            // print payloads in hex even when printable
  uint64_t count = 0;               // stop serving after this many NOTIFY packets; 0: never
};

class EventListener {
 public:
  // Opens the listening socket on every local address. Throws vokra::SocketException when it
  // cannot.
  EventListener(ListenerConfig config, std::ostream& out, std::ostream& err);
  EventListener(const EventListener&) = delete;
  EventListener& operator=(const EventListener&) = delete;

  uint16_t listeningPort() const { return socket_.port(); }

  // Sends one REGISTER per event and prints "registered EVENT at ADDRESS:PORT" for each
  // accepted one. Stops at the first failure, printing why to `err`; false then.
  bool registerAll(const std::vector<std::string>& events);

  // Serves connections until `stopFd` becomes readable or `count` NOTIFY packets were printed.
  void serve(int stopFd);

  // Sends one DEREGISTER per event registered and prints "deregistered EVENT" for each one the
  // daemon accepted. False when any failed.
  bool deregisterAll();

  uint64_t notifyCount() const { return notifications_; }

 private:
  // One REGISTER or DEREGISTER exchange, serving probes meanwhile: the daemon's result code,
  // or nullopt when the daemon could not be reached or gave no complete answer.
  std::optional<int32_t> exchange(uint32_t function, const std::string& event);
  // Reads and answers one incoming connection (PING or NOTIFY); failures go to `err`.
  void serveConnection(int fd);
  void acceptAndServe();
  void printNotification(int32_t staggerType, const std::string& name,
                         const std::vector<uint8_t>& data);

  ListenerConfig config_;
  std::ostream& out_;
  std::ostream& err_;
  ListenSocket socket_;
  uint32_t registeredAddress_ = 0;  // network order, once known
  std::vector<std::string> registered_;
  uint64_t notifications_ = 0;
};

}  // namespace vokra

#endif  // CLIENT_TOOLS_EVENT_LISTENER_H_
