#include "client/tools/payload_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace vokra {
namespace {

// Closes a descriptor this file opened; standard input is left open.
class InputFile {
 public:
  explicit InputFile(const std::string& path)
      : fd_(path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)),
        owned_(path != "-") {}
  ~InputFile() {
    if (owned_ && fd_ >= 0) {
      ::close(fd_);
    }
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  int fd() const { return fd_; }

 private:
  int fd_;
  bool owned_;
};

}  // namespace

std::optional<std::vector<uint8_t>> readPayloadFile(const std::string& path, std::string* error) {
  const InputFile file(path);
  if (file.fd() < 0) {
    *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  // Each round adds at least one byte or ends, and the size cap ends it at the latest.
  for (;;) {
    const ssize_t got = ::read(file.fd(), chunk, sizeof chunk);
    if (got == 0) {
      return bytes;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      *error = path + ": " + std::strerror(errno);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > kMaxPayloadFileSize) {
      *error = path + ": larger than " + std::to_string(kMaxPayloadFileSize) + " bytes";
      return std::nullopt;
    }
  }
}

}  // namespace vokra
