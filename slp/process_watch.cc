#include "slp/process_watch.h"

#include <signal.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

namespace vslp {
namespace {

struct ProcStat {
  char state = '?';
  unsigned long long startTime = 0;
};

// Fields of /proc/<pid>/stat after the command name, which may itself hold spaces and
// parentheses; the name ends at the last ')'.
std::optional<ProcStat> readStat(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!in || !std::getline(in, line)) {
    return std::nullopt;
  }
  size_t close = line.rfind(')');
  if (close == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(line.substr(close + 1));
  ProcStat stat;
  fields >> stat.state;
  std::string skip;
  // Fields 4..21 lie between the state (3) and the start time (22).
  for (int i = 4; i <= 21 && fields; ++i) {
    fields >> skip;
  }
  fields >> stat.startTime;
  if (!fields) {
    return std::nullopt;
  }
  return stat;
}

bool exists(pid_t pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::optional<ProcessRef> captureProcess(pid_t pid) {
  if (pid <= 0 || !exists(pid)) {
    return std::nullopt;
  }
  auto stat = readStat(pid);
  if (stat && (stat->state == 'Z' || stat->state == 'X')) {
    return std::nullopt;
  }
  return ProcessRef{pid, stat ? stat->startTime : 0};
}

bool processAlive(const ProcessRef& ref) {
  if (!exists(ref.pid)) {
    return false;
  }
  auto stat = readStat(ref.pid);
  if (!stat) {
    return true;  // /proc unreadable: the process exists, nothing more is known
  }
  if (stat->state == 'Z' || stat->state == 'X') {
    return false;
  }
  return ref.startTime == 0 || stat->startTime == ref.startTime;
}

}  // namespace vslp
