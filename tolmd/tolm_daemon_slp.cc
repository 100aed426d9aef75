// TolmDaemon: advertising the service through SLP and withdrawing it.
#include <vector>

#include "client/socket_util.h"
#include "daemon/slp_session.h"
#include "tolmd/daemon_log.h"
#include "tolmd/tolm_daemon.h"

namespace tolmd {
namespace {

constexpr char kServiceType[] = "tolm.x";
constexpr char kUrlPrefix[] = "service:tolm.x://";
constexpr char kAttributes[] = "(public_key=0)";
constexpr unsigned short kLifetime = 65535;

using frame::SlpSession;

void reportSlpError(int error) {
  daemonLog(kLogCrit, "tolmd: Received error error registering with SLP - %d", error);
}

}  // namespace

std::string TolmDaemon::serviceUrl(uint32_t address) const {
  return kUrlPrefix + vokra::inetAddrToString(address, listener_->port());
}

int TolmDaemon::doSlpRegister() {
  teska::NetworkInterfaces interfaces(false);
  removeStaleEntries(interfaces);
  SlpSession session(reportSlpError);
  if (session.openError() != 0) {
    daemonLog(kLogCrit, "TolmDaemon::doSlpRegister failed to get SLP handle. err = %d",
              session.openError());
    return session.openError();
  }
  for (std::size_t i = 0; i < interfaces.count(); ++i) {
    std::string url = serviceUrl(interfaces[i].address());
    if (session.registerUrl(url, kAttributes, kLifetime) == 0) {
      daemonLog(kLogInfo, "TOLMD registered url %s with SLP", url.c_str());
    } else {
      daemonLog(kLogInfo, "TOLMD failed to register url %s with SLP", url.c_str());
    }
  }
  advertised_ = true;
  return 0;
}

void TolmDaemon::removeStaleEntries(const teska::NetworkInterfaces& interfaces) {
  // URLs of this host left by an earlier run, on any port; withdrawn after the search handle
  // is closed. Only this host's agent can hold them, so only it is asked.
  for (const std::string& url : frame::findStaleUrls(kServiceType, interfaces, reportSlpError)) {
    doSlpDeregister(url);
  }
}

int TolmDaemon::doSlpDeregister(const std::string& url) {
  SlpSession session(reportSlpError);
  if (session.openError() != 0) {
    daemonLog(kLogCrit, "TolmDaemon::doSlpDeregister failed to get SLP handle. err= %d",
              session.openError());
    return session.openError();
  }
  std::string target = url.empty() ? kUrlPrefix + listener_->addrString() : url;
  daemonLog(kLogDebug, "TolmDaemon::doSlpDeregister calling SLPDereg with URL %s", target.c_str());
  int result = session.deregisterUrl(target);
  daemonLog(kLogDebug, "TolmDaemon::doSlpDeregister returning");
  return result;
}

void TolmDaemon::withdraw() {
  teska::NetworkInterfaces interfaces(false);
  for (std::size_t i = 0; i < interfaces.count(); ++i) {
    std::string url = serviceUrl(interfaces[i].address());
    int result = doSlpDeregister(url);
    if (result != 0) {
      daemonLog(kLogCrit, "TolmDaemon::run - failed to de-register %s with SLP: error=%d",
                url.c_str(), result);
    } else {
      daemonLog(kLogInfo, "TolmDaemon::run - De-registered %s with SLP", url.c_str());
    }
  }
  advertised_ = false;
}

}  // namespace tolmd
