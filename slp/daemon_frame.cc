#include "slp/daemon_frame.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include <sys/wait.h>

namespace vslp {

void Detacher::detach() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throwErrno("pipe2");
  }
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);
  pid_t pid = ::fork();
  if (pid < 0) {
    throwErrno("fork");
  }
  if (pid > 0) {
    writeEnd.reset();
    char byte = 0;
    ssize_t n;
    do {
      n = ::read(readEnd.get(), &byte, 1);
    } while (n < 0 && errno == EINTR);
    ::_exit(n == 1 ? 0 : 1);
  }
  notify_ = std::move(writeEnd);
  ::setsid();
  [[maybe_unused]] int r = ::chdir("/");
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO) {
      ::close(null);
    }
  }
}

void Detacher::ready() {
  if (notify_.valid()) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(notify_.get(), &byte, 1);
    notify_.reset();
  }
}

void dropPrivileges(const std::string& user) {
  if (::geteuid() != 0) {
    return;
  }
  errno = 0;
  passwd* pw = ::getpwnam(user.c_str());
  if (pw == nullptr) {
    throw std::runtime_error("unknown user " + user);
  }
  uid_t uid = pw->pw_uid;
  gid_t gid = pw->pw_gid;
  if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
    throw std::runtime_error("cannot switch to user " + user);
  }
  if (uid != 0 && ::setuid(0) == 0) {
    throw std::runtime_error("root privileges could be regained");
  }
}

}  // namespace vslp
