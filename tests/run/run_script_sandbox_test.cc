// scripts/run end to end, in the test sandbox (its own /var/lib, /var/run and /etc/opt): the one
// command brings up the directory, vslpd, brenxd and tolmd, enrols this machine, reports its
// inventory and opens the console as the administrator; the README's first session is walked on
// that console, with a tolm-listen of the test receiving the fired event; quitting stops every
// daemon the command started; a second run finds the directory, the computer and the link of
// the first.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tarvik/testing/tmux_terminal.h"
#include "tests/support/daemon_process.h"
#include "tests/support/slapd_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tarvik_test::ScriptedSession;
using tarvik_test::TmuxTerminal;

constexpr char kWorkstationFile[] = "/var/lib/nvo/workstation.xml";
constexpr char kDirectoryData[] = "/var/lib/nvo/directory";
constexpr char kPrompt[] = "Top :";  // the screen is read without trailing blanks
// From the start of the script to the console's first prompt: directory creation, daemons,
// enrolment and inventory, under the sanitizers on a shared machine.
constexpr auto kStartWait = 120s;

// Two installed packages in dpkg's status file, which the sandbox's empty /var/lib lacks.
constexpr char kDpkgStatus[] =
    "Package: bash\nStatus: install ok installed\nVersion: 5.2.15-2\nArchitecture: amd64\n\n"
    "Package: tmux\nStatus: install ok installed\nVersion: 3.3a-3\nArchitecture: amd64\n\n"
    "Package: gone\nStatus: deinstall ok config-files\nVersion: 1.0-1\nArchitecture: amd64\n\n";

const std::vector<std::string> kKinds{
    "  1 - action",   "  2 - profile",       "  3 - policy",       "  4 - rpm",
    "  5 - computer", "  6 - computergroup", "  7 - organization", "  8 - organizationalunit"};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    text += "  |" + l + "|\n";
  }
  return text;
}

// The pid a pid file names, 0 when there is none.
pid_t pidIn(const fs::path& file) {
  std::ifstream in(file);
  long pid = 0;
  return in >> pid ? static_cast<pid_t>(pid) : 0;
}

// The daemons scripts/run starts, by name, with their pid files.
std::map<std::string, pid_t> daemonPids() {
  return {{"slapd", pidIn(fs::path(kDirectoryData) / "run/slapd.pid")},
          {"vslpd", pidIn("/var/run/vslpd.pid")},
          {"brenxd", pidIn("/var/run/brenxd.pid")},
          {"tolmd", pidIn("/var/run/tolmd.pid")}};
}

// scripts/run in a terminal of its own, up to its console's first prompt.
class RunInTerminal {
 public:
  RunInTerminal()
      : terminal_({environment("NVO_SOURCE_DIR") + "/scripts/run", "--no-build"},
                  {"NVO_BUILD_DIR=" + environment("NVO_BUILD_DIR"), "-NVO_AUTHENTICATION",
                   "INPUTRC=/dev/null", "LC_ALL=C.UTF-8"}),
        session_(terminal_) {}

  // Waits (bounded) for the console's prompt and returns the screen up to it; empty when the
  // script ended or no prompt came.
  std::vector<std::string> untilPrompt() {
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    while (std::chrono::steady_clock::now() < deadline) {
      std::vector<std::string> screen = terminal_.lines();
      if (!screen.empty() && screen.back() == kPrompt) {
        screen.back() += ' ';  // the cursor waits after the blank
        return screen;
      }
      if (!screen.empty() && screen.back().rfind("[exit ", 0) == 0) {
        break;
      }
      std::this_thread::sleep_for(100ms);
    }
    last_ = terminal_.lines();
    return {};
  }
  const std::vector<std::string>& lastScreen() const { return last_; }
  ScriptedSession& session() { return session_; }

 private:
  TmuxTerminal terminal_;
  ScriptedSession session_;
  std::vector<std::string> last_;
};

// Index of the first line equal to `line` at or after `from`, -1 when there is none.
long indexOf(const std::vector<std::string>& lines, const std::string& line, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i] == line) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

// The listing of ou=Workstations with the enrolled computer, in byte order, then `prompt`.
std::vector<std::string> workstations(const std::string& computer, const std::string& prompt) {
  std::vector<std::string> names{"Lab", "Office", computer};
  std::sort(names.begin(), names.end());
  std::vector<std::string> lines;
  for (const std::string& name : names) {
    lines.push_back("  " + name);
  }
  lines.push_back(prompt);
  return lines;
}

