// The common ways every console command talks to the gateway: the text form of a command
// document, sending it (text form or builder form) over the console's one session, and the
// command-result check with its two-line error print.
//
// Answers are node handles into the session's last reply: valid until the next call.
#ifndef TARVIK_COMMAND_FORMS_H_
#define TARVIK_COMMAND_FORMS_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/dom_node.h"
#include "gateway/mux_client.h"
#include "gateway/xml_parser.h"

namespace tarvik {

inline constexpr std::string_view kXmlDeclaration = "<?xml version='1.0' encoding='UTF-8'?>";

// What a command prints when a stream question it cannot do without gets no answer.
inline constexpr const char* kAnswerUnread = "ERROR: Unable to read answer!\n";

// A command document built as text: the declaration, the opening `command` element, the pieces
// appended in order (verbatim: values typed by the user are not escaped unless the caller
// escapes them), and the closing tag that text() adds.
class TextCommand {
 public:
  TextCommand(std::string_view category, std::string_view name);
  // Appends raw XML.
  TextCommand& append(std::string_view raw);
  // Appends <tag>value</tag>, the value verbatim.
  TextCommand& element(std::string_view tag, std::string_view value);
  // The whole document, closed with </command>.
  std::string text() const;

 private:
  std::string text_;
};

// Sends commands over the console's session. Copyable handle; the session outlives it.
class Gateway {
 public:
  explicit Gateway(nvo::MUXClient& session) : session_(&session) {}

  // Builder form: the builder's getXML(true), sent as it is.
  nvo::DOM_Node send(const nvo::XMLParser& builder);
  // Text form: the text converted to UTF-8 (XMLParser::makeUTF8String), then sent.
  nvo::DOM_Node send(const TextCommand& command);
  nvo::DOM_Node sendText(const std::string& text);

 private:
  nvo::DOM_Node call(const std::string& document);

  nvo::MUXClient* session_;
};

// Simple child elements of a command: tag and text, in order.
using Tags = std::vector<std::pair<std::string, std::string>>;

// A builder-form command with its simple tags already added, in order.
void startBuilder(nvo::XMLParser& builder, const std::string& name, const std::string& category,
                  const Tags& tags);

// What the command-result check found.
enum class Outcome {
  kUnusable,  // no answer, or its root is not commandResult
  kError,     // a commandResult carrying an error (printed)
  kOk,        // a commandResult without error
};

// True when `answer` is a commandResult.
bool isCommandResult(nvo::DOM_Node answer);
// The error check: when `answer` has an `error` child, prints "Error : " + errorNum and
// "Msg   : " + errorMsg on two lines and returns true.
bool printError(nvo::DOM_Node answer, std::ostream& out);
// Both steps: usable at all, then the error check.
Outcome checkResult(nvo::DOM_Node answer, std::ostream& out);

// The child elements of an answer named `name`, in document order.
std::vector<nvo::DOM_Node> childrenNamed(nvo::DOM_Node answer, const std::string& name);
// The `object` children of an answer, in document order.
std::vector<nvo::DOM_Node> objectsOf(nvo::DOM_Node answer);

// The text of the child element `name` of `node`, empty when absent.
std::string childText(nvo::DOM_Node node, const std::string& name);

}  // namespace tarvik

#endif  // TARVIK_COMMAND_FORMS_H_
