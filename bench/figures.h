// The six benchmark figures. Each measures the daemon (or the client library) and the
// matching reference in the same run, and adds its rows to the report.
//
// Order matters: registration (3) fills the database with the listeners fan-out (2) signals,
// and scale (4) stops the daemon to start it again on databases of its own, so it runs last.
#ifndef BENCH_FIGURES_H_
#define BENCH_FIGURES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_daemons.h"
#include "bench/bench_options.h"
#include "bench/listener_farm.h"
#include "bench/report.h"

namespace nvo_bench {

struct BenchRun {
  const BenchOptions& options;
  BenchDaemons& daemons;
  ListenerFarm& farm;
  Report& report;
};

// The event whose listeners are the whole farm.
inline constexpr char kFanOutEvent[] = "bench.fanout";

// A SIGNAL as the client library builds it, with `counter` in the payload so that no two are
// alike (the daemon absorbs a signal identical to one still queued).
std::vector<uint8_t> signalRequest(const std::string& event, std::size_t payloadBytes,
                                   uint64_t counter);
// A REGISTER of farm listener `index` for `event`.
std::vector<uint8_t> registerRequest(const ListenerFarm& farm, std::size_t index,
                                     const std::string& event);

void figureIntake(BenchRun& run);        // 1
void figureFanOut(BenchRun& run);        // 2
void figureRegistration(BenchRun& run);  // 3 (also registers the fan-out listeners)
void figureScale(BenchRun& run);         // 4
void figureDiscovery(BenchRun& run);     // 5
void figureClient(BenchRun& run);        // 6

// Registers the listeners `indexes` of the farm for `event` with the daemon; throws
// std::runtime_error when one is not accepted.
void registerListeners(BenchRun& run, const std::vector<std::size_t>& indexes,
                       const std::string& event);

}  // namespace nvo_bench

#endif  // BENCH_FIGURES_H_
