// Figures 1 to 3: what the daemon's request path costs next to the reference server.
#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>

#include "bench/durable_log.h"
#include "bench/figures.h"
#include "bench/load.h"
#include "protocol/tolm_wire.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;

constexpr int kIntakeRounds = 4;
constexpr int kRegistrationRounds = 8;
// The goal of every figure here: at least 0.9 of the reference's rate (or speed), with a p99
// latency at most 1.5 times the reference's.
constexpr double kGoalRatio = 0.9;
constexpr double kGoalP99 = 1.5;
constexpr char kGoal[] = ">= 0.9, p99 <= 1.5x";
// Where the probing reference keeps its registrations: beside the daemon's database, on the
// same disk.
constexpr char kReferenceStore[] = "/var/lib/tolm/bench-reference.dat";
constexpr char kReferenceDropped[] = "/var/lib/tolm/bench-reference-dropped.dat";
constexpr std::size_t kReferenceDroppedBytes = std::size_t{1} << 20;

bool goalMet(double ratio, double p99, double referenceP99) {
  return ratio >= kGoalRatio && p99 <= kGoalP99 * referenceP99;
}

// The round with the median throughput.
LoadResult medianRound(std::vector<LoadResult>& rounds) {
  std::sort(rounds.begin(), rounds.end(),
            [](const LoadResult& a, const LoadResult& b) { return a.perSecond() < b.perSecond(); });
  return rounds[rounds.size() / 2];
}

std::string latencyPair(std::vector<double> latencies) {
  const double p50 = quantile(latencies, 0.5);
  const double p99 = quantile(latencies, 0.99);
  return milliseconds(p50) + " / " + milliseconds(p99);
}

Fields loadFields(const std::string& prefix, LoadResult& result) {
  return {{prefix + "_per_s", fixed(result.perSecond(), 1)},
          {prefix + "_p50_us", fixed(quantile(result.latenciesUs, 0.5), 1)},
          {prefix + "_p99_us", fixed(quantile(result.latenciesUs, 0.99), 1)},
          {prefix + "_errors", std::to_string(result.errors)}};
}

void appendFields(Fields& to, const Fields& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// One fan-out: `start` sends whatever starts it, and the time until `expected` NOTIFY packets
// have arrived is returned, in microseconds; the time until 99 % of them had arrived is added
// to `p99s` when given.
double timeFanOut(BenchRun& run, std::size_t expected, const std::function<void()>& start,
                  std::vector<double>* p99s = nullptr) {
  run.farm.resetCounts();
  const Clock::time_point begin = Clock::now();
  start();
  const auto last = run.farm.waitForNotifies(expected, 120s);
  if (!last) {
    throw std::runtime_error("fan-out: only " + std::to_string(run.farm.notifyCount()) + " of " +
                             std::to_string(expected) + " notifications arrived");
  }
  if (p99s != nullptr) {
    std::vector<double> each;
    for (const Clock::time_point arrival : run.farm.arrivals()) {
      each.push_back(std::chrono::duration<double, std::micro>(arrival - begin).count());
    }
    each.resize(std::min(each.size(), expected));
    p99s->push_back(quantile(each, 0.99));
  }
  return std::chrono::duration<double, std::micro>(*last - begin).count();
}

// The reference fan-out: connect, write the packet, close, for every listener in turn. A
// listener that refuses is dropped for good, as the daemon drops its registration: its
// address and port go into `dropped`, flushed to the disk once at the end.
void referenceFanOut(const ListenerFarm& farm, const std::vector<uint8_t>& packet,
                     DurableLog& dropped) {
  for (std::size_t i = 0; i < farm.size(); ++i) {
    Fd fd = connectTo(farm.address(i), farm.port(i), 10s);
    if (fd.valid()) {
      writeAll(fd.get(), packet);
    } else {
      const uint32_t address = htonl(farm.address(i));
      const uint16_t port = htons(farm.port(i));
      std::array<uint8_t, 6> record{};
      std::memcpy(record.data(), &address, 4);
      std::memcpy(record.data() + 4, &port, 2);
      dropped.add(record);
    }
  }
  dropped.flush();
}

}  // namespace

