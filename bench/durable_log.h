// DurableLog: the least a reference program does to keep records as durably as the daemon
// keeps its registrations. Records are gathered in memory; flush() writes those gathered
// since the last flush with one write and forces them to the disk with one fdatasync, the
// call the daemon's database makes when it flushes.
//
// The file is written full of zeros (and flushed) when it is created, so that a later flush
// carries only the new records and no change of the file's size: the cheapest durable write
// there is. Owns its descriptor. Not thread safe.
#ifndef BENCH_DURABLE_LOG_H_
#define BENCH_DURABLE_LOG_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <sys/types.h>

#include "bench/bench_socket.h"

namespace nvo_bench {

class DurableLog {
 public:
  // Creates (or truncates) `path` and writes `bytes` zeros into it. Throws
  // std::runtime_error naming the failed call.
  DurableLog(const std::string& path, std::size_t bytes);

  // Gathers one record: its length (2 bytes) and its bytes.
  void add(std::span<const uint8_t> record);
  bool empty() const { return pending_.empty(); }
  // Writes and flushes the gathered records, if any.
  void flush();

 private:
  Fd fd_;
  off_t offset_ = 0;
  std::vector<uint8_t> pending_;
};

}  // namespace nvo_bench

#endif  // BENCH_DURABLE_LOG_H_
