#include "outside/log_stream.h"

#include <strings.h>
#include <syslog.h>

#include <cstdio>
#include <utility>

namespace teska {
namespace {

struct LevelName {
  const char* name;
  int value;
};

// Syslog's short names first, then the manipulator names.
constexpr LevelName kLevelNames[] = {
    {"EMERG", 0}, {"ALERT", 1}, {"CRIT", 2},      {"ERR", 3},      {"WARN", 4},  {"NOTICE", 5},
    {"INFO", 6},  {"DEBUG", 7}, {"EMERGENCY", 0}, {"CRITICAL", 2}, {"ERROR", 3}, {"WARNING", 4},
};

using Manipulator = std::ostream& (*)(std::ostream&);

}  // namespace

LogStream::LogStream(int /*facilityFlag*/, std::string name, bool routeToSysLog)
    : name_(std::move(name)), toSysLog_(routeToSysLog) {
  openlog(name_.c_str(), LOG_PID, LOG_DAEMON);
}

LogStream::~LogStream() {
  closelog();
}

void LogStream::setMaxLevel(int level) {
  if (level >= 0 && level <= 7) {
    maxLevel_.store(level);
  }
}

int LogStream::maxLevel() const {
  return maxLevel_.load();
}

void LogStream::setRouteToSysLog(bool toSysLog) {
  toSysLog_.store(toSysLog);
}

int LogStream::getLevelFromString(const std::string& text) {
  for (const LevelName& level : kLevelNames) {
    if (strcasecmp(text.c_str(), level.name) == 0) {
      return level.value;
    }
  }
  return -1;
}

LogStream& LogStream::operator<<(Level level) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& line = lines_[std::this_thread::get_id()];
  line.first = level.value;
  line.second.str(std::string());
  return *this;
}

LogStream& LogStream::operator<<(Manipulator manip) {
  if (manip != static_cast<Manipulator>(std::endl<char, std::char_traits<char>>)) {
    manip(lineFor(std::this_thread::get_id()));
    return *this;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = lines_.find(std::this_thread::get_id());
  if (found == lines_.end()) {
    return *this;  // an empty line without a level: nothing to say
  }
  const int level = found->second.first;
  std::string text = std::move(found->second.second).str();
  lines_.erase(found);
  if (level <= maxLevel_.load()) {
    emit(level, text);
  }
  return *this;
}

std::ostringstream& LogStream::lineFor(std::thread::id id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [entry, inserted] = lines_.try_emplace(id);
  if (inserted) {
    entry->second.first = info.value;
  }
  return entry->second.second;
}

// Called with mutex_ held, so lines of different threads never interleave.
void LogStream::emit(int level, const std::string& text) {
  if (toSysLog_.load()) {
    syslog(level, "%s", text.c_str());
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace teska
