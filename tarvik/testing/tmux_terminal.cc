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

bool isIdShape(std::string_view text) {
  if (text.size() != 36) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

// Whether `screen` is the `expected` line (its trailing blanks left out, as the screen is read
// without them), every ID token standing for one object ID; the IDs go to `ids`.
bool lineMatches(std::string_view expected, std::string_view screen,
                 std::vector<std::string>& ids) {
  expected = expected.substr(0, expected.find_last_not_of(' ') + 1);
  const std::string_view token = kIdToken;
  std::size_t j = 0;
  for (std::size_t i = 0; i < expected.size();) {
    if (expected.substr(i, token.size()) == token) {
      if (!isIdShape(screen.substr(j, 36))) {
        return false;
      }
      ids.emplace_back(screen.substr(j, 36));
      i += token.size();
      j += 36;
    } else if (j < screen.size() && screen[j] == expected[i]) {
      ++i;
      ++j;
    } else {
      return false;
    }
  }
  return j == screen.size();
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
      "-x", "1000",        "-y",          "50",
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
    if (!lineMatches(expected_[i], screen[i], ids)) {
      return false;
    }
  }
  ids_ = std::move(ids);
  return true;
}

void ScriptedSession::expect(const std::vector<std::string>& lines) {
  expected_.insert(expected_.end(), lines.begin(), lines.end());
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
