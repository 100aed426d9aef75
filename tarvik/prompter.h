// Prompter: the console's two ways of asking the user a question, and the password question,
// behind one interface so that the commands do not depend on the terminal.
//
// A line-editor question goes through the line editor; a stream question writes its prompt to
// standard output without a newline and reads one line from standard input. Answers never
// carry their newline. End of input is reported as no answer (std::nullopt), so each caller
// decides what it means there: most questions take it as an empty answer, the command prompt
// and the questions that would be asked again stop instead.
#ifndef TARVIK_PROMPTER_H_
#define TARVIK_PROMPTER_H_

#include <optional>
#include <string>

namespace tarvik {

class Prompter {
 public:
  virtual ~Prompter() = default;

  // Line-editor question. Nothing is added to the editor's history. No answer at end of input.
  virtual std::optional<std::string> askLine(const std::string& prompt) = 0;
  // Stream question. No answer when the read fails (end of input or a stream error).
  virtual std::optional<std::string> askStream(const std::string& prompt) = 0;
  // Asks on the terminal without echo. Empty when nothing could be read.
  virtual std::string askPassword(const std::string& prompt) = 0;
};

}  // namespace tarvik

#endif  // TARVIK_PROMPTER_H_
