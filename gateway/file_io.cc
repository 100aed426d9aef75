#include "gateway/file_io.h"

#include <unistd.h>

#include <cerrno>

namespace nvo {

bool FileDescriptor::reset() {
  const int fd = fd_;
  fd_ = -1;
  return fd < 0 || ::close(fd) == 0;
}

int readAll(int fd, std::size_t limit, std::string& text) {
  text.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return errno;
    }
    if (got == 0) {
      return 0;
    }
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > limit) {
      return EFBIG;
    }
  }
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace nvo
