// Figure 4: the daemon with a large database next to the same daemon with a tiny one: file
// size, memory, start-up (with the debug listing of every record) and the SIGNAL-to-NOTIFY
// latency of an event with one listener.
#include <filesystem>
#include <stdexcept>

#include <sys/stat.h>

#include "bench/figures.h"
#include "bench/load.h"
#include "protocol/tolm_wire.h"
#include "tests/support/daemon_process.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;

constexpr char kProbeEvent[] = "scale.probe";

struct ScaleSample {
  std::size_t registrations = 0;
  std::size_t events = 0;
  double fillSeconds = 0;
  std::uintmax_t fileBytes = 0;
  double startSeconds = 0;
  std::size_t rssKib = 0;
  std::vector<double> latencyUs;
};

ScaleSample measure(BenchRun& run, std::size_t registrations, std::size_t events) {
  ScaleSample sample{registrations, events};
  std::filesystem::remove(kDatabaseFile);
  const Clock::time_point begin = Clock::now();
  const nvo_test::RunResult fill =
      nvo_test::runProgram(run.daemons.binDir() + "/bench-dbfill",
                           {std::to_string(registrations), std::to_string(events)}, 600s);
  sample.fillSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
  if (fill.exitCode != 0) {
    throw std::runtime_error("bench-dbfill failed");
  }
  sample.fileBytes = std::filesystem::file_size(kDatabaseFile);

  // Debug mode: the start-up listing writes one line per record.
  sample.startSeconds = run.daemons.startTolmd({"-d"}, 600s);
  sample.rssKib = run.daemons.tolmdRssKib();
  registerListeners(run, {0}, kProbeEvent);
  for (std::size_t i = 0; i < run.options.latencySamples; ++i) {
    run.farm.resetCounts();
    const auto signal = signalRequest(kProbeEvent, run.options.payloadBytes, i);
    const Clock::time_point sent = Clock::now();
    if (!exchangeOnce(run.daemons.tolmdPort(), signal, tolm::kAnswerSignal)) {
      throw std::runtime_error("scale: the SIGNAL was not accepted");
    }
    const auto arrival = run.farm.waitForNotifies(1, 30s);
    if (!arrival) {
      throw std::runtime_error("scale: the NOTIFY did not arrive");
    }
    sample.latencyUs.push_back(std::chrono::duration<double, std::micro>(*arrival - sent).count());
  }
  sample.rssKib = std::max(sample.rssKib, run.daemons.tolmdRssKib());
  run.daemons.stopTolmd();
  return sample;
}

Fields sampleFields(const std::string& prefix, ScaleSample& s) {
  return {{prefix + "_registrations", std::to_string(s.registrations)},
          {prefix + "_events", std::to_string(s.events)},
          {prefix + "_fill_s", fixed(s.fillSeconds, 2)},
          {prefix + "_file_bytes", std::to_string(s.fileBytes)},
          {prefix + "_rss_kib", std::to_string(s.rssKib)},
          {prefix + "_start_s", fixed(s.startSeconds, 3)},
          {prefix + "_latency_p50_us", fixed(quantile(s.latencyUs, 0.5), 1)},
          {prefix + "_latency_p99_us", fixed(quantile(s.latencyUs, 0.99), 1)}};
}

}  // namespace

void figureScale(BenchRun& run) {
  run.daemons.stopTolmd();
  const std::size_t smallEvents = std::max<std::size_t>(
      1, run.options.smallRegistrations * run.options.scaleEvents / run.options.scaleRegistrations);
  ScaleSample big = measure(run, run.options.scaleRegistrations, run.options.scaleEvents);
  ScaleSample small = measure(run, run.options.smallRegistrations, smallEvents);

  const std::string bigName = std::to_string(big.registrations) + " regs";
  const std::string smallName = std::to_string(small.registrations) + " regs";
  Fields fields{{"figure", "scale"},
                {"latency_samples", std::to_string(run.options.latencySamples)}};
  for (auto& f : sampleFields("big", big))
    fields.push_back(f);
  for (auto& f : sampleFields("small", small))
    fields.push_back(f);

  const double bigLatency = quantile(big.latencyUs, 0.5);
  const double smallLatency = quantile(small.latencyUs, 0.5);
  run.report.add(Row{"4 scale: SIGNAL-to-NOTIFY p50",
                     milliseconds(bigLatency) + " (" + bigName + ")",
                     milliseconds(smallLatency) + " (" + smallName + ")",
                     bigLatency > 0 ? smallLatency / bigLatency : 0.0, "", std::nullopt, fields});
  run.report.add(Row{"4 scale: start-up with listing",
                     fixed(big.startSeconds, 3) + " s (" + bigName + ")",
                     fixed(small.startSeconds, 3) + " s (" + smallName + ")",
                     big.startSeconds > 0 ? small.startSeconds / big.startSeconds : 0.0,
                     "",
                     std::nullopt,
                     {{"figure", "scale_start"}}});
  run.report.add(Row{"4 scale: daemon RSS",
                     std::to_string(big.rssKib) + " KiB (" + bigName + ")",
                     std::to_string(small.rssKib) + " KiB (" + smallName + ")",
                     big.rssKib > 0 ? static_cast<double>(small.rssKib) / big.rssKib : 0.0,
                     "",
                     std::nullopt,
                     {{"figure", "scale_rss"}}});
  run.report.add(Row{"4 scale: database file",
                     std::to_string(big.fileBytes) + " B, " +
                         fixed(static_cast<double>(big.fileBytes) / big.registrations, 1) +
                         " B/registration",
                     std::to_string(small.fileBytes) + " B (" + smallName + ")",
                     std::nullopt,
                     "",
                     std::nullopt,
                     {{"figure", "scale_file"}}});
}

}  // namespace nvo_bench