// One link dialogue: the policy `policy` to the organizational unit `unit`, operation add.
void linkPolicyToUnit(ScriptedSession& s, const std::string& policy, const std::string& unit,
                      const std::string& prompt) {
  std::vector<std::string> what = kKinds;
  what.push_back("Link what? : ");
  std::vector<std::string> to{" "};
  to.insert(to.end(), kKinds.begin(), kKinds.end());
  to.push_back("Link to? : ");
  s.say("link", what);
  s.say("3", {"Policy name : "});
  s.say(policy, to);
  s.say("8", {"organizationalunit name : "});
  s.say(unit, {"Link operation : (add|remove) [add] "});
  s.say("", {"Success!", prompt});
}

class RunScriptSandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!nvo_test::inSandbox()) {
      GTEST_SKIP() << "needs the test sandbox (tests/sandbox/run-in-sandbox)";
    }
    if (!fs::is_directory("/etc/opt")) {
      GTEST_SKIP() << "no /etc/opt: the sandbox would not keep brenxd's configuration private";
    }
    if (const std::string missing = nvo_test::SlapdServer::missingPieces(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    if (TmuxTerminal::tmuxPath().empty()) {
      GTEST_SKIP() << "tmux is not installed";
    }
    ASSERT_FALSE(fs::exists(kDirectoryData)) << "the sandbox's /var/lib is not empty";
    fs::create_directories("/var/lib/dpkg");
    std::ofstream("/var/lib/dpkg/status") << kDpkgStatus;
  }

  // Checks the screen up to the prompt: brenxd's configuration written on the first run only,
  // the enrolment of this machine with its document, the inventory (the packages new on the
  // first run, unchanged on the next), the console's banner; returns the computer's name.
  std::string checkStart(const std::vector<std::string>& screen, bool firstRun) {
    const long wrote = indexOf(screen,
                               "run: wrote /etc/opt/nvo/brenxd.conf (the directory's "
                               "administrator creates computers in ou=Workstations)");
    EXPECT_EQ(wrote >= 0, firstRun) << joined(screen);
    const std::string inventory = firstRun ? "packages: 2 (added 2, removed 0, unchanged 0)"
                                           : "packages: 2 (added 0, removed 0, unchanged 2)";
    const std::string document = readFile(kWorkstationFile);
    const std::string open = "<objectname>cn=";
    const std::string close = ",ou=Workstations,o=orvanta</objectname>";
    const std::size_t from = document.find(open);
    const std::size_t to = document.find(close);
    const bool found =
        from != std::string::npos && to != std::string::npos && to > from + open.size();
    EXPECT_TRUE(found) << document;
    if (!found) {
      return {};
    }
    const std::string name = document.substr(from + open.size(), to - from - open.size());
    EXPECT_EQ(name.find_first_of(",<"), std::string::npos) << document;
    struct stat st {};
    EXPECT_EQ(::stat(kWorkstationFile, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, 0u);
    const long enrolled =
        indexOf(screen, "run: enrolled this machine as cn=" + name +
                            ",ou=Workstations,o=orvanta (" + kWorkstationFile + ")");
    EXPECT_GE(enrolled, 0) << joined(screen);
    EXPECT_GT(indexOf(screen, inventory, enrolled < 0 ? 0 : enrolled), enrolled) << joined(screen);
    EXPECT_GE(indexOf(screen, "NVO Debugging Tool"), 0) << joined(screen);
    return name;
  }

  // Every daemon of `pids` is known and runs.
  static void expectRunning(const std::map<std::string, pid_t>& pids) {
    for (const auto& [name, pid] : pids) {
      EXPECT_GT(pid, 0) << name << " left no pid file";
      EXPECT_TRUE(pid > 0 && nvo_test::processAlive(pid)) << name << " (" << pid << ") is gone";
    }
  }
  // Every daemon of `pids` has ended (the script waits for them before it ends).
  static void expectStopped(const std::map<std::string, pid_t>& pids) {
    for (const auto& [name, pid] : pids) {
      EXPECT_TRUE(nvo_test::waitUntil([p = pid] { return !nvo_test::processAlive(p); }, 5s))
          << name << " (" << pid << ") still runs";
    }
  }
};

TEST_F(RunScriptSandboxTest, OneCommandRunsTheSuiteTheConsoleStopsItAndTheDirectoryStays) {
  const std::string stopped = "run: stopped tolmd brenxd vslpd directory";
  std::string computer;
  std::string policyId;
  std::string password;  // the directory's administrator's, made with the directory
  {
    RunInTerminal run;
    const std::vector<std::string> start = run.untilPrompt();
    ASSERT_FALSE(start.empty()) << "no console prompt:\n" << joined(run.lastScreen());
    computer = checkStart(start, true);
    ASSERT_FALSE(computer.empty());
    password = readFile(fs::path(kDirectoryData) / "admin-password");
    ASSERT_FALSE(password.empty());
    const std::map<std::string, pid_t> pids = daemonPids();
    expectRunning(pids);

    // The listener of the second terminal.
    nvo_test::DaemonProcess listener(nvo_test::buildBinary("tolm-listen"), {"demo.event"});
    listener.start();
    ASSERT_TRUE(listener.waitForLine("registered demo.event at ", 30s)) << listener.transcript();

    ScriptedSession& s = run.session();
    s.expect(start);  // checked above
    s.say("ls", {"  orvanta", "Top : "});
    s.say("cd orvanta", {"orvanta : "});
    s.say("cd Workstations", {"Workstations : "});
    const std::string ws = "Workstations : ";
    s.say("ls", workstations(computer, ws));
    const std::string mac = computer.substr(computer.size() - 17);
    s.say("cat " + computer,
          {"Object : " + computer, "  objectID : {ID}", "  objectclass : orvantacomputer",
           "  displayname : " + computer,
           "  objectname : cn=" + computer + ",ou=Workstations,o=orvanta", "  cn : " + computer,
           "  orvantaidtype : 1", "  orvantaid : " + mac, ws});
    // The inventory nvo-inventory reported, as the computer's children.
    s.say("cd " + computer, {computer + " : "});
    s.say("ls", {"  bash/5.2.15/2/amd64", "  tmux/3.3a/3/amd64", computer + " : "});
    s.say("cd ..", {ws});
    s.say("locate policies", {"For which object? : "});
    s.say(computer, {"Nothing found.", ws});
    linkPolicyToUnit(s, "Office desktop", "Workstations", ws);
    s.say("locate policies", {"For which object? : "});
    s.say(computer, {"  {ID}", ws});
    policyId = s.ids().back();
    s.say("resolve cn=Office desktop,ou=Policies,o=orvanta", {"ObjectID is : {ID}", ws});
    EXPECT_EQ(s.ids().back(), policyId);
    s.say("fire demo.event", {"Event signalled", ws});
    const auto notified = listener.waitForLine("NOTIFY event=demo.event ", 15s);
    ASSERT_TRUE(notified) << listener.transcript();
    EXPECT_EQ(listener.lines().at(*notified), "NOTIFY event=demo.event stagger=0 bytes=0 text=");
    EXPECT_EQ(listener.stop(15s), 0) << listener.transcript();

    s.say("quit", {"Disconnecting from nvod (endSession) ...", stopped, "[exit 0]"});
    expectStopped(pids);
  }

  // Again: the same directory with the computer (enrolled again, not twice) and the link.
  {
    RunInTerminal run;
    const std::vector<std::string> start = run.untilPrompt();
    ASSERT_FALSE(start.empty()) << "no console prompt:\n" << joined(run.lastScreen());
    EXPECT_EQ(checkStart(start, false), computer);
    EXPECT_EQ(readFile(fs::path(kDirectoryData) / "admin-password"), password);
    const std::map<std::string, pid_t> pids = daemonPids();
    expectRunning(pids);

    ScriptedSession& s = run.session();
    s.expect(start);  // checked above
    s.say("cd orvanta", {"orvanta : "});
    s.say("cd Workstations", {"Workstations : "});
    const std::string ws = "Workstations : ";
    s.say("ls", workstations(computer, ws));
    s.say("locate policies", {"For which object? : "});
    s.say(computer, {"  {ID}", ws});
    EXPECT_EQ(s.ids().back(), policyId);
    s.terminal().press("C-d");  // end of input leaves as quit does
    s.expect({"Disconnecting from nvod (endSession) ...", stopped, "[exit 0]"});
    expectStopped(pids);
  }
}

}  // namespace
