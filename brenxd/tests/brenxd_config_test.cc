// The configuration file at start (every error text, exit 255) and on SIGHUP (the agent keeps
// running and refuses until a correct file is read).
#include <signal.h>

#include <string>
#include <vector>

#include "brenxd/tests/brenxd_fixture.h"
#include "brenxd/tests/broken_configs.h"

namespace brenxd_test {
namespace {

using Kind = brenxd::EnrolAnswer::Kind;

class ConfigTest : public AgentTest {};

TEST_F(ConfigTest, EveryErrorAtStartEndsTheAgentWith255) {
  std::vector<BrokenConfig> files = brokenConfigs();
  files.push_back({"(no file)", "Couldn't open /etc/opt/nvo/brenxd.conf"});
  for (const BrokenConfig& file : files) {
    if (file.text == "(no file)") {
      std::filesystem::remove(kConfigFile);
    } else {
      writeConfig(file.text);
    }
    nvo_test::RunResult run = runAgent({"-d"});
    EXPECT_EQ(run.exitCode, 255) << file.error;
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "Failed to initialize: " + file.error),
              run.lines.end())
        << file.error;
    EXPECT_FALSE(std::filesystem::exists("/var/run/brenxd.pid"));
  }
  // Each failed start left its registrations for the next start to remove.
  writeConfig(configText());
  startAgent();
  EXPECT_EQ(advertised().size(), 2u);
}

TEST_F(ConfigTest, SighupWithABrokenFileKeepsServingRefusals) {
  startAgent();
  ASSERT_EQ(enrol("ws", "52:54:00:00:00:01").kind, Kind::kAnswer) << agent().transcript();
  for (const BrokenConfig& file : brokenConfigs()) {
    writeConfig(file.text);
    const std::size_t from = agent().lineCount();
    reload();
    EXPECT_TRUE(agent().waitForLine("Failed to initialize: " + file.error, 10s, from))
        << agent().transcript();
    EXPECT_EQ(enrol("ws", "52:54:00:00:00:01").kind, Kind::kRefused) << file.error;
  }
  // A file without creationLocation reads well and still refuses every request.
  writeConfig(configText("", {kSecond}));
  reload();
  EXPECT_EQ(enrol("ws", "52:54:00:00:00:01").kind, Kind::kRefused);
  // A correct file again: served again, by the running agent.
  writeConfig(configText());
  reload();
  EXPECT_EQ(enrol("ws", "52:54:00:00:00:01").kind, Kind::kAnswer) << agent().transcript();
  EXPECT_EQ(agent().countLines("Received SIGHUP signal - re-reading /etc/opt/nvo/brenxd.conf"),
            brokenConfigs().size() + 2);
  EXPECT_EQ(agent().stop(20s), 0);
}

}  // namespace
}  // namespace brenxd_test
