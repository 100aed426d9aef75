#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace halbrin {

// Exit codes of the tool. 4 and 5 come from OU creation (see ou_creation.h).
inline constexpr int kExitSuccess = 0;       // done, or usage shown
inline constexpr int kExitNoHandle = 1;      // the library gave no connection handle
inline constexpr int kExitBindFailed = 2;    // connection or bind refused
inline constexpr int kExitUnbindFailed = 3;  // unbind reported a failure
inline constexpr int kExitTooLong = 6;       // an argument or a built DN over 199 characters

// The five positional arguments, in order.
struct Arguments {
  std::string host;
  int port = 0;
  std::string userDn;
  std::string password;
  std::string repositoryDn;
};

// What reading the command line gave: the arguments to run with, or (when `arguments` is empty)
// the exit code to stop with at once.
struct CommandLine {
  std::optional<Arguments> arguments;
  int exitCode = kExitSuccess;
};

// Writes the three usage lines to `out`.
void printUsage(std::ostream& out);

// Reads `args` (the arguments without the program name). Any count but five prints the usage
// and stops with kExitSuccess. An argument longer than 199 characters prints which one and
// stops with kExitTooLong; the text itself is not echoed, it may be the password. The port is
// read as atoi does (no digits give 0). Throws only std::bad_alloc.
CommandLine readCommandLine(const std::vector<std::string>& args, std::ostream& out);

}  // namespace halbrin
