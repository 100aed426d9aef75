// BenchDaemons: the programs a benchmark run starts and stops: the SLP service agent
// (vslpd), the event daemon (tolmd) and the reference servers. They run as root with their
// real paths and ports, which is why the benchmark runs only inside tests/sandbox/
// run-in-sandbox.
//
// Owns the processes; the destructor stops whatever still runs. Used by one thread.
#ifndef BENCH_BENCH_DAEMONS_H_
#define BENCH_BENCH_DAEMONS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace nvo_bench {

inline constexpr char kDatabaseFile[] = "/var/lib/tolm/tolmd_event_db.dat";

class BenchDaemons {
 public:
  // `binDir` holds the programs of the build; `tolmdPrefix` (a profiler's command line, or
  // nothing) is put before every tolmd command line.
  BenchDaemons(std::string binDir, std::vector<std::string> tolmdPrefix);
  ~BenchDaemons();
  BenchDaemons(const BenchDaemons&) = delete;
  BenchDaemons& operator=(const BenchDaemons&) = delete;

  const std::string& binDir() const { return binDir_; }
  // Environment every program of the run gets (the SLP configuration).
  std::vector<std::string> environment() const;

  // Starts vslpd and waits until it serves. Throws std::runtime_error.
  void startSlpAgent();
  // Starts tolmd with `args` and waits (at most `timeout`) until it listens; returns the
  // seconds that took. Throws std::runtime_error.
  double startTolmd(const std::vector<std::string>& args, std::chrono::seconds timeout);
  // SIGTERM and wait; throws when it does not end.
  void stopTolmd();
  uint16_t tolmdPort() const { return tolmdPort_; }
  // Resident set size of the running tolmd in KiB (0 when unknown).
  std::size_t tolmdRssKib() const;

  // Starts a reference server (with the PING round trip when `probe`, keeping what it
  // registered in the file `store` when not empty); its port.
  uint16_t startReference(bool probe, const std::string& store = {});
  void stopReference();

 private:
  std::string binDir_;
  std::vector<std::string> tolmdPrefix_;
  std::unique_ptr<nvo_test::DaemonProcess> slpAgent_;
  std::unique_ptr<nvo_test::DaemonProcess> tolmd_;
  std::unique_ptr<nvo_test::DaemonProcess> reference_;
  uint16_t tolmdPort_ = 0;
};

}  // namespace nvo_bench

#endif  // BENCH_BENCH_DAEMONS_H_
