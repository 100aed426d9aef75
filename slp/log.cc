#include "slp/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace vslp {
namespace {

enum class Sink { kStderr, kStdout, kSyslog };

std::mutex gMutex;
Sink gSink = Sink::kStderr;
int gMaxLevel = LOG_WARNING;

const char* levelName(int level) {
  static const char* const kNames[] = {"EMERG", "ALERT",  "CRIT", "ERR",
                                       "WARN",  "NOTICE", "INFO", "DEBUG"};
  return (level >= 0 && level <= LOG_DEBUG) ? kNames[level] : "?";
}

}  // namespace

void openLog(bool foreground, int maxLevel) {
  std::lock_guard<std::mutex> lock(gMutex);
  gMaxLevel = maxLevel;
  gSink = foreground ? Sink::kStdout : Sink::kSyslog;
  if (!foreground) {
    ::openlog("vslpd", LOG_PID | LOG_NDELAY, LOG_DAEMON);
  }
}

void logMessage(int level, const char* format, ...) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (level > gMaxLevel) {
    return;
  }
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (gSink == Sink::kSyslog) {
    ::syslog(level, "%s", text);
    return;
  }
  FILE* out = gSink == Sink::kStdout ? stdout : stderr;
  std::fprintf(out, "vslpd %s: %s\n", levelName(level), text);
  std::fflush(out);
}

}  // namespace vslp
