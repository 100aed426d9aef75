#include "slp/pid_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include <sys/file.h>

namespace vslp {

PidFile::PidFile(std::string path) : path_(std::move(path)) {
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    throwErrno("open " + path_);
  }
  fd_ = UniqueFd(fd);
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    throwErrno("lock " + path_ + " (already running?)");
  }
}

PidFile::~PidFile() {
  if (fd_.valid()) {
    [[maybe_unused]] int r = ::ftruncate(fd_.get(), 0);
    ::unlink(path_.c_str());  // fails after dropping privileges; the empty file stays
  }
}

void PidFile::writePid() {
  std::string text = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_.get(), 0) != 0 ||
      ::pwrite(fd_.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    throwErrno("write " + path_);
  }
}

std::optional<pid_t> PidFile::readPid(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  if (!(in >> pid) || pid <= 0) {
    return std::nullopt;
  }
  return static_cast<pid_t>(pid);
}

}  // namespace vslp
