#include "tolmd/socket_io.h"

#include <arpa/inet.h>

namespace tolmd {

unsigned short hostOrderPort(uint16_t networkPort) {
  return ntohs(networkPort);
}

}  // namespace tolmd
