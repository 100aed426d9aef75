// The command engine: one gateway command document in, directory operations done, one reply
// document out. Two steps, so that the translation can be tested and fuzzed without a server:
//
//   1. parseCommand (pure): the command document's root element becomes a typed Command, with
//      every filter and DN it will need built and escaped. A malformed or unknown command
//      throws CommandError with one of the engine's own error numbers.
//   2. CommandEngine::execute: runs a Command against a Directory and returns the reply text,
//      a complete `commandResult` document. Directory failures become an `error` element with
//      the LDAP result code and text (see docs/gateway.md for every command's reply).
//
// The engine keeps no state between commands but the directory's naming contexts, read once,
// and is used by one thread at a time.
#ifndef GATEWAY_COMMAND_ENGINE_H_
#define GATEWAY_COMMAND_ENGINE_H_

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/directory.h"
#include "gateway/dom_node.h"
#include "gateway/element_tree.h"

namespace nvo {

// A command the engine refuses before touching the directory. Numbers: see docs/gateway.md
// (the engine's own range, apart from LDAP result codes).
class CommandError : public std::runtime_error {
 public:
  CommandError(int number, const std::string& message)
      : std::runtime_error(message), number_(number) {}
  int number() const { return number_; }

 private:
  int number_;
};

struct Command;  // command.h: the typed form of every command, and parseCommand

// Runs command documents against one directory connection.
class CommandEngine {
 public:
  // `directory` must outlive the engine.
  explicit CommandEngine(Directory& directory) : directory_(directory) {}

  // Parses and runs the command whose document element is `command` and returns the reply
  // document text (a `commandResult` root, with an `error` child on failure). Never throws for
  // a bad command or a failed directory operation: both become error replies.
  std::string execute(DOM_Node command);
  // The same for a command document read into a tree.
  std::string execute(const xml::ElementTree& command);

 private:
  template <typename Parse>
  std::string run(Parse parse);

  Directory& directory_;
  std::optional<std::vector<std::string>> namingContexts_;
};

// Builds the reply document text for an error: <commandResult><error><errorNum>N</errorNum>
// <errorMsg>TEXT</errorMsg></error></commandResult>, texts escaped.
std::string errorReply(int number, const std::string& message);

}  // namespace nvo

#endif  // GATEWAY_COMMAND_ENGINE_H_
