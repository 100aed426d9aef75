// Small file helpers of the session layer: a descriptor closed on every path, and whole-file
// reads and writes that retry interrupted calls. Private to the library.
#ifndef GATEWAY_FILE_IO_H_
#define GATEWAY_FILE_IO_H_

#include <cstddef>
#include <string>

namespace nvo {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }
  int get() const { return fd_; }
  // Closes now; false when close reported an error (data that may not have reached the file).
  bool reset();

 private:
  int fd_;
};

// Reads `fd` to its end into `text`. 0 on success; otherwise an errno value, EFBIG when there
// are more than `limit` bytes.
int readAll(int fd, std::size_t limit, std::string& text);
// Writes all of `text`; false on an error.
bool writeAll(int fd, const std::string& text);

}  // namespace nvo

#endif  // GATEWAY_FILE_IO_H_
