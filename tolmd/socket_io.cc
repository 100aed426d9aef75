#include "tolmd/socket_io.h"

#include <cstddef>

#include <arpa/inet.h>

namespace tolmd {

bool readExactly(vokra::InetSocket& socket, std::span<uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    int count = socket.read(buffer.data() + done, static_cast<int>(buffer.size() - done), false);
    if (count <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(count);
  }
  return true;
}

bool writeAll(vokra::InetSocket& socket, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    int count = socket.write(bytes.data() + done, static_cast<int>(bytes.size() - done), false);
    if (count <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(count);
  }
  return true;
}

unsigned short hostOrderPort(uint16_t networkPort) {
  return ntohs(networkPort);
}

}  // namespace tolmd
