#include "outside/pid_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include <sys/file.h>

namespace teska {
namespace {

// Owns one descriptor; closing keeps the errno of the failure being reported.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool writeAll(int fd, const char* text, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pwrite(fd, text + done, length - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The first decimal integer of `text` as fscanf("%d") finds it: optional white space, an
// optional sign, digits. -1 when there is none or it does not fit an int.
long firstInteger(const char* text) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) {
    ++p;
  }
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') {
    ++p;
  }
  if (!std::isdigit(static_cast<unsigned char>(*p))) {
    return -1;
  }
  long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) {
      return -1;
    }
  }
  return negative ? -value : value;
}

}  // namespace

int PidFile::writePid(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (file.get() < 0) {
    return -1;
  }
  // A refused lock means another instance is writing its pid right now: report failure.
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    return -1;
  }
  const int pid = static_cast<int>(::getpid());
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%d\n", pid);
  // Truncating only now, under the lock, drops the tail of a longer earlier pid without ever
  // emptying a file that another instance holds.
  const bool ok = length > 0 && writeAll(file.get(), text, static_cast<std::size_t>(length)) &&
                  ::ftruncate(file.get(), length) == 0 && ::fsync(file.get()) == 0;
  const int saved = errno;
  ::flock(file.get(), LOCK_UN);
  errno = saved;
  return ok ? pid : -1;
}

void PidFile::removePid(const std::string& path) {
  const int saved = errno;
  ::unlink(path.c_str());
  errno = saved;
}

int PidFile::checkPid(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    return -1;
  }
  char text[64];
  ssize_t n;
  do {
    n = ::read(file.get(), text, sizeof text - 1);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    return -1;
  }
  text[n] = '\0';
  const long pid = firstInteger(text);
  // A value of 0 or below would make kill() address a process group, never one instance.
  if (pid <= 0 || pid == ::getpid()) {
    return -1;
  }
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
    return -1;
  }
  return static_cast<int>(pid);
}

}  // namespace teska
