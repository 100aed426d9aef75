// Typed views of the properties the library and the daemon use, with their bounds applied.
// Plain values; any thread.
#ifndef SLP_SETTINGS_H_
#define SLP_SETTINGS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "slp/properties.h"
#include "slp/registration_store.h"

namespace vslp {

// What the library and the daemon read alike: where and how SLP travels.
struct TransportSettings {
  uint16_t port = 427;
  size_t mtu = 1400;
  std::string scopes = "DEFAULT";
  std::vector<std::string> interfaces;  // IPv4 addresses; empty: every interface
  int multicastTtl = 255;

  // Fills the fields above from `p`, bounds and defaults applied.
  void readTransport(const Properties& p);
};

struct ClientSettings : TransportSettings {
  std::vector<std::chrono::milliseconds> multicastTimeouts;
  std::chrono::milliseconds multicastMaximumWait{2000};
  std::chrono::milliseconds unicastMaximumWait{3000};
  std::string locale = "en";
  long maxResults = -1;  // -1: unlimited
  bool watchRegistrationPid = true;
  // The agent asked directly (registrations, unicast part of lookups), host byte order; the
  // local agent on loopback unless a tool names another.
  uint32_t agent = 0x7f000001;
  // False: ask only `agent`, no multicast convergence.
  bool multicast = true;

  static ClientSettings from(const Properties& p);
};

struct DaemonSettings : TransportSettings {
  std::string pidFile;
  bool pidFileConfigured = false;  // vslpd.pidFile named in the configuration file
  std::string user = "nobody";
  StoreLimits limits;
  size_t maxConnections = 32;
  std::chrono::seconds connectionIdleTimeout{30};

  static DaemonSettings from(const Properties& p, bool pidFileConfigured);
};

// Bounds of net.slp.MTU, the largest UDP message. The smallest must still hold a header with
// a long language tag and a few URL entries; the largest is the 1400 bytes of RFC 2608, so
// the daemon can never be made to send larger datagrams (no amplification, no IP
// fragmentation).
inline constexpr long kMinMtu = 576;
inline constexpr long kMaxMtu = 1400;

}  // namespace vslp

#endif  // SLP_SETTINGS_H_
