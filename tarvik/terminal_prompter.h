// TerminalPrompter: the Prompter of the real console. Line-editor questions go through GNU
// readline (nothing is ever added to its history); stream questions write their prompt to
// standard output and read standard input one byte at a time, so that no read ever takes bytes
// that a later line-editor question should see; the password goes through getpass, whose
// buffer is wiped once the answer is copied.
//
// Tab runs the completer given at construction on the text before the cursor (see
// completion.h). Only one TerminalPrompter may exist at a time (readline is process-wide);
// neither copied nor moved.
#ifndef TARVIK_TERMINAL_PROMPTER_H_
#define TARVIK_TERMINAL_PROMPTER_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "tarvik/completion.h"
#include "tarvik/prompter.h"

namespace tarvik {

class TerminalPrompter : public Prompter {
 public:
  using Completer = std::function<Completion(std::string_view lineBeforeCursor)>;

  // Sets readline up for this program and binds Tab to `completer`.
  explicit TerminalPrompter(Completer completer);
  TerminalPrompter(const TerminalPrompter&) = delete;
  TerminalPrompter& operator=(const TerminalPrompter&) = delete;
  ~TerminalPrompter() override;

  std::optional<std::string> askLine(const std::string& prompt) override;
  std::optional<std::string> askStream(const std::string& prompt) override;
  std::string askPassword(const std::string& prompt) override;

  // Longest answer a stream question keeps; the rest of a longer line is read and dropped.
  static constexpr std::size_t kMaxStreamLine = 64 * 1024;

 private:
  static int onTab(int count, int key);

  Completer completer_;
};

}  // namespace tarvik

#endif  // TARVIK_TERMINAL_PROMPTER_H_
