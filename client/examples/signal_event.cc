// A program outside this tree that signals an event through libvokra, written against the
// installed headers and built with pkg-config:
//
//   c++ -std=c++20 signal_event.cc $(pkg-config --cflags --libs vokra) -o signal_event
//   ./signal_event EVENT HEX-PAYLOAD STAGGER-TYPE
//
// Prints the daemon's URL and "result N"; exits 0 when the daemon accepted the signal.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <vokra/tolm_client.h>
#include <vokra/tolm_server_info.h>

namespace {

bool parseHex(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) {
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint8_t> payload;
  if (argc != 4 || !parseHex(argv[2], payload)) {
    std::cerr << "usage: signal_event EVENT HEX-PAYLOAD STAGGER-TYPE\n";
    return 2;
  }
  vokra::TolmClient client;
  const vokra::TolmSLPInfo server = vokra::TolmServerInfo::shared().copySLPInfo();
  std::cout << "server " << client.getTolmServer() << " host " << server.getHost() << " key "
            << server.getPublicKey() << std::endl;
  const int result = client.signalEvent(argv[1], payload.data(), static_cast<int>(payload.size()),
                                        std::atoi(argv[3]), 0);
  std::cout << "result " << result << std::endl;
  return result == 0 ? 0 : 1;
}
