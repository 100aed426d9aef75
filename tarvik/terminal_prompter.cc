#include "tarvik/terminal_prompter.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include <readline/readline.h>

namespace tarvik {
namespace {

// Readline's callbacks are plain functions: they reach the prompter through this pointer.
TerminalPrompter* activePrompter = nullptr;

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

// Replaces the text from `start` to the cursor with `text`, as one undo step.
void replaceBeforeCursor(std::size_t start, const std::string& text) {
  rl_begin_undo_group();
  rl_delete_text(static_cast<int>(start), rl_point);
  rl_point = static_cast<int>(start);
  rl_insert_text(text.c_str());
  rl_end_undo_group();
}

// Lists the candidates below the line and redraws the prompt and the line.
void showCandidates(const std::vector<std::string>& candidates, const std::string& prefix) {
  std::vector<CString> owned;
  owned.emplace_back(strdup(prefix.c_str()));
  int width = 0;
  for (const std::string& c : candidates) {
    owned.emplace_back(strdup(c.c_str()));
    width = std::max(width, static_cast<int>(c.size()));
  }
  std::vector<char*> matches;
  for (const CString& s : owned) {
    matches.push_back(s.get());
  }
  matches.push_back(nullptr);
  rl_display_match_list(matches.data(), static_cast<int>(candidates.size()), width);
  rl_forced_update_display();
}

}  // namespace

TerminalPrompter::TerminalPrompter(Completer completer) : completer_(std::move(completer)) {
  activePrompter = this;
  rl_readline_name = "tarvik";
  rl_initialize();
  rl_bind_key('\t', &TerminalPrompter::onTab);
}

TerminalPrompter::~TerminalPrompter() {
  rl_bind_key('\t', rl_complete);
  activePrompter = nullptr;
}

int TerminalPrompter::onTab(int /*count*/, int /*key*/) {
  if (activePrompter == nullptr) {
    return 0;
  }
  const std::size_t point = static_cast<std::size_t>(rl_point);
  Completion c = activePrompter->completer_(std::string_view(rl_line_buffer, point));
  if (c.candidates.empty()) {
    rl_ding();
    return 0;
  }
  if (c.candidates.size() == 1) {
    replaceBeforeCursor(c.start, c.candidates.front() + (c.appendBlank ? " " : ""));
    return 0;
  }
  const std::string prefix = commonPrefix(c.candidates);
  if (prefix.size() > point - c.start) {
    replaceBeforeCursor(c.start, prefix);
  } else {
    showCandidates(c.candidates, prefix);
  }
  return 0;
}

std::optional<std::string> TerminalPrompter::askLine(const std::string& prompt) {
  std::cout.flush();
  CString line(readline(prompt.c_str()));
  if (!line) {
    return std::nullopt;
  }
  return std::string(line.get());
}

std::optional<std::string> TerminalPrompter::askStream(const std::string& prompt) {
  std::cout << prompt << std::flush;
  std::string answer;
  bool readAny = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // A last line without its newline still counts; nothing at all is a failed read.
      return readAny ? std::optional<std::string>(answer) : std::nullopt;
    }
    readAny = true;
    if (c == '\n') {
      return answer;
    }
    if (answer.size() < kMaxStreamLine) {
      answer.push_back(c);
    }
  }
}

std::string TerminalPrompter::askPassword(const std::string& prompt) {
  std::cout.flush();
  char* typed = getpass(prompt.c_str());
  if (typed == nullptr) {
    return {};
  }
  std::string password(typed);
  explicit_bzero(typed, password.size());
  return password;
}

}  // namespace tarvik
