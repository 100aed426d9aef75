// Identification of registering processes, so registrations can be withdrawn when their
// process is gone (the 0x9799 extension carries the process id). A process is identified by
// its id and its start time, so a recycled process id is not mistaken for the original.
// Reads /proc; any thread.
#ifndef SLP_PROCESS_WATCH_H_
#define SLP_PROCESS_WATCH_H_

#include <optional>

#include <sys/types.h>

namespace vslp {

struct ProcessRef {
  pid_t pid = 0;
  unsigned long long startTime = 0;  // clock ticks after boot; 0 when /proc was unreadable
  bool operator==(const ProcessRef&) const = default;
};

// The running process `pid`; empty when no such process exists (or it is a zombie) or
// `pid` is not positive.
std::optional<ProcessRef> captureProcess(pid_t pid);

// True while the process `ref` names still runs: it exists, is no zombie, and (when its start
// time was known) started at the same time.
bool processAlive(const ProcessRef& ref);

}  // namespace vslp

#endif  // SLP_PROCESS_WATCH_H_
