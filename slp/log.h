// Logging of the daemon: to syslog (facility daemon, identity "vslpd"), or to standard output
// in foreground mode, with the syslog priorities as levels (LOG_ERR 3 .. LOG_DEBUG 7).
// Messages above the maximum level are dropped. Texts begin with the writer's class and
// method ("ServiceLoop::run ..."). Until openLog() is called messages go to standard error
// with maximum level LOG_WARNING, which keeps tests quiet. Thread-safe.
#ifndef SLP_LOG_H_
#define SLP_LOG_H_

#include <syslog.h>

namespace vslp {

// Selects the destination and the maximum level.
void openLog(bool foreground, int maxLevel);

// Writes one message (printf format) at `level`.
void logMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace vslp

#endif  // SLP_LOG_H_
