#include "tolmd/daemon_log.h"

#include <strings.h>
#include <syslog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

namespace tolmd {
namespace {

std::atomic<int> gLogLevel{kLogInfo};
std::atomic<bool> gToStandardOutput{false};
// Keeps a line and its flush together when several threads log at once.
std::mutex gOutputMutex;

constexpr const char* kLevelNames[] = {"EMERG", "ALERT",  "CRIT", "ERR",
                                       "WARN",  "NOTICE", "INFO", "DEBUG"};

}  // namespace

void setLogLevel(int level) {
  gLogLevel = level;
}

int logLevel() {
  return gLogLevel;
}

void setLogToStandardOutput(bool toStandardOutput) {
  gToStandardOutput = toStandardOutput;
}

int logLevelFromName(const std::string& name) {
  for (int level = kLogEmerg; level <= kLogDebug; ++level) {
    if (::strcasecmp(name.c_str(), kLevelNames[level]) == 0) {
      return level;
    }
  }
  return -1;
}

int daemonLog(int level, const char* format, ...) {
  if (level > gLogLevel) {
    return 0;
  }
  std::vector<char> buffer;
  int length = 0;
  try {
    // Grow until the text fits: a negative result (old C libraries) doubles the buffer, a
    // result at or above the size gives the exact size needed.
    buffer.resize(100);
    for (;;) {
      va_list args;
      va_start(args, format);
      length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
      va_end(args);
      if (length >= 0 && static_cast<std::size_t>(length) < buffer.size()) {
        break;
      }
      buffer.resize(length < 0 ? buffer.size() * 2 : static_cast<std::size_t>(length) + 1);
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (gToStandardOutput) {
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::puts(buffer.data());
    std::fflush(stdout);
  } else {
    ::syslog(level, "%s", buffer.data());
  }
  return length;
}

void daemonLogStars(int level, int count) {
  std::string stars(static_cast<std::size_t>(count > 0 ? count : 0), '*');
  daemonLog(level, "%s", stars.c_str());
}

void daemonLogSocketFailure(int level, const teska::SocketException& e, bool withMessage) {
  daemonLog(level, "* Errno: %d", e.errornum());
  daemonLog(level, "* What: %s", e.what());
  daemonLog(level, "* Where: %s", e.where().c_str());
  if (withMessage) {
    daemonLog(level, "* Msg: %s", e.getMessage().c_str());
  }
}

}  // namespace tolmd
