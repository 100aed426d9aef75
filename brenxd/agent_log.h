// The agent's one log stream and its program name.
#ifndef BRENXD_AGENT_LOG_H_
#define BRENXD_AGENT_LOG_H_

#include <string>
#include <string_view>

#include "outside/log_stream.h"

namespace brenxd {

inline constexpr char kProgramName[] = "brenxd";

// The process's one log stream, built on first use with (1, "brenxd", true): to syslog until
// the frame routes it to standard output for -d. Any thread may log through it.
teska::LogStream& agentLog();

// `text` as it may stand in a log line when it came from the network (a MAC text, a host name,
// a name or message built from them): control bytes escaped as "\xNN" (see
// outside/control_text.h), so a client cannot end a line or forge the next one; every other
// byte kept.
std::string logText(std::string_view text);

}  // namespace brenxd

#endif  // BRENXD_AGENT_LOG_H_
