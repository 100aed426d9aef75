// TolmSLPInfo: what service discovery learnt about the event daemon: its service URL, the
// value of its public_key attribute, and the host and port parsed from the URL.
//
// A plain value: copied and assigned by value (all four fields). A new record has three empty
// strings and port 0; port 0 means that no server is known. Not synchronised: a record shared
// between threads must be guarded by its owner (TolmServerInfo guards the process-wide one).
#ifndef CLIENT_TOLM_SLP_INFO_H_
#define CLIENT_TOLM_SLP_INFO_H_

#include <cstdint>
#include <string>

#include "client/vokra_export.h"

namespace vokra {

class VOKRA_API TolmSLPInfo {
 public:
  TolmSLPInfo() = default;

  // The service URL as SLP delivered it, for example "service:tolm.x://192.0.2.1:3456".
  std::string getUrl() const { return url_; }
  // The public_key attribute value, cut out of "(public_key=VALUE)"; kept for users of the
  // record, nothing in the library reads it.
  std::string getPublicKey() const { return publicKey_; }
  // Host part of the URL, as written there (a dotted address or a name).
  std::string getHost() const { return host_; }
  // Port part of the URL in host byte order; 0 when no server is known.
  uint16_t getPort() const { return port_; }

  void setUrl(const std::string& url) { url_ = url; }
  void setPublicKey(const std::string& publicKey) { publicKey_ = publicKey; }
  void setHost(const std::string& host) { host_ = host; }
  void setPort(uint16_t port) { port_ = port; }

  // Back to the state of a new record: empty strings, port 0.
  void clear();

 private:
  std::string url_;
  std::string publicKey_;
  std::string host_;
  uint16_t port_ = 0;
};

}  // namespace vokra

#endif  // CLIENT_TOLM_SLP_INFO_H_
