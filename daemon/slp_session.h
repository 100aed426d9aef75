// SlpSession: one synchronous session with the SLP library (language "en"), a daemon's only
// way to SLP. Shared by tolmd and brenxd, which advertise themselves the same way. Searches of
// this host's own agent use the library's client directly, which can leave out the multicast
// convergence the C API always does.
//
// Owns the library handle (closed by the destructor). Registrations and deregistrations hand
// an agent's negative answer to the session's ErrorReport, through which each daemon words its
// own log line. Used by one thread at a time.
#ifndef DAEMON_SLP_SESSION_H_
#define DAEMON_SLP_SESSION_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outside/network_interfaces.h"

namespace frame {

class SlpSession {
 public:
  // Called with the (negative) error code an agent answered a registration or deregistration
  // with; may be null.
  using ErrorReport = void (*)(int error);

  // Opens the handle; openError() says whether that worked.
  explicit SlpSession(ErrorReport report);
  ~SlpSession();
  SlpSession(const SlpSession&) = delete;
  SlpSession& operator=(const SlpSession&) = delete;

  // 0 when the handle is open, otherwise the library's error code.
  int openError() const { return openError_; }

  // The URLs of `serviceType` held by this host's own agent, asked over loopback without a
  // multicast round (none when the handle is not open or the search failed). Only that agent
  // can hold registrations made on this host.
  std::vector<std::string> findLocalServices(const std::string& serviceType);
  // Registers `url` with `attributes` for `lifetime` seconds (fresh). Returns the call's result
  // (0 on success).
  int registerUrl(const std::string& url, const std::string& attributes, unsigned short lifetime);
  // Withdraws `url`. Returns the call's result (0 on success).
  int deregisterUrl(const std::string& url);

  // The host part of a service URL, or nothing when it does not parse.
  static std::optional<std::string> hostOf(const std::string& url);

 private:
  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  ErrorReport report_;
  int openError_ = 0;
};

// The URLs among `urls` whose host part is the dotted address of one of `interfaces`, in their
// order: what an earlier run of a daemon on this host advertised, whatever its port.
std::vector<std::string> urlsOfThisHost(const std::vector<std::string>& urls,
                                        const teska::NetworkInterfaces& interfaces);

// This host's URLs of `serviceType` that its agent holds, found through a session of its own
// that is closed before the caller withdraws them; none when no session could be opened.
std::vector<std::string> findStaleUrls(const std::string& serviceType,
                                       const teska::NetworkInterfaces& interfaces,
                                       SlpSession::ErrorReport report);

}  // namespace frame

#endif  // DAEMON_SLP_SESSION_H_
