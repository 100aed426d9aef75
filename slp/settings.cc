#include "slp/settings.h"

#include "slp/text.h"

namespace vslp {
namespace {

std::vector<std::string> addressList(const std::string& text) {
  std::vector<std::string> out;
  for (std::string_view item : splitList(text)) {
    out.emplace_back(item);
  }
  return out;
}

}  // namespace

void TransportSettings::readTransport(const Properties& p) {
  port = static_cast<uint16_t>(p.getInt("net.slp.port", 427, 1, 65535));
  mtu = static_cast<size_t>(p.getInt("net.slp.MTU", kMaxMtu, kMinMtu, kMaxMtu));
  scopes = p.getString("net.slp.useScopes");
  if (splitList(scopes).empty()) {
    scopes = "DEFAULT";
  }
  interfaces = addressList(p.getString("net.slp.interfaces"));
  multicastTtl = static_cast<int>(p.getInt("net.slp.multicastTTL", 255, 1, 255));
}

ClientSettings ClientSettings::from(const Properties& p) {
  ClientSettings s;
  s.readTransport(p);
  for (long ms :
       p.getIntList("net.slp.multicastTimeouts", {500, 750, 1000, 1500, 2000}, 1, 60000)) {
    s.multicastTimeouts.emplace_back(ms);
  }
  s.multicastMaximumWait =
      std::chrono::milliseconds(p.getInt("net.slp.multicastMaximumWait", 2000, 1, 600000));
  s.unicastMaximumWait =
      std::chrono::milliseconds(p.getInt("net.slp.unicastMaximumWait", 3000, 1, 600000));
  s.locale = p.getString("net.slp.locale");
  if (!isValidLanguageTag(s.locale)) {
    s.locale = "en";
  }
  s.maxResults = p.getInt("net.slp.maxResults", -1, -1, 1000000);
  s.watchRegistrationPid = p.getBool("net.slp.watchRegistrationPID", true);
  return s;
}

DaemonSettings DaemonSettings::from(const Properties& p, bool pidFileConfigured) {
  DaemonSettings s;
  s.readTransport(p);
  s.pidFile = p.getString("vslpd.pidFile");
  s.pidFileConfigured = pidFileConfigured;
  s.user = p.getString("vslpd.user");
  s.limits.maxTotal = static_cast<size_t>(p.getInt("vslpd.maxRegistrations", 4096, 1, 100000));
  s.limits.maxPerSource =
      static_cast<size_t>(p.getInt("vslpd.maxRegistrationsPerHost", 1024, 1, 100000));
  s.maxConnections = static_cast<size_t>(p.getInt("vslpd.maxConnections", 32, 1, 1024));
  s.connectionIdleTimeout =
      std::chrono::seconds(p.getInt("vslpd.connectionIdleTimeout", 30, 1, 3600));
  return s;
}

}  // namespace vslp
