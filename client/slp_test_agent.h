// Test support for libvokra's discovery tests: the project's SLP agent vslpd as a real process
// on port 427 (only inside the test sandbox), service registrations through the real SLP
// library, and a configuration with short multicast waits so lookups stay fast.
#ifndef CLIENT_SLP_TEST_AGENT_H_
#define CLIENT_SLP_TEST_AGENT_H_

#include <memory>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace vokra::testing {

// Writes an SLP configuration with short waits to a fresh temporary file and points VSLP_CONF
// at it for this process and the programs it starts. Call before the first SLP call. Returns
// the "VSLP_CONF=..." environment entry for child processes.
std::string useFastSlpConfig();

// vslpd in the foreground. The destructor stops it.
class SlpTestAgent {
 public:
  SlpTestAgent() = default;
  ~SlpTestAgent();
  SlpTestAgent(const SlpTestAgent&) = delete;
  SlpTestAgent& operator=(const SlpTestAgent&) = delete;

  // Starts vslpd -d and waits (at most 10 s) until it accepts TCP on 127.0.0.1:427. Throws
  // std::runtime_error when it does not come up.
  void start();
  // Stops it (SIGTERM, then SIGKILL) and waits until port 427 refuses connections.
  void stop();

 private:
  std::unique_ptr<nvo_test::DaemonProcess> process_;
};

// Registers `url` with attribute list `attributes` and the longest lifetime through SLPReg,
// for as long as this process lives. Returns the agent's answer (0 accepted) or the failing
// call's SLP error.
int registerService(const std::string& url, const std::string& attributes);

// True when a TCP connection to 127.0.0.1:427 succeeds now.
bool slpAgentAnswers();

}  // namespace vokra::testing

#endif  // CLIENT_SLP_TEST_AGENT_H_
