// RegistryTransaction: one REGISTER or DEREGISTER waiting in the Registry's queue, together
// with the client connection it came on.
//
// Shares the connection with whoever else still holds it; destroying the transaction
// disconnects it, which ends the client's conversation. Used by one thread at a time (the
// service thread builds it, the Registry works it off).
#ifndef TOLMD_REGISTRY_TRANSACTION_H_
#define TOLMD_REGISTRY_TRANSACTION_H_

#include <cstdint>

#include "outside/inet_server_socket_impl.h"
#include "outside/qrstring.h"

namespace tolmd {

class RegistryTransaction {
 public:
  RegistryTransaction(teska::Reference<teska::InetSocketImpl> connection, teska::QRstring eventName,
                      uint32_t address, uint16_t port, bool deregistration);
  ~RegistryTransaction();
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  teska::InetSocketImpl& connection() const { return *connection_; }
  const teska::QRstring& eventName() const { return eventName_; }  // may be empty
  uint32_t address() const { return address_; }                    // network order
  uint16_t port() const { return port_; }                          // network order
  bool isDeregistration() const { return deregistration_; }

 private:
  teska::Reference<teska::InetSocketImpl> connection_;
  teska::QRstring eventName_;
  uint32_t address_;
  uint16_t port_;
  bool deregistration_;
};

}  // namespace tolmd

#endif  // TOLMD_REGISTRY_TRANSACTION_H_