std::vector<uint8_t> signalRequest(const std::string& event, std::size_t payloadBytes,
                                   uint64_t counter) {
  std::vector<uint8_t> payload(payloadBytes, 0x5a);
  for (std::size_t i = 0; i < payload.size() && i < 8; ++i) {
    payload[i] = static_cast<uint8_t>(counter >> (8 * i));
  }
  return tolm::buildSignalRequest(event, payload, 0);
}

std::vector<uint8_t> registerRequest(const ListenerFarm& farm, std::size_t index,
                                     const std::string& event) {
  return tolm::buildListenerRequest(tolm::kFuncRegister, htonl(farm.address(index)),
                                    htons(farm.port(index)), event);
}

void registerListeners(BenchRun& run, const std::vector<std::size_t>& indexes,
                       const std::string& event) {
  for (std::size_t index : indexes) {
    if (!exchangeOnce(run.daemons.tolmdPort(), registerRequest(run.farm, index, event),
                      tolm::kAnswerRegister)) {
      throw std::runtime_error("registration of listener " + std::to_string(index) + " failed");
    }
  }
}

void figureIntake(BenchRun& run) {
  const auto duration = std::chrono::milliseconds(
      static_cast<long>(run.options.intakeSeconds * 1000 / kIntakeRounds));
  const auto make = [&](std::size_t n) {
    return signalRequest("bench.intake", run.options.payloadBytes, n);
  };
  // One reference process for every row, as there is one daemon: the connections each has
  // served and closed stay behind on its port (TIME_WAIT) for the rows that follow.
  const uint16_t reference = run.daemons.startReference(false);
  for (std::size_t clients : run.options.clients) {
    // Alternating short rounds, each side judged by its median round: on a shared machine
    // this keeps a burst of outside load from deciding the ratio.
    std::vector<LoadResult> refRounds;
    std::vector<LoadResult> daemonRounds;
    for (int round = 0; round < kIntakeRounds; ++round) {
      refRounds.push_back(runForDuration(reference, clients, duration, make, tolm::kAnswerSignal));
      daemonRounds.push_back(
          runForDuration(run.daemons.tolmdPort(), clients, duration, make, tolm::kAnswerSignal));
    }
    LoadResult ref = medianRound(refRounds);
    LoadResult daemon = medianRound(daemonRounds);
    Row row{"1 intake c=" + std::to_string(clients),
            perSecond(daemon.perSecond()) + ", p50/p99 " + latencyPair(daemon.latenciesUs),
            perSecond(ref.perSecond()) + ", p50/p99 " + latencyPair(ref.latenciesUs),
            ref.perSecond() > 0 ? daemon.perSecond() / ref.perSecond() : 0.0,
            kGoal,
            std::nullopt,
            {{"figure", "intake"},
             {"clients", std::to_string(clients)},
             {"seconds", fixed(run.options.intakeSeconds, 1)},
             {"rounds", std::to_string(kIntakeRounds)},
             {"payload_bytes", std::to_string(run.options.payloadBytes)}}};
    row.met =
        goalMet(*row.ratio, quantile(daemon.latenciesUs, 0.99), quantile(ref.latenciesUs, 0.99));
    appendFields(row.fields, loadFields("tolmd", daemon));
    appendFields(row.fields, loadFields("ref", ref));
    run.report.add(std::move(row));
  }
  run.daemons.stopReference();
}

