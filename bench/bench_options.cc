#include "bench/bench_options.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

namespace nvo_bench {
namespace {

constexpr char kUsage[] =
    "usage: nvo-bench [--figures 1,2,3,4,5,6] [--clients 1,8,64] [--intake-seconds S]\n"
    "                 [--payload-bytes N] [--listeners N] [--gone-percent P]\n"
    "                 [--fanout-repetitions N] [--registrations N] [--registration-clients N]\n"
    "                 [--scale-registrations N] [--scale-events N] [--small-registrations N]\n"
    "                 [--latency-samples N] [--discovery-runs N] [--client-calls N]\n"
    "                 [--tolmd-prefix 'PROGRAM ARGS...']\n";

std::optional<std::size_t> count(const std::string& text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value == 0) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(value);
}

std::optional<std::vector<std::size_t>> counts(const std::string& text) {
  std::vector<std::size_t> values;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    auto value = count(item);
    if (!value) {
      return std::nullopt;
    }
    values.push_back(*value);
  }
  if (values.empty()) {
    return std::nullopt;
  }
  return values;
}

template <class T>
std::string joined(const T& values) {
  std::string text;
  for (const auto& value : values) {
    text += (text.empty() ? "" : ",") + std::to_string(value);
  }
  return text;
}

}  // namespace

std::optional<BenchOptions> parseOptions(int argc, char** argv, std::ostream& err) {
  BenchOptions o;
  const std::map<std::string, std::size_t*> sizes{
      {"--payload-bytes", &o.payloadBytes},
      {"--listeners", &o.listeners},
      {"--gone-percent", &o.gonePercent},
      {"--fanout-repetitions", &o.fanoutRepetitions},
      {"--registrations", &o.registrations},
      {"--registration-clients", &o.registrationClients},
      {"--scale-registrations", &o.scaleRegistrations},
      {"--scale-events", &o.scaleEvents},
      {"--small-registrations", &o.smallRegistrations},
      {"--latency-samples", &o.latencySamples},
      {"--discovery-runs", &o.discoveryRuns},
      {"--client-calls", &o.clientCalls},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      err << kUsage;
      return std::nullopt;
    }
    const std::string value = argv[++i];
    bool ok = true;
    if (auto it = sizes.find(name); it != sizes.end()) {
      auto parsed = count(value);
      ok = parsed.has_value();
      *it->second = parsed.value_or(0);
    } else if (name == "--clients") {
      auto parsed = counts(value);
      ok = parsed.has_value();
      o.clients = parsed.value_or(std::vector<std::size_t>{});
    } else if (name == "--figures") {
      auto parsed = counts(value);
      ok = parsed.has_value();
      o.figures.clear();
      for (std::size_t figure : parsed.value_or(std::vector<std::size_t>{})) {
        ok = ok && figure >= 1 && figure <= 6;
        o.figures.insert(static_cast<int>(figure));
      }
    } else if (name == "--intake-seconds") {
      o.intakeSeconds = std::atof(value.c_str());
      ok = o.intakeSeconds > 0;
    } else if (name == "--tolmd-prefix") {
      std::istringstream words(value);
      for (std::string word; words >> word;) {
        o.tolmdPrefix.push_back(word);
      }
    } else {
      ok = false;
    }
    if (!ok) {
      err << "nvo-bench: bad value for " << name << "\n" << kUsage;
      return std::nullopt;
    }
  }
  if (o.gonePercent >= 100 || o.listeners > 60000 || o.scaleEvents > o.scaleRegistrations) {
    err << "nvo-bench: sizes out of range\n" << kUsage;
    return std::nullopt;
  }
  return o;
}

std::string describe(const BenchOptions& o) {
  std::ostringstream out;
  out << "figures=" << joined(o.figures) << " clients=" << joined(o.clients)
      << " intake_seconds=" << o.intakeSeconds << " payload_bytes=" << o.payloadBytes
      << " listeners=" << o.listeners << " gone_percent=" << o.gonePercent
      << " fanout_repetitions=" << o.fanoutRepetitions << " registrations=" << o.registrations
      << " registration_clients=" << o.registrationClients
      << " scale_registrations=" << o.scaleRegistrations << " scale_events=" << o.scaleEvents
      << " small_registrations=" << o.smallRegistrations << " latency_samples=" << o.latencySamples
      << " discovery_runs=" << o.discoveryRuns << " client_calls=" << o.clientCalls;
  return out.str();
}

}  // namespace nvo_bench
