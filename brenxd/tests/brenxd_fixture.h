// The end-to-end fixture of the workstation creation agent: inside tests/sandbox/run-in-sandbox
// it starts the SLP agent vslpd and a private directory with the gateway's schema, access rules
// and a few test containers, writes /etc/opt/nvo/brenxd.conf (the sandbox's own /etc/opt) and
// runs the real brenxd, talking to it over loopback as a workstation does.
#ifndef BRENXD_TESTS_BRENXD_FIXTURE_H_
#define BRENXD_TESTS_BRENXD_FIXTURE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brenxd/tools/enrol_answer.h"
#include "tests/support/daemon_process.h"
#include "tests/support/service_sandbox.h"
#include "tests/support/slapd_server.h"

namespace brenxd_test {

using namespace std::chrono_literals;

inline constexpr char kConfigFile[] = "/etc/opt/nvo/brenxd.conf";
inline constexpr char kListeningLine[] = "brenxd listening on all network interfaces";
// Containers of the test directory: computers are created in kNew; kFirst is empty; kSecond
// and kThird each hold a computer with the MAC kKnownMac (kSecond's is kKnownDn); kSecond also
// holds kVictimDn (MAC kVictimMac, password kVictimPassword).
inline constexpr char kNew[] = "ou=New,o=orvanta";
inline constexpr char kFirst[] = "ou=First,o=orvanta";
inline constexpr char kSecond[] = "ou=Second,o=orvanta";
inline constexpr char kThird[] = "ou=Third,o=orvanta";
inline constexpr char kNowhere[] = "ou=Nowhere,o=orvanta";
inline constexpr char kKnownMac[] = "00:16:3e:00:00:42";
inline constexpr char kKnownDn[] = "cn=known-00:16:3e:00:00:42,ou=Second,o=orvanta";
inline constexpr char kThirdDn[] = "cn=later-00:16:3e:00:00:42,ou=Third,o=orvanta";
inline constexpr char kVictimMac[] = "00:16:3e:00:00:77";
inline constexpr char kVictimDn[] = "cn=victim-00:16:3e:00:00:77,ou=Second,o=orvanta";
inline constexpr char kVictimPassword[] = "victim-secret";

// The credentials an answer carries: the primary gateway's authname, password and objectname.
struct Credentials {
  std::string authname;
  std::string password;
  std::string objectname;
};

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A configuration with the directory's administrator as the agent's account.
  std::string configText(const std::string& creation, const std::vector<std::string>& search,
                         const std::string& password) const;
  std::string configText(const std::string& creation = kNew,
                         const std::vector<std::string>& search = {}) const;
  // Writes the configuration file, mode 0640 root:nogroup, as installed; it replaces the old
  // one in one step.
  static void writeConfig(const std::string& text, unsigned mode = 0640);

  // Starts brenxd with `args` (in the foreground unless told otherwise) and waits until it
  // listens; the port comes from its SLP registration lines.
  void startAgent(const std::vector<std::string>& args = {"-d", "-l", "DEBUG"});
  // Starts brenxd and waits for it to end on its own; its exit code and lines.
  nvo_test::RunResult runAgent(const std::vector<std::string>& args);
  // Sends SIGHUP and waits until the agent has taken it: a request sent later is then served
  // with what the re-read left.
  void reload();
  nvo_test::DaemonProcess& agent() { return *agent_; }
  uint16_t port() const { return port_; }

  // Sends `bytes` on a new connection to the agent and reads until it closes.
  std::vector<uint8_t> exchange(std::span<const uint8_t> bytes);
  // One request with `host` and `mac`; the reply read as a workstation reads it.
  brenxd::EnrolAnswer enrol(const std::string& host, const std::string& mac);
  static Credentials credentialsOf(const std::string& answer);

  // Whether `dn` binds with `password` in the directory.
  bool binds(const std::string& dn, const std::string& password) const;
  // The attributes of `dn` as the administrator reads them (empty when there is no such entry).
  nvo_test::Entry entry(const std::string& dn) const;
  // The SLP URLs of the agent's type, as vslptool prints them ("URL,LIFETIME").
  std::vector<std::string> advertised() const;
  std::vector<std::string> environment() const { return sandbox_.environment(); }

  nvo_test::ServiceSandbox sandbox_{"/run/brenxd-test-vslp.conf"};
  std::unique_ptr<nvo_test::SlapdServer> directory_;
  std::unique_ptr<nvo_test::DaemonProcess> slpAgent_;
  std::unique_ptr<nvo_test::DaemonProcess> agent_;
  uint16_t port_ = 0;
};

}  // namespace brenxd_test

#endif  // BRENXD_TESTS_BRENXD_FIXTURE_H_
