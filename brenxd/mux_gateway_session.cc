// The real gateway session: libnvo's MUXClient behind the agent's seam.
#include <utility>

#include "brenxd/gateway_session.h"
#include "gateway/mux_client.h"

namespace brenxd {
namespace {

class MuxGatewaySession : public GatewaySession {
 public:
  bool initSession(const std::string& document) override { return client_.initSession(document); }

  nvo::DOM_Node callGateway(const std::string& command) override {
    return client_.callGateway(command.c_str(), static_cast<int>(command.size()));
  }

 private:
  nvo::MUXClient client_;
};

}  // namespace

std::unique_ptr<GatewaySession> openMuxSession() {
  return std::make_unique<MuxGatewaySession>();
}

}  // namespace brenxd