namespace {

// One PING to every listener of the farm, untimed: the first connections to a thousand fresh
// addresses cost more than later ones, and whichever side met them first would pay for both.
void warmListeners(const ListenerFarm& farm) {
  const std::vector<uint8_t> ping{0, 1, 0, 1, 0xF0, 0, 0, 6, 0, 0, 0, 0};
  for (std::size_t i = 0; i < farm.size(); ++i) {
    Fd fd = connectTo(farm.address(i), farm.port(i), 10s);
    std::array<uint8_t, 12> reply{};
    if (fd.valid() && writeAll(fd.get(), ping)) {
      readExact(fd.get(), reply);
    }
  }
}

// One registration row: `total` REGISTERs from `clients` concurrent clients, farm listener
// n % size for event `eventOf(n)`, against the daemon and the probing reference, which keeps
// what it registered on the same disk (at `reference`). Both sides get the same requests in
// alternating rounds (which side goes first alternates too), and each side's median round
// counts.
void registrationRow(BenchRun& run, uint16_t reference, const std::string& name, std::size_t total,
                     const std::function<std::string(std::size_t)>& eventOf, std::size_t perEvent) {
  const std::size_t clients = run.options.registrationClients;
  const std::size_t chunk = total / kRegistrationRounds;
  std::vector<LoadResult> refRounds;
  std::vector<LoadResult> daemonRounds;
  for (int round = 0; round < kRegistrationRounds; ++round) {
    const std::size_t first = static_cast<std::size_t>(round) * chunk;
    const std::size_t count = round + 1 == kRegistrationRounds ? total - first : chunk;
    const auto make = [&](std::size_t n) {
      return registerRequest(run.farm, (first + n) % run.farm.size(), eventOf(first + n));
    };
    const auto referenceRound = [&] {
      refRounds.push_back(runCount(reference, clients, count, make, tolm::kAnswerRegister));
    };
    const auto daemonRound = [&] {
      daemonRounds.push_back(
          runCount(run.daemons.tolmdPort(), clients, count, make, tolm::kAnswerRegister));
      if (daemonRounds.back().errors > 0) {
        throw std::runtime_error("registration: " + std::to_string(daemonRounds.back().errors) +
                                 " of " + std::to_string(count) + " were not accepted");
      }
    };
    if (round % 2 == 0) {
      referenceRound();
      daemonRound();
    } else {
      daemonRound();
      referenceRound();
    }
  }
  LoadResult ref = medianRound(refRounds);
  LoadResult daemon = medianRound(daemonRounds);
  Row row{"3 registration c=" + std::to_string(clients) + ", " + name,
          perSecond(daemon.perSecond()) + ", p50/p99 " + latencyPair(daemon.latenciesUs),
          perSecond(ref.perSecond()) + ", p50/p99 " + latencyPair(ref.latenciesUs),
          ref.perSecond() > 0 ? daemon.perSecond() / ref.perSecond() : 0.0,
          kGoal,
          std::nullopt,
          {{"figure", "registration"},
           {"clients", std::to_string(clients)},
           {"registrations", std::to_string(total)},
           {"rounds", std::to_string(kRegistrationRounds)},
           {"listeners_per_event", std::to_string(perEvent)}}};
  row.met =
      goalMet(*row.ratio, quantile(daemon.latenciesUs, 0.99), quantile(ref.latenciesUs, 0.99));
  appendFields(row.fields, loadFields("tolmd", daemon));
  appendFields(row.fields, loadFields("ref", ref));
  run.report.add(std::move(row));
}

}  // namespace

void figureRegistration(BenchRun& run) {
  const std::size_t listeners = run.farm.size();
  if (!run.options.figures.contains(3)) {
    // Only the fan-out listeners are wanted.
    std::vector<std::size_t> all(listeners);
    std::iota(all.begin(), all.end(), std::size_t{0});
    registerListeners(run, all, kFanOutEvent);
    return;
  }
  const std::size_t total = std::max(run.options.registrations, listeners);
  warmListeners(run.farm);
  const uint16_t reference = run.daemons.startReference(true, kReferenceStore);
  // Every registration for an event of its own: the request path alone.
  registrationRow(
      run, reference, "1 listener/event", total,
      [](std::size_t n) { return "bench.single." + std::to_string(n); }, 1);
  // Whole farms per event, the fan-out event first: each new registration is compared with
  // those already stored for its event.
  registrationRow(
      run, reference, std::to_string(listeners) + " listeners/event", total,
      [&](std::size_t n) {
        return n < listeners ? std::string(kFanOutEvent)
                             : "bench.reg." + std::to_string(n / listeners);
      },
      listeners);
  run.daemons.stopReference();
}

