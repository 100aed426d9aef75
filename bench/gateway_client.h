// GatewayClient: the measured side of the gateway figures. The same five commands as
// LdapReference, each as a command document sent through one MUXClient session and read back
// from the reply, the way the agent and the console use the library.
//
// Every call throws std::runtime_error when the session cannot be opened, no reply comes or
// the reply carries an error. Not thread-safe.
#ifndef BENCH_GATEWAY_CLIENT_H_
#define BENCH_GATEWAY_CLIENT_H_

#include <cstddef>
#include <memory>
#include <string>

#include "bench/gateway_side.h"
#include "gateway/mux_client.h"
#include "gateway/xml_parser.h"

namespace nvo_bench {

class GatewayClient : public GatewaySide {
 public:
  // Opens a session with an authentication document for `url`, `dn` and `password`.
  GatewayClient(const std::string& url, const std::string& dn, const std::string& password);

  std::string resolve(const std::string& dn) override;
  std::string searchByMac(const std::string& containerId, const std::string& mac) override;
  std::string add(const std::string& containerId, const std::string& name,
                  const std::string& password, const std::string& mac) override;
  void setPassword(const std::string& objectId, const std::string& password) override;
  std::size_t enumerate(const std::string& containerId) override;

 private:
  // Sends the command built on document_ and returns the reply root, checked for an error.
  nvo::DOM_Node send(const char* command);

  std::unique_ptr<nvo::MUXClient> session_;
  nvo::XMLParser document_;
};

}  // namespace nvo_bench

#endif  // BENCH_GATEWAY_CLIENT_H_
