// SlpSession: one synchronous session with the SLP library (language "en"), the daemon's only
// way to SLP. Searches of this host's own agent use the library's client directly, which can
// leave out the multicast convergence the C API always does.
//
// Owns the library handle (closed by the destructor). Registrations and deregistrations report
// an agent's negative answer through the log line "tolmd: Received error error registering with
// SLP - <code>". Used by one thread at a time.
#ifndef TOLMD_SLP_SESSION_H_
#define TOLMD_SLP_SESSION_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolmd {

class SlpSession {
 public:
  // Opens the handle; openError() says whether that worked.
  SlpSession();
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
  int openError_ = 0;
};

}  // namespace tolmd

#endif  // TOLMD_SLP_SESSION_H_
