#include "brenxd/agent_slp.h"

#include <vector>

#include "brenxd/agent_log.h"
#include "client/socket_util.h"
#include "daemon/slp_session.h"
#include "outside/network_interfaces.h"

namespace brenxd {
namespace {

using frame::SlpSession;
using teska::LogStream;

constexpr char kServiceType[] = "nvowsc.x";
constexpr char kUrlPrefix[] = "service:nvowsc.x://";
constexpr unsigned short kLifetime = 65535;

void reportSlpError(int error) {
  agentLog() << LogStream::critical << kProgramName
             << ": Received error error registering with SLP - " << error << std::endl;
}

}  // namespace

std::string serviceUrl(uint32_t address, uint16_t port) {
  return kUrlPrefix + vokra::inetAddrToString(address, port);
}

int doSlpRegister(uint16_t port) {
  teska::NetworkInterfaces interfaces(false);
  // What an earlier run on this host left, whatever its port.
  for (const std::string& url : frame::findStaleUrls(kServiceType, interfaces, reportSlpError)) {
    doSlpDeregister(url);
  }
  SlpSession session(reportSlpError);
  if (session.openError() != 0) {
    agentLog() << LogStream::critical
               << "doSlpRegister failed to get SLP handle. err=" << session.openError()
               << std::endl;
    return session.openError();
  }
  for (std::size_t i = 0; i < interfaces.count(); ++i) {
    const std::string url = serviceUrl(interfaces[i].address(), port);
    const int result = session.registerUrl(url, "", kLifetime);
    if (result != 0) {
      agentLog() << LogStream::info << kProgramName << " failed to register " << url
                 << " with SLP - rc = " << result << std::endl;
    } else {
      agentLog() << LogStream::info << kProgramName << " registered " << url << " with SLP"
                 << std::endl;
    }
  }
  return 0;
}

int doSlpDeregister(const std::string& url) {
  SlpSession session(reportSlpError);
  if (session.openError() != 0) {
    agentLog() << LogStream::critical
               << "doSlpDeregister failed to get SLP handle. err=" << session.openError()
               << std::endl;
    return session.openError();
  }
  agentLog() << LogStream::debug << "doSlpDeregister de-registering url " << url << std::endl;
  return session.deregisterUrl(url);
}

void deregisterAll(uint16_t port) {
  teska::NetworkInterfaces interfaces(false);
  for (std::size_t i = 0; i < interfaces.count(); ++i) {
    const std::string url = serviceUrl(interfaces[i].address(), port);
    const int result = doSlpDeregister(url);
    if (result != 0) {
      agentLog() << LogStream::alert << "Failed to de-register url " << url
                 << " from SLP rc = " << result << std::endl;
    } else {
      agentLog() << LogStream::debug << "Succeeded in de-registering url " << url << " from SLP"
                 << std::endl;
    }
  }
}

}  // namespace brenxd