void figureFanOut(BenchRun& run) {
  const std::size_t all = run.farm.size();
  const std::vector<uint8_t> notify = tolm::buildNotify(
      std::string(kFanOutEvent) + '\0', 0, std::vector<uint8_t>(run.options.payloadBytes, 0x5a));
  DurableLog dropped(kReferenceDropped, kReferenceDroppedBytes);
  std::vector<std::size_t> gone;
  const std::size_t every = 100 / run.options.gonePercent;
  for (std::size_t i = every - 1; i < all; i += every) {
    gone.push_back(i);
  }
  // One untimed round of each first: the first connections to a thousand fresh listeners pay
  // for route and socket caches that neither side should be charged with.
  timeFanOut(run, all, [&] { referenceFanOut(run.farm, notify, dropped); });
  timeFanOut(run, all, [&] {
    if (!exchangeOnce(run.daemons.tolmdPort(), signalRequest(kFanOutEvent, 1, 0),
                      tolm::kAnswerSignal)) {
      throw std::runtime_error("fan-out: the SIGNAL was not accepted");
    }
  });
  for (bool withGone : {false, true}) {
    std::vector<double> daemonUs;
    std::vector<double> refUs;
    std::vector<double> daemonP99s;  // per repetition: the time until 99 % were notified
    std::vector<double> refP99s;
    const std::size_t expected = all - (withGone ? gone.size() : 0);
    for (std::size_t rep = 0; rep < run.options.fanoutRepetitions; ++rep) {
      if (withGone) {
        // The daemon dropped the refusing listeners last time: bring them back first.
        for (std::size_t i : gone)
          run.farm.reopen(i);
        registerListeners(run, gone, kFanOutEvent);
        for (std::size_t i : gone)
          run.farm.close(i);
      }
      refUs.push_back(timeFanOut(
          run, expected, [&] { referenceFanOut(run.farm, notify, dropped); }, &refP99s));
      const auto signal = signalRequest(kFanOutEvent, run.options.payloadBytes, rep);
      daemonUs.push_back(timeFanOut(
          run, expected,
          [&] {
            if (!exchangeOnce(run.daemons.tolmdPort(), signal, tolm::kAnswerSignal)) {
              throw std::runtime_error("fan-out: the SIGNAL was not accepted");
            }
          },
          &daemonP99s));
    }
    for (std::size_t i : gone)
      run.farm.reopen(i);
    const double daemon = median(daemonUs);
    const double ref = median(refUs);
    const std::string gonePart = withGone ? std::to_string(gone.size()) + " refusing" : "none gone";
    const double daemonP99 = median(daemonP99s);
    const double refP99 = median(refP99s);
    Row row{"2 fan-out " + std::to_string(all) + ", " + gonePart,
            milliseconds(daemon) + ", NOTIFY p99 " + milliseconds(daemonP99),
            milliseconds(ref) + ", NOTIFY p99 " + milliseconds(refP99),
            daemon > 0 ? ref / daemon : 0.0,
            kGoal,
            {},
            {{"figure", withGone ? "fanout_gone" : "fanout"},
             {"listeners", std::to_string(all)},
             {"refusing", std::to_string(withGone ? gone.size() : 0)},
             {"repetitions", std::to_string(run.options.fanoutRepetitions)},
             {"tolmd_median_us", fixed(daemon, 1)},
             {"tolmd_notify_p99_us", fixed(daemonP99, 1)},
             {"ref_median_us", fixed(ref, 1)},
             {"ref_notify_p99_us", fixed(refP99, 1)}}};
    row.met = goalMet(*row.ratio, daemonP99, refP99);
    run.report.add(std::move(row));
  }
}

}  // namespace nvo_bench
