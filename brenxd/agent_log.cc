#include "brenxd/agent_log.h"

#include "outside/control_text.h"

namespace brenxd {

teska::LogStream& agentLog() {
  static teska::LogStream log(1, kProgramName, true);
  return log;
}

std::string logText(std::string_view text) {
  return teska::escapeControlBytes(text);
}

}  // namespace brenxd
