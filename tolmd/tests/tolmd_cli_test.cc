// The process frame of tolmd: options, single instance, -k, detaching, the pid file, signals,
// privileges and the database file's protection.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>

#include "protocol/tolm_wire.h"
#include "tolmd/tests/tolmd_fixture.h"

namespace tolmd_test {
namespace {

const std::vector<std::string> kHelp = {
    "tolmd [OPTIONS]...",
    "Available options:",
    "\t-d, --debug     Set debug on (does not detach from terminal",
    "\t-k, --kill      Kill the currently running instance of tolmd",
    "\t-h, --help      Print this help information",
    "\t-l, --loglevel=[EMERG|ALERT|CRIT|ERR|WARN|NOTICE|INFO|DEBUG]",
    "Set the maximum level for the log",
};

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A process id that certainly names no process: a child that has been reaped.
pid_t deadPid() {
  pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);
  return child;
}

using TolmdCliTest = TolmdTest;

TEST_F(TolmdCliTest, HelpAndBadOptions) {
  for (const char* option : {"-h", "--help"}) {
    nvo_test::RunResult help = nvo_test::runProgram(tolmdPath(), {option});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.lines, kHelp);
  }
  nvo_test::RunResult unknown = nvo_test::runProgram(tolmdPath(), {"-z"});
  EXPECT_EQ(unknown.exitCode, 1);
  std::vector<std::string> expected{"Unknown command line argument: '?'"};
  expected.insert(expected.end(), kHelp.begin(), kHelp.end());
  EXPECT_EQ(unknown.lines, expected);

  nvo_test::RunResult badLevel = nvo_test::runProgram(tolmdPath(), {"-l", "verbose"});
  EXPECT_EQ(badLevel.exitCode, 1);
  EXPECT_EQ(badLevel.lines, kHelp);
  EXPECT_FALSE(std::filesystem::exists(kPidFile)) << "nothing started";
}

TEST_F(TolmdCliTest, KillWithoutARunningInstanceAndWithAStalePidFile) {
  const std::string path = tolmdPath();
  nvo_test::RunResult none = nvo_test::runProgram(path, {"-k"});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.lines,
            std::vector<std::string>{path + " is not currently running - Nothing to kill"});

  std::ofstream(kPidFile) << deadPid() << "\n";
  nvo_test::RunResult stale = nvo_test::runProgram(path, {"-k"});
  EXPECT_EQ(stale.exitCode, 0);
  EXPECT_EQ(stale.lines, none.lines);

  startDaemon();  // a stale pid file does not stop a start
  EXPECT_TRUE(daemon().hasExactLine("tolmd started [" + std::to_string(daemon().pid()) + "]"));
  EXPECT_EQ(std::stoi(fileText(kPidFile)), daemon().pid());
  stopDaemon();
}

TEST_F(TolmdCliTest, PidFileNamingTheProcessItselfIsNoObstacle) {
  // The shell records its own pid, then becomes tolmd under that very pid.
  daemon_ = std::make_unique<nvo_test::DaemonProcess>(
      "/bin/sh",
      std::vector<std::string>{"-c", std::string("echo $$ > ") + kPidFile + " && exec \"$0\" -d",
                               tolmdPath()},
      environment());
  daemon_->start();
  ASSERT_TRUE(daemon_->waitForLine("tolmd listening on all interfaces at port", 20s))
      << daemon_->transcript();
  EXPECT_TRUE(daemon_->hasExactLine("tolmd started [" + std::to_string(daemon_->pid()) + "]"));
  stopDaemon();
}

TEST_F(TolmdCliTest, SecondInstanceIsRefusedAndKillStopsTheFirst) {
  startDaemon();
  const std::string path = tolmdPath();
  const std::string pid = std::to_string(daemon().pid());
  nvo_test::RunResult second = nvo_test::runProgram(path, {"-d"});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.lines,
            std::vector<std::string>{"Cannot run " + path +
                                     " - Another instance is already running [" + pid + "]"});

  nvo_test::RunResult kill = nvo_test::runProgram(path, {"-k"});
  EXPECT_EQ(kill.exitCode, 0);
  EXPECT_EQ(kill.lines, std::vector<std::string>{"TERM signal sent to process id " + pid});
  EXPECT_EQ(daemon().waitForExit(20s), 0);
  for (const char* line :
       {"tolmd received SIGTERM - Initiating shutdown", "tolmd completed shutdown process - ending",
        "tolmd - main is returning"}) {
    EXPECT_TRUE(daemon().hasExactLine(line)) << line << "\n" << daemon().transcript();
  }
  // The daemon runs as nobody at the end and may not unlink in /var/run; the file is at least
  // emptied, so no stale pid is left behind.
  EXPECT_TRUE(!std::filesystem::exists(kPidFile) || fileText(kPidFile).empty());
  EXPECT_EQ(nvo_test::runProgram(path, {"-k"}).lines,
            std::vector<std::string>{path + " is not currently running - Nothing to kill"});
}

