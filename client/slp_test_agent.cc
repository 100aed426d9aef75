#include "client/slp_test_agent.h"

#include <slp.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vokra::testing {
namespace {

using std::chrono::milliseconds;

constexpr uint16_t kSlpPort = 427;

void reportInto(SLPHandle /*handle*/, SLPError errCode, void* cookie) {
  *static_cast<int*>(cookie) = errCode;
}

}  // namespace

std::string useFastSlpConfig() {
  char path[] = "/tmp/vokra-slp-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) {
    throw std::runtime_error("useFastSlpConfig: mkstemp failed");
  }
  ::close(fd);
  std::ofstream config(path);
  config << "# Short waits for tests: every agent answers from this host or the sandbox.\n"
         << "net.slp.multicastTimeouts = 200,200\n"
         << "net.slp.multicastMaximumWait = 400\n"
         << "net.slp.unicastMaximumWait = 1000\n";
  config.close();
  ::setenv("VSLP_CONF", path, 1);
  return std::string("VSLP_CONF=") + path;
}

SlpTestAgent::~SlpTestAgent() {
  stop();
}

void SlpTestAgent::start() {
  process_ = std::make_unique<nvo_test::DaemonProcess>(nvo_test::buildBinary("vslpd"),
                                                       std::vector<std::string>{"-d"});
  process_->start();
  if (!nvo_test::waitUntil(slpAgentAnswers, milliseconds(10000))) {
    throw std::runtime_error("vslpd did not come up:\n" + process_->transcript());
  }
}

void SlpTestAgent::stop() {
  if (process_ == nullptr) {
    return;
  }
  process_->stop(milliseconds(5000));
  process_.reset();
  nvo_test::waitUntil([] { return !slpAgentAnswers(); }, milliseconds(5000));
}

int registerService(const std::string& url, const std::string& attributes) {
  SLPHandle handle = nullptr;
  const SLPError opened = SLPOpen("en", SLP_FALSE, &handle);
  if (opened != SLP_OK) {
    return opened;
  }
  int reported = SLP_OK;
  const SLPError result = SLPReg(handle, url.c_str(), SLP_LIFETIME_MAXIMUM, nullptr,
                                 attributes.c_str(), SLP_TRUE, reportInto, &reported);
  SLPClose(handle);
  return result != SLP_OK ? result : reported;
}

bool slpAgentAnswers() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_in agent{};
  agent.sin_family = AF_INET;
  agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  agent.sin_port = htons(kSlpPort);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&agent), sizeof agent) == 0;
  ::close(fd);
  return connected;
}

}  // namespace vokra::testing
