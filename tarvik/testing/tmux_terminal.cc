#include "tarvik/testing/tmux_terminal.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

namespace tarvik_test {
namespace {

constexpr auto kScreenWait = std::chrono::seconds(20);
constexpr auto kPoll = std::chrono::milliseconds(50);
constexpr const char* kIdToken = "{ID}";
constexpr const char* kIdPattern = "([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})";

std::filesystem::path makeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-tty-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary directory");
  }
  return pattern;
}

// An expected line as a regular expression: every character literal except the ID token, and
// trailing blanks left out, as the screen is read without them.
std::regex linePattern(std::string line) {
  static const std::string kSpecial = "\\^$.|?*+()[]{}";
  line.erase(line.find_last_not_of(' ') + 1);
  std::string pattern;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line.compare(i, 4, kIdToken) == 0) {
      pattern += kIdPattern;
      i += 3;
      continue;
    }
    if (kSpecial.find(line[i]) != std::string::npos) {
      pattern += '\\';
    }
    pattern += line[i];
  }
  return std::regex(pattern);
}

std::string showLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    text += "  |" + l + "|\n";
  }
  return text;
}

}  // namespace

std::string TmuxTerminal::tmuxPath() {
  for (const char* candidate : {"/usr/bin/tmux", "/bin/tmux", "/usr/local/bin/tmux"}) {
    if (std::filesystem::exists(candidate)) {
      return candidate;
    }
  }
  return {};
}

TmuxTerminal::TmuxTerminal(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env)
    : dir_(makeTempDir()), socket_((dir_ / "socket").string()) {
  const std::string config = (dir_ / "tmux.conf").string();
  std::ofstream(config) << "set -g history-limit 100000\nset -g status off\n";
  // The shell reports the exit status and keeps the pane open for the last screen.
  std::vector<std::string> args{
      "-f", config,        "new-session", "-d",
      "-x", "250",         "-y",          "50",
      "--", "/bin/sh",     "-c",          "\"$@\"; echo \"[exit $?]\"; exec sleep 3600",
      "sh", "/usr/bin/env"};
  // env takes its -u options before the assignments.
  for (const std::string& e : env) {
    if (!e.empty() && e[0] == '-') {
      args.insert(args.end(), {"-u", e.substr(1)});
    }
  }
  for (const std::string& e : env) {
    if (e.empty() || e[0] != '-') {
      args.push_back(e);
    }
  }
  args.insert(args.end(), argv.begin(), argv.end());
  tmux(args);
}

TmuxTerminal::~TmuxTerminal() {
  try {
    tmux({"kill-server"});
  } catch (const std::exception&) {
    // The server may be gone already; nothing is left to stop then.
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string TmuxTerminal::tmux(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{tmuxPath(), "-S", socket_};
  argv.insert(argv.end(), args.begin(), args.end());
  nvo_test::ProcessResult r = nvo_test::runCommand(argv, {}, std::chrono::seconds(10));
  if (r.exitCode != 0) {
    throw std::runtime_error("tmux " + args.front() + " failed: " + r.err);
  }
  return r.out;
}

void TmuxTerminal::type(const std::string& text) {
  if (!text.empty()) {
    tmux({"send-keys", "-t", "0", "-l", "--", text});
  }
}

void TmuxTerminal::press(const std::string& key) {
  tmux({"send-keys", "-t", "0", key});
}

std::vector<std::string> TmuxTerminal::lines(bool keepBlanks) const {
  std::vector<std::string> args{"capture-pane", "-p", "-t", "0", "-S", "-"};
  if (keepBlanks) {
    args.push_back("-N");
  }
  std::istringstream text(tmux(args));
  std::vector<std::string> result;
  for (std::string line; std::getline(text, line);) {
    if (!keepBlanks) {
      line.erase(line.find_last_not_of(' ') + 1);
    }
    result.push_back(line);
  }
  while (!result.empty() && result.back().find_first_not_of(' ') == std::string::npos) {
    result.pop_back();
  }
  return result;
}

bool ScriptedSession::matches(const std::vector<std::string>& screen) {
  if (screen.size() != expected_.size()) {
    return false;
  }
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < screen.size(); ++i) {
    std::smatch m;
    if (!std::regex_match(screen[i], m, patterns_[i])) {
      return false;
    }
    for (std::size_t g = 1; g < m.size(); ++g) {
      ids.push_back(m[g]);
    }
  }
  ids_ = std::move(ids);
  return true;
}

void ScriptedSession::expect(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    expected_.push_back(line);
    patterns_.push_back(linePattern(line));
  }
  const auto deadline = std::chrono::steady_clock::now() + kScreenWait;
  std::vector<std::string> screen;
  for (;;) {
    screen = terminal_.lines();
    if (matches(screen)) {
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      break;
    }
    std::this_thread::sleep_for(kPoll);
  }
  throw std::runtime_error("the screen is not as expected.\nexpected:\n" + showLines(expected_) +
                           "screen:\n" + showLines(screen));
}

void ScriptedSession::shows(const std::string& text) {
  expected_.back() += text;
  patterns_.back() = linePattern(expected_.back());
}

void ScriptedSession::enter(const std::vector<std::string>& lines) {
  terminal_.press("Enter");
  expect(lines);
}

void ScriptedSession::answer(const std::string& text) {
  shows(text);
  answerUnseen(text);
}

void ScriptedSession::answerUnseen(const std::string& text) {
  terminal_.type(text);
  terminal_.press("Enter");
}

}  // namespace tarvik_test
