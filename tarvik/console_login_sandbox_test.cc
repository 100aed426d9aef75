// The login dialogue's defaults, taken by empty answers. Runs in the test sandbox (private
// network and mount namespaces): the local host name resolves, through a private /etc/hosts,
// to console.orvanta.test, and scripts/directory serves the directory on that host's port 389,
// so the defaults LDAP://console.orvanta.test:389 and cn=admin,o=orvanta log in for real.
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tarvik/testing/console_fixture.h"
#include "tarvik/testing/tmux_terminal.h"
#include "tests/support/child_process.h"
#include "tests/support/slapd_server.h"

namespace tarvik_test {
namespace {

namespace fs = std::filesystem;

std::string sourceDir() {
  const char* source = std::getenv("NVO_SOURCE_DIR");
  return source != nullptr ? source : ".";
}

TEST(ConsoleLoginSandboxTest, EmptyAnswersTakeTheDefaultsOfTheHostName) {
  if (std::getenv("NVO_SANDBOX") == nullptr) {
    GTEST_SKIP() << "needs the test sandbox (tests/sandbox/run-in-sandbox)";
  }
  if (const std::string missing = nvo_test::SlapdServer::missingPieces(); !missing.empty()) {
    GTEST_SKIP() << missing;
  }
  if (TmuxTerminal::tmuxPath().empty()) {
    GTEST_SKIP() << "tmux is not installed";
  }
  std::string pattern = (fs::temp_directory_path() / "tarvik-login-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  // slapd drops to its own user, which must reach the data below this directory.
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);

  std::array<char, 256> host{};
  ASSERT_EQ(gethostname(host.data(), host.size() - 1), 0);
  std::ofstream(dir / "hosts") << "127.0.0.1 console.orvanta.test " << host.data()
                               << " localhost\n";
  ASSERT_EQ(nvo_test::runCommand({"/bin/mount", "--bind", (dir / "hosts").string(), "/etc/hosts"})
                .exitCode,
            0);

  const std::string script = sourceDir() + "/scripts/directory";
  const fs::path data = dir / "directory";
  nvo_test::ProcessResult started = nvo_test::runCommand(
      {script, "--data", data.string(), "--port", "389"}, {}, std::chrono::seconds(120));
  ASSERT_EQ(started.exitCode, 0) << started.err;
  std::string password;
  std::getline(std::ifstream(data / "admin-password"), password);

  {
    TmuxTerminal terminal({tarvikPath()}, {"-NVO_AUTHENTICATION", "INPUTRC=/dev/null",
                                           "LC_ALL=C.UTF-8", "HOME=" + dir.string()});
    ScriptedSession s(terminal);
    s.expect({"NVO Repository URL: [LDAP://console.orvanta.test:389] : "});
    s.say("", {"User DN [cn=admin,o=orvanta] : "});
    s.say("", {"Enter password: "});
    s.answerUnseen(password);
    s.expect({"Object Name [cn=admin,o=orvanta] : "});
    s.say("", {"NVO Debugging Tool ", "Top : "});
    s.say("ls", {"  orvanta", "Top : "});
    s.say("quit", {"Disconnecting from nvod (endSession) ...", "[exit 0]"});
  }
  nvo_test::runCommand({script, "--data", data.string(), "--stop"}, {}, std::chrono::seconds(30));
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace tarvik_test
