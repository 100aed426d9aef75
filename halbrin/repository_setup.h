#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "halbrin/directory_connection.h"

namespace halbrin {

// The whole run of the tool: reads `args` (without the program name), refuses over-long
// arguments and DNs before anything is sent, opens a connection through `open`, binds with
// protocol version 3 (the opener's business), detects the directory kind, creates the
// repository OU and the OUs "RPM", "secure" and "pub" below it in that order (the last with the
// kind's access rule), and unbinds. Progress and errors go to `out`; the library's own reports
// go to standard error. Returns the exit code (see command_line.h and ou_creation.h); a failed
// add ends the run without attempting later OUs. Throws only std::bad_alloc.
int runRepositorySetup(const std::vector<std::string>& args, const ConnectionOpener& open,
                       std::ostream& out);

}  // namespace halbrin
