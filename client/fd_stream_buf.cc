#include "client/fd_stream_buf.h"

#include <unistd.h>

#include <cerrno>

#include <sys/socket.h>

namespace vokra {

ssize_t sendToDescriptor(int fd, const void* buffer, std::size_t length) {
  const ssize_t sent = ::send(fd, buffer, length, MSG_NOSIGNAL);
  if (sent < 0 && errno == ENOTSOCK) {
    return ::write(fd, buffer, length);
  }
  return sent;
}

FdStreamBuf::FdStreamBuf(int fd) : fd_(fd) {
  setg(input_.data(), input_.data(), input_.data());
  setp(output_.data(), output_.data() + output_.size());
}

FdStreamBuf::~FdStreamBuf() {
  sync();
}

FdStreamBuf::int_type FdStreamBuf::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  if (sync() != 0) {
    return traits_type::eof();
  }
  ssize_t count = -1;
  do {
    count = ::read(fd_, input_.data(), input_.size());
  } while (count < 0 && errno == EINTR);
  if (count <= 0) {
    return traits_type::eof();
  }
  setg(input_.data(), input_.data(), input_.data() + count);
  return traits_type::to_int_type(*gptr());
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type ch) {
  if (sync() != 0) {
    return traits_type::eof();
  }
  if (traits_type::eq_int_type(ch, traits_type::eof())) {
    return traits_type::not_eof(ch);
  }
  *pptr() = traits_type::to_char_type(ch);
  pbump(1);
  return ch;
}

int FdStreamBuf::sync() {
  // Each pass either sends at least one byte or fails, so the loop ends.
  char* next = pbase();
  while (next < pptr()) {
    const ssize_t sent = sendToDescriptor(fd_, next, static_cast<std::size_t>(pptr() - next));
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      // Keep what was not sent at the front of the buffer for a later attempt.
      const std::ptrdiff_t left = pptr() - next;
      traits_type::move(output_.data(), next, static_cast<std::size_t>(left));
      setp(output_.data(), output_.data() + output_.size());
      pbump(static_cast<int>(left));
      return -1;
    }
    next += sent;
  }
  setp(output_.data(), output_.data() + output_.size());
  return 0;
}

}  // namespace vokra
