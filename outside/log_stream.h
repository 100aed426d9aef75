// LogStream: a line-oriented log to syslog or standard output with syslog priorities as levels
// (EMERG 0 ... DEBUG 7). A line starts with a level manipulator and ends with std::endl:
//   log << teska::LogStream::info << "text " << 42 << std::endl;
// Lines above the maximum level are dropped. Each thread builds its own line; complete lines
// are written under a lock, so any thread may log.
#ifndef OUTSIDE_LOG_STREAM_H_
#define OUTSIDE_LOG_STREAM_H_

#include <atomic>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

namespace teska {

class LogStream {
 public:
  struct Level {
    int value;
  };
  static constexpr Level emergency{0}, alert{1}, critical{2}, error{3}, warning{4}, notice{5},
      info{6}, debug{7};

  // `facilityFlag` is accepted for interface compatibility (callers pass 1); `name` is the
  // program name; `routeToSysLog` starts the routing to syslog (true) or standard output.
  // The syslog identity is `name` (with the pid, facility LOG_DAEMON).
  LogStream(int facilityFlag, std::string name, bool routeToSysLog);
  // Withdraws the syslog identity, which points into this object.
  ~LogStream();
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  void setMaxLevel(int level);  // 0..7; other values are ignored
  int maxLevel() const;
  void setRouteToSysLog(bool toSysLog);

  // The level named by `text` (EMERG, ALERT, CRIT, ERR, WARN, NOTICE, INFO, DEBUG, also the
  // manipulator names; any case), or -1.
  static int getLevelFromString(const std::string& text);

  // Starts a line at `level`, dropping an unfinished line of this thread. Text inserted
  // without a level first goes out at info.
  LogStream& operator<<(Level level);
  // std::endl ends the line and writes it when its level is within the maximum; other
  // manipulators (std::hex, ...) apply to the line being built.
  LogStream& operator<<(std::ostream& (*manip)(std::ostream&));
  template <class T>
  LogStream& operator<<(const T& value) {
    lineFor(std::this_thread::get_id()) << value;
    return *this;
  }

 private:
  std::ostringstream& lineFor(std::thread::id id);
  void emit(int level, const std::string& text);

  std::string name_;
  std::atomic<int> maxLevel_{6};
  std::atomic<bool> toSysLog_;
  // Guards lines_ (and serialises output). Each thread touches only its own entry's stream,
  // which std::map keeps in place while other entries come and go.
  std::mutex mutex_;
  std::map<std::thread::id, std::pair<int, std::ostringstream>> lines_;
};

}  // namespace teska

#endif  // OUTSIDE_LOG_STREAM_H_
