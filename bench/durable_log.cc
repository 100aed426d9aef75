#include "bench/durable_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace nvo_bench {

DurableLog::DurableLog(const std::string& path, std::size_t bytes) {
  fd_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  const std::vector<uint8_t> zeros(bytes, 0);
  const char* failed = nullptr;
  if (!fd_.valid()) {
    failed = "open";
  } else if (::write(fd_.get(), zeros.data(), zeros.size()) != static_cast<ssize_t>(bytes)) {
    failed = "write";
  } else if (::fsync(fd_.get()) != 0) {
    failed = "fsync";
  }
  if (failed != nullptr) {
    throw std::runtime_error("DurableLog: " + std::string(failed) + " of " + path + ": " +
                             std::strerror(errno));
  }
}

void DurableLog::add(std::span<const uint8_t> record) {
  pending_.push_back(static_cast<uint8_t>(record.size() >> 8));
  pending_.push_back(static_cast<uint8_t>(record.size()));
  pending_.insert(pending_.end(), record.begin(), record.end());
}

void DurableLog::flush() {
  if (pending_.empty()) {
    return;
  }
  const ssize_t n = ::pwrite(fd_.get(), pending_.data(), pending_.size(), offset_);
  if (n > 0) {
    offset_ += n;
  }
  ::fdatasync(fd_.get());
  pending_.clear();
}

}  // namespace nvo_bench
