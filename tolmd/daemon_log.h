// daemonLog: the one logging function of the event daemon, and its two settings.
//
// Lines go to syslog with the level as priority, or, in debug mode, to standard output (one
// line per call, flushed at once). The formatted text is always handed on as literal text, so
// a '%' inside an event name or a peer's text can never act as a format directive. Any thread
// may log; the settings are atomic and normally set once by the frame before threads start.
#ifndef TOLMD_DAEMON_LOG_H_
#define TOLMD_DAEMON_LOG_H_

#include <string>

#include "outside/socket_exception.h"

namespace tolmd {

// Log levels: the syslog priorities.
inline constexpr int kLogEmerg = 0;
inline constexpr int kLogAlert = 1;
inline constexpr int kLogCrit = 2;
inline constexpr int kLogErr = 3;
inline constexpr int kLogWarn = 4;
inline constexpr int kLogNotice = 5;
inline constexpr int kLogInfo = 6;
inline constexpr int kLogDebug = 7;

// Highest level still logged (default kLogInfo).
void setLogLevel(int level);
int logLevel();
// True: write to standard output (debug mode); false: syslog (default).
void setLogToStandardOutput(bool toStandardOutput);

// The level named by `name` (EMERG, ALERT, CRIT, ERR, WARN, NOTICE, INFO, DEBUG, in any
// case), or -1 for any other text.
int logLevelFromName(const std::string& name);

// Formats like printf and logs the text at `level`. Returns the text length, 0 when `level` is
// above the current maximum (nothing logged), -1 when no buffer could be had.
int daemonLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Logs a line of `count` asterisks, the frame of the daemon's exception reports.
void daemonLogStars(int level, int count);

// Logs the lines of an exception report that describe a socket failure: "* Errno: %d",
// "* What: %s", "* Where: %s" and, with `withMessage`, "* Msg: %s".
void daemonLogSocketFailure(int level, const teska::SocketException& e, bool withMessage = true);

}  // namespace tolmd

#endif  // TOLMD_DAEMON_LOG_H_
