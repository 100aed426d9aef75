// The agent's one log stream and its program name.
#ifndef BRENXD_AGENT_LOG_H_
#define BRENXD_AGENT_LOG_H_

#include "outside/log_stream.h"

namespace brenxd {

inline constexpr char kProgramName[] = "brenxd";

// The process's one log stream, built on first use with (1, "brenxd", true): to syslog until
// the frame routes it to standard output for -d. Any thread may log through it.
teska::LogStream& agentLog();

}  // namespace brenxd

#endif  // BRENXD_AGENT_LOG_H_
