// The vslptool program: the administrator's command line for SLP lookups and registrations.
// Commands are one table of {name, usage, handler} that drives both dispatch and help.
// Output is meant for scripts: one result per line, nothing else on standard output;
// diagnostics go to standard error. Main thread only.
#ifndef SLP_TOOL_H_
#define SLP_TOOL_H_

#include <string>
#include <vector>

namespace vslp {

// Runs vslptool with `args` (without the program name). Returns 0 on success, 1 when the
// operation failed (an agent refused, no agent reachable), 2 on a usage error.
int runTool(const std::vector<std::string>& args);

}  // namespace vslp

#endif  // SLP_TOOL_H_