TEST_F(TolmdCliTest, DetachesIntoTheBackground) {
  nvo_test::RunResult start = nvo_test::runProgram(tolmdPath(), {});
  ASSERT_EQ(start.exitCode, 0);
  ASSERT_EQ(start.lines.size(), 1u);
  ASSERT_EQ(start.lines[0].rfind("tolmd started [", 0), 0u) << start.lines[0];
  pid_t child = std::stoi(start.lines[0].substr(15));
  // The parent returns only once the child is set up, so the pid file is already there.
  EXPECT_EQ(std::stoi(fileText(kPidFile)), child);
  EXPECT_TRUE(nvo_test::processAlive(child));
  EXPECT_EQ(nvo_test::statusField(child, "Uid").substr(0, 5), "65534");
  // Detached: no controlling terminal session of ours, standard descriptors on /dev/null.
  EXPECT_EQ(::getsid(child), child);
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/fd/2"), "/dev/null");

  nvo_test::RunResult kill = nvo_test::runProgram(tolmdPath(), {"-k"});
  EXPECT_EQ(kill.lines,
            std::vector<std::string>{"TERM signal sent to process id " + std::to_string(child)});
  EXPECT_EQ(nvo_test::waitForOrphan(child, 20s), 0);
}

TEST_F(TolmdCliTest, RunsAsNobodyAndKeepsAPrivateWritableDatabase) {
  // Left over from an installation that made everything world-writable.
  std::filesystem::create_directories(kDatabaseDirectory);
  ::chmod(kDatabaseDirectory, 0777);
  startDaemon();
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  EXPECT_TRUE(daemon().hasExactLine("TOLM - Dropped root privileges. Running as nobody"));
  EXPECT_EQ(nvo_test::statusField(daemon().pid(), "Uid").substr(0, 5), "65534");
  EXPECT_EQ(std::stoul(nvo_test::statusField(daemon().pid(), "Gid")), nobody->pw_gid);
  EXPECT_EQ(nvo_test::statusField(daemon().pid(), "Groups"), "") << "root's groups are gone";

  struct stat directory {
  }, file{};
  ASSERT_EQ(::stat(kDatabaseDirectory, &directory), 0);
  ASSERT_EQ(::stat(kDatabaseFile, &file), 0);
  EXPECT_EQ(directory.st_mode & 07777, 0755u);
  EXPECT_EQ(file.st_mode & 07777, 0600u);
  EXPECT_EQ(file.st_uid, nobody->pw_uid);

  nvo_test::TestListener first({.address = "127.0.0.2"});
  nvo_test::TestListener second({.address = "127.0.0.3"});
  nvo_test::TestListener third({.address = "127.0.0.4"});
  EXPECT_EQ(registerListener(first, "disk.full"), answer(tolm::kAnswerRegister, 0));
  listing();  // SIGHUP restart
  EXPECT_EQ(registerListener(second, "disk.full"), answer(tolm::kAnswerRegister, 0));
  stopDaemon();
  startDaemon();
  EXPECT_EQ(registerListener(third, "disk.full"), answer(tolm::kAnswerRegister, 0));
  std::vector<std::string> records = listing();
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records, (std::vector<std::string>{"event: disk.full  address: " + first.text(),
                                               "event: disk.full  address: " + second.text(),
                                               "event: disk.full  address: " + third.text()}));
  ASSERT_EQ(::stat(kDatabaseFile, &file), 0);
  EXPECT_EQ(file.st_mode & 07777, 0600u);
  EXPECT_EQ(file.st_uid, nobody->pw_uid);
}

TEST_F(TolmdCliTest, UnusableDatabaseLocationEndsTheStartWithOne) {
  std::ofstream(kDatabaseDirectory) << "not a directory";
  nvo_test::RunResult start = nvo_test::runProgram(tolmdPath(), {"-d"}, 20s, environment());
  EXPECT_EQ(start.exitCode, 1);
  std::vector<std::string> tail(start.lines.end() - 2, start.lines.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"TOLM unable to run - cannot open/create event database",
                                      "Message: EventDb::open"}));
  std::filesystem::remove(kDatabaseDirectory);
}

TEST_F(TolmdCliTest, TwoTerminationSignalsGiveOneShutdown) {
  startDaemon();
  daemon().sendSignal(SIGTERM);
  daemon().sendSignal(SIGINT);
  EXPECT_EQ(daemon().waitForExit(20s), 0);
  EXPECT_EQ(daemon().countLines("tolmd received SIGTERM - Initiating shutdown"), 1u);
  EXPECT_EQ(daemon().countLines("tolmd completed shutdown process - ending"), 1u);
}

TEST_F(TolmdCliTest, ForeignSignalsDoNotEndTheDaemon) {
  startDaemon();
  // SIGUSR1 carries the number 10; the daemon's own "service stopped" note is not a signal
  // number, so this must change nothing.
  for (int signo : {SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD}) {
    daemon().sendSignal(signo);
  }
  const std::vector<uint8_t> payload{7};
  EXPECT_EQ(signal("still.here", payload), answer(tolm::kAnswerSignal, 0));
  EXPECT_TRUE(nvo_test::processAlive(daemon().pid()));
  EXPECT_EQ(daemon().countLines("completed shutdown"), 0u);
  stopDaemon();
}

}  // namespace
}  // namespace tolmd_test
