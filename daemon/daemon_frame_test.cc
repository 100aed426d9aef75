#include "daemon/daemon_frame.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "outside/log_stream.h"

namespace frame {
namespace {

const char kHelp[] =
    "tolmd [OPTIONS]...\n"
    "Available options:\n"
    "\t-d, --debug     Set debug on (does not detach from terminal\n"
    "\t-k, --kill      Kill the currently running instance of tolmd\n"
    "\t-h, --help      Print this help information\n"
    "\t-l, --loglevel=[EMERG|ALERT|CRIT|ERR|WARN|NOTICE|INFO|DEBUG]\n"
    "Set the maximum level for the log\n";

struct ParseResult {
  OptionsOutcome outcome;
  FrameOptions options;
  std::string output;
};

ParseResult parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tolmd");
  std::vector<char*> argv;
  for (auto& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  ParseResult result{};
  std::ostringstream out;
  result.outcome = parseOptions(static_cast<int>(args.size()), argv.data(), "tolmd",
                                teska::LogStream::getLevelFromString, result.options, out);
  result.output = out.str();
  return result;
}

TEST(DaemonFrameTest, OptionsSetDebugKillAndLevelInOrder) {
  struct Case {
    std::vector<std::string> args;
    bool debug;
    bool kill;
    int level;
  } cases[] = {
      {{}, false, false, 6},
      {{"-d"}, true, false, 7},
      {{"--debug"}, true, false, 7},
      {{"-l", "debug"}, false, false, 7},
      {{"-l", "ERR", "-d"}, true, false, 3},
      {{"-d", "-l", "ERR"}, true, false, 3},
      {{"--loglevel=warn"}, false, false, 4},
      {{"-l", "EmErG"}, false, false, 0},
      {{"-k"}, false, true, 6},
      {{"--kill", "ignored", "args"}, false, true, 6},
  };
  for (const Case& c : cases) {
    ParseResult result = parse(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(result.outcome, OptionsOutcome::kRun);
    EXPECT_EQ(result.options.debug, c.debug);
    EXPECT_EQ(result.options.kill, c.kill);
    EXPECT_EQ(result.options.logLevel, c.level);
    EXPECT_EQ(result.output, "");
  }
}

TEST(DaemonFrameTest, HelpAndBadOptionsPrintTheHelpText) {
  ParseResult help = parse({"-h"});
  EXPECT_EQ(help.outcome, OptionsOutcome::kExitSuccess);
  EXPECT_EQ(help.output, kHelp);

  ParseResult badLevel = parse({"-l", "verbose"});
  EXPECT_EQ(badLevel.outcome, OptionsOutcome::kExitFailure);
  EXPECT_EQ(badLevel.output, kHelp);

  for (auto args : {std::vector<std::string>{"-x"}, std::vector<std::string>{"--bogus"},
                    std::vector<std::string>{"-l"}}) {
    ParseResult bad = parse(args);
    EXPECT_EQ(bad.outcome, OptionsOutcome::kExitFailure);
    EXPECT_EQ(bad.output, std::string("Unknown command line argument: '?'\n") + kHelp);
  }
}

TEST(DaemonFrameTest, ProgramDirectoryIsTheInvokingPathsDirectory) {
  struct Case {
    const char* argv0;
    const char* expected;
  } cases[] = {
      {"/usr/sbin/tolmd", "/usr/sbin/"},
      {"  /opt/nvo/bin/tolmd \t", "/opt/nvo/bin/"},
      {"./tolmd", "/home/u/"},
      {"./bin/tolmd", "/home/u/bin/"},
      {"../bin/tolmd", "/home/u/../bin/"},
      {"tolmd", "/exe/dir/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(programDirectory(c.argv0, "/home/u", "/exe/dir/"), c.expected) << c.argv0;
  }
}

TEST(DaemonFrameTest, PidFileIsUnderVarRunForRootOnly) {
  EXPECT_EQ(pidFilePath("tolmd", "/home/u/bin/", true), "/var/run/tolmd.pid");
  EXPECT_EQ(pidFilePath("tolmd", "/home/u/bin/", false), "/home/u/bin/tolmd.pid");
}

}  // namespace
}  // namespace frame
