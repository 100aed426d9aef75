#include "brenxd/agent_log.h"

namespace brenxd {

teska::LogStream& agentLog() {
  static teska::LogStream log(1, kProgramName, true);
  return log;
}

}  // namespace brenxd
