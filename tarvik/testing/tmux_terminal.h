// TmuxTerminal: one program on a real pseudo-terminal, in a detached pane of a private tmux
// server (its own socket in a temporary directory), driven by keys and read back from the
// screen. When the program ends, the pane shows "[exit N]" with its exit status.
//
// ScriptedSession checks such a screen line by line: the test states the lines it expects next
// and the session waits (bounded) until the whole screen is exactly the lines stated so far. In
// an expected line, "{ID}" stands for an object ID (8-4-4-4-12 lower-case hex digits); the IDs
// seen are kept in order so that a test can compare them.
//
// Both are used from the test thread only; neither is copied nor moved.
#ifndef TARVIK_TESTING_TMUX_TERMINAL_H_
#define TARVIK_TESTING_TMUX_TERMINAL_H_

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik_test {

class TmuxTerminal {
 public:
  // The path of tmux, empty when it is not installed.
  static std::string tmuxPath();

  // Starts `argv` under /usr/bin/env with `env` ("NAME=value" sets, "-NAME" unsets) in a pane
  // of 1000 columns (no line wraps, a cached reply included) by 50 rows. Throws std::runtime_error
  // when tmux fails.
  TmuxTerminal(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  TmuxTerminal(const TmuxTerminal&) = delete;
  TmuxTerminal& operator=(const TmuxTerminal&) = delete;
  // Ends the tmux server (and the program in it) and removes the temporary directory.
  ~TmuxTerminal();

  // Types `text` literally.
  void type(const std::string& text);
  // Presses one key by tmux's name: "Enter", "Tab", "C-d", "C-u".
  void press(const std::string& key);
  // Every line from the start of the session to the last non-empty one. Trailing blanks are
  // removed unless `keepBlanks` (then each line is exactly as written).
  std::vector<std::string> lines(bool keepBlanks = false) const;

 private:
  std::string tmux(const std::vector<std::string>& args) const;

  std::filesystem::path dir_;
  std::string socket_;
};

class ScriptedSession {
 public:
  explicit ScriptedSession(TmuxTerminal& terminal) : terminal_(terminal) {}

  // The screen continues with `lines`; the last is where the cursor waits (a prompt, stated
  // exactly as the program writes it). Lines are compared without their trailing blanks. Waits
  // until the screen is exactly what was expected so far; throws std::runtime_error, showing
  // both, when it is not within 20 seconds.
  void expect(const std::vector<std::string>& lines);
  // Types `text` and Enter at the prompt expected last, which then shows the answer after it.
  void answer(const std::string& text);
  // Like answer, for a question that does not echo (the password).
  void answerUnseen(const std::string& text);
  // answer(text) followed by expect(lines).
  void say(const std::string& text, const std::vector<std::string>& lines) {
    answer(text);
    expect(lines);
  }
  // The line the cursor is on continues with `text` (typed or completed by the test itself).
  void shows(const std::string& text);
  // Presses Enter, then expect(lines).
  void enter(const std::vector<std::string>& lines);
  // The object IDs matched so far, in screen order.
  const std::vector<std::string>& ids() const { return ids_; }
  TmuxTerminal& terminal() { return terminal_; }

 private:
  bool matches(const std::vector<std::string>& screen);

  TmuxTerminal& terminal_;
  std::vector<std::string> expected_;
  std::vector<std::string> ids_;
};

}  // namespace tarvik_test

#endif  // TARVIK_TESTING_TMUX_TERMINAL_H_
