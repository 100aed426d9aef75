// FdStreamBuf: a buffered std::streambuf that reads and writes a socket descriptor directly,
// the buffer under InetSocket's stream objects.
//
// Does not own the descriptor: the owner keeps it open for the buffer's whole life and destroys
// the buffer before closing it. Input and output have separate buffers; one FdStreamBuf may sit
// under several stream objects at once (they then share one read position and one pending
// output). Before it reads, the buffer sends its pending output, so a question written without
// a flush is never left waiting behind its own answer. Not thread-safe: one thread at a time.
#ifndef CLIENT_FD_STREAM_BUF_H_
#define CLIENT_FD_STREAM_BUF_H_

#include <array>
#include <cstddef>
#include <streambuf>

#include <sys/types.h>

namespace vokra {

// One system call that writes up to `length` bytes of `buffer` to the socket `fd` without
// raising SIGPIPE when the peer has gone (the call fails with EPIPE instead). Descriptors that
// are not sockets are written with write(). Returns the count written, or -1 with errno set.
ssize_t sendToDescriptor(int fd, const void* buffer, std::size_t length);

class FdStreamBuf : public std::streambuf {
 public:
  explicit FdStreamBuf(int fd);
  // Sends pending output; failures are ignored, as in the destructor of a file stream.
  ~FdStreamBuf() override;

  FdStreamBuf(const FdStreamBuf&) = delete;
  FdStreamBuf& operator=(const FdStreamBuf&) = delete;

 protected:
  // Sends pending output, then reads what one read() returns. End of file or a failed read
  // gives traits_type::eof(); interrupted calls are retried.
  int_type underflow() override;
  // Sends the full output buffer, then stores `ch`. Returns eof() when sending fails.
  int_type overflow(int_type ch) override;
  // Sends all pending output, writing again after partial writes. 0 on success, -1 on failure.
  int sync() override;

 private:
  static constexpr std::size_t kBufferSize = 4096;

  int fd_;
  std::array<char, kBufferSize> input_;
  std::array<char, kBufferSize> output_;
};

}  // namespace vokra

#endif  // CLIENT_FD_STREAM_BUF_H_
