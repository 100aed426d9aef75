#include "tolmd/registry_transaction.h"

namespace tolmd {

RegistryTransaction::RegistryTransaction(teska::Reference<teska::InetSocketImpl> connection,
                                         teska::QRstring eventName, uint32_t address, uint16_t port,
                                         bool deregistration)
    : connection_(std::move(connection)),
      eventName_(std::move(eventName)),
      address_(address),
      port_(port),
      deregistration_(deregistration) {}

RegistryTransaction::~RegistryTransaction() {
  if (connection_) {
    connection_->disconnect();
  }
}

}  // namespace tolmd
