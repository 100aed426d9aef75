// bench-gateway: the gateway figures. Each runs against private slapd servers with the
// gateway's schema, indexes and access rules (fixtures loaded with slapadd) and measures the
// library next to LdapReference in the same process, over the same kind of connection, bound
// as the same administrator, in interleaved rounds.
//
//   7  round trips: resolveObject, searchObjects by MAC, createObject, modifyObject (password),
//      enumerateObjects of a container with --children computers
//   8  scale: searchObjects by MAC among --big computers next to among --small
//
// Prints the table and one "BENCH ..." line per row (bench/README.md). Asserts nothing but
// that both sides give the same answers.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/ldap_reference.h"
#include "bench/report.h"
#include "tests/support/slapd_server.h"
#ifdef NVO_BENCH_HAVE_MUXCLIENT
#include "bench/gateway_client.h"
#endif

namespace nvo_bench {
namespace {

using Clock = std::chrono::steady_clock;

struct GatewayOptions {
  std::set<int> figures{7, 8};
  std::size_t calls = 400;  // per command and side (enumerate: a tenth)
  std::size_t rounds = 8;
  std::size_t children = 1000;
  std::size_t big = 100000;
  std::size_t small = 100;
  std::size_t scaleSearches = 400;
};

constexpr const char* kBase = "o=orvanta";
constexpr const char* kComputers = "ou=bench,o=orvanta";
constexpr const char* kAdds = "ou=adds,o=orvanta";

std::string mac(std::size_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "02:00:%02zx:%02zx:%02zx:%02zx", (i >> 24) & 0xff,
                (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff);
  return text;
}

std::string computerDn(std::size_t i) {
  return "cn=ws-" + std::to_string(i) + "," + kComputers;
}

// ou=bench with `count` computers (MACs mac(0) ...), and an empty ou=adds.
std::string fixture(std::size_t count) {
  std::string ldif;
  ldif.reserve(count * 160 + 256);
  ldif += std::string("dn: ") + kComputers + "\nobjectClass: organizationalUnit\nou: bench\n\n";
  ldif += std::string("dn: ") + kAdds + "\nobjectClass: organizationalUnit\nou: adds\n\n";
  for (std::size_t i = 0; i < count; ++i) {
    ldif += "dn: " + computerDn(i) + "\nobjectClass: orvantacomputer\ncn: ws-" + std::to_string(i) +
            "\norvantaidtype: 1\norvantaid: " + mac(i) + "\n\n";
  }
  return ldif;
}

std::unique_ptr<nvo_test::SlapdServer> startDirectory(std::size_t computers) {
  nvo_test::SlapdOptions options;
  options.directoryModel = true;
  options.extraLdif = fixture(computers);
  options.mdbMaxSize = std::max<std::size_t>(64, computers / 256) << 20;
  return std::make_unique<nvo_test::SlapdServer>(options);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Microseconds per call of `call(i)` over `calls` calls.
double timePerCall(std::size_t first, std::size_t calls,
                   const std::function<void(std::size_t)>& call) {
  const Clock::time_point begin = Clock::now();
  for (std::size_t i = first; i < first + calls; ++i) {
    call(i);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - begin).count() /
         static_cast<double>(calls);
}

using Call = std::function<void(std::size_t)>;

struct Sides {
  std::optional<double> libraryUs;  // none while the library side is not wired
  double referenceUs = 0;
};

// Runs both sides in `rounds` alternating rounds of calls/rounds calls each (which side goes
// first alternates too) and takes each side's median round. `library` may be empty.
Sides interleave(std::size_t calls, std::size_t rounds, const Call& library,
                 const Call& reference) {
  const std::size_t perRound = std::max<std::size_t>(1, calls / rounds);
  std::vector<double> lib;
  std::vector<double> ref;
  for (std::size_t r = 0; r < rounds; ++r) {
    const std::size_t first = r * perRound;
    if (library && r % 2 == 1) {
      lib.push_back(timePerCall(first, perRound, library));
    }
    ref.push_back(timePerCall(first, perRound, reference));
    if (library && r % 2 == 0) {
      lib.push_back(timePerCall(first, perRound, library));
    }
  }
  Sides sides;
  sides.referenceUs = median(ref);
  if (library) {
    sides.libraryUs = median(lib);
  }
  return sides;
}

void expect(bool condition, const std::string& what) {
  if (!condition) {
    throw std::runtime_error("bench-gateway: " + what);
  }
}

constexpr const char* kNotWired = "not wired (no MUXClient yet)";

void addRow(Report& report, const std::string& name, const Sides& s, std::size_t calls) {
  Row row;
  row.figure = "7 " + name;
  row.measured = s.libraryUs ? milliseconds(*s.libraryUs) + " per call" : kNotWired;
  row.reference = milliseconds(s.referenceUs) + " per call";
  row.goal = ">= 0.8";
  row.fields = {{"figure", "gateway_" + name},
                {"calls", std::to_string(calls)},
                {"ref_us_per_call", fixed(s.referenceUs, 1)}};
  if (s.libraryUs) {
    row.ratio = s.referenceUs / *s.libraryUs;
    row.met = *row.ratio >= 0.8;
    row.fields.push_back({"lib_us_per_call", fixed(*s.libraryUs, 1)});
  }
  report.add(row);
}

// The five commands on one client, as calls numbered from 0.
struct Commands {
  Call resolve, searchMac, add, modify, enumerate;
};

Commands commandsOf(GatewaySide& c, const std::string& computers, const std::string& adds,
                    const std::string& target, std::size_t n, const std::string& tag,
                    std::size_t macBase) {
  return {[&c, n](std::size_t i) { expect(!c.resolve(computerDn(i % n)).empty(), "resolve"); },
          [&c, n, computers](std::size_t i) {
            expect(!c.searchByMac(computers, mac(i % n)).empty(), "search by MAC");
          },
          [&c, adds, tag, macBase](std::size_t i) {
            expect(!c.add(adds, tag + std::to_string(i), "pw", mac(macBase + i)).empty(), "add");
          },
          [&c, target](std::size_t i) { c.setPassword(target, "pw-" + std::to_string(i)); },
          [&c, n, computers](std::size_t) { expect(c.enumerate(computers) == n, "enumerate"); }};
}

void figureRoundTrips(const GatewayOptions& o, Report& report) {
  auto server = startDirectory(o.children);
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  LdapReference ref(server->uri(), admin.dn, admin.password, kBase);
  const std::string computers = ref.resolve(kComputers);
  const std::string adds = ref.resolve(kAdds);
  const std::string target = ref.resolve(computerDn(0));
  expect(ref.enumerate(computers) == o.children, "the reference misses children");
  const auto r = commandsOf(ref, computers, adds, target, o.children, "ref-", 0x20000000);
  Commands l;  // empty calls: the library side is not wired
#ifdef NVO_BENCH_HAVE_MUXCLIENT
  GatewayClient lib(server->uri(), admin.dn, admin.password);
  expect(lib.resolve(kComputers) == computers, "resolveObject differs from the reference");
  expect(lib.searchByMac(computers, mac(1)) == ref.searchByMac(computers, mac(1)),
         "searchObjects differs from the reference");
  expect(lib.enumerate(computers) == o.children, "enumerateObjects misses children");
  l = commandsOf(lib, computers, adds, target, o.children, "lib-", 0x10000000);
#endif
  const std::size_t few = std::max<std::size_t>(o.rounds, o.calls / 10);
  addRow(report, "resolve", interleave(o.calls, o.rounds, l.resolve, r.resolve), o.calls);
  addRow(report, "search_mac", interleave(o.calls, o.rounds, l.searchMac, r.searchMac), o.calls);
  addRow(report, "add", interleave(o.calls, o.rounds, l.add, r.add), o.calls);
  addRow(report, "modify", interleave(o.calls, o.rounds, l.modify, r.modify), o.calls);
  addRow(report, "enumerate_" + std::to_string(o.children),
         interleave(few, o.rounds, l.enumerate, r.enumerate), few);
}

// Searches by MAC on `side`, spread over the whole population of `computers` so that the index
// is read everywhere.
Call macSearches(GatewaySide& side, const std::string& container, std::size_t computers) {
  return [&side, container, computers](std::size_t i) {
    expect(!side.searchByMac(container, mac((i * 7919) % computers)).empty(), "scale search");
  };
}

// Both directories run side by side and their searches alternate, so that outside load falls
// on both alike. In the Sides, "library" is the big directory and "reference" the small one.
void figureScale(const GatewayOptions& o, Report& report) {
  auto smallServer = startDirectory(o.small);
  auto bigServer = startDirectory(o.big);
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  LdapReference smallRef(smallServer->uri(), admin.dn, admin.password, kBase);
  LdapReference bigRef(bigServer->uri(), admin.dn, admin.password, kBase);
  const std::string smallContainer = smallRef.resolve(kComputers);
  const std::string bigContainer = bigRef.resolve(kComputers);
  // Warm-up, untimed: every entry of both directories read once, so that the pages slapadd
  // wrote are mapped into each slapd before its searches are timed, as in a server that has
  // been running a while.
  expect(bigRef.enumerate(bigContainer) == o.big, "the big directory misses computers");
  expect(smallRef.enumerate(smallContainer) == o.small, "the small directory misses computers");
  const Sides ref = interleave(o.scaleSearches, o.rounds, macSearches(bigRef, bigContainer, o.big),
                               macSearches(smallRef, smallContainer, o.small));
  std::optional<Sides> lib;
#ifdef NVO_BENCH_HAVE_MUXCLIENT
  GatewayClient smallLib(smallServer->uri(), admin.dn, admin.password);
  GatewayClient bigLib(bigServer->uri(), admin.dn, admin.password);
  lib = interleave(o.scaleSearches, o.rounds, macSearches(bigLib, bigContainer, o.big),
                   macSearches(smallLib, smallContainer, o.small));
#endif
  const Sides& shown = lib ? *lib : ref;
  const double bigUs = *shown.libraryUs;
  const double smallUs = shown.referenceUs;
  Row row;
  row.figure = std::string("8 scale: search by MAC") + (lib ? "" : " (reference only)");
  row.measured = milliseconds(bigUs) + " (" + std::to_string(o.big) + " computers)";
  row.reference = milliseconds(smallUs) + " (" + std::to_string(o.small) + " computers)";
  row.ratio = smallUs / bigUs;
  row.goal = "<= 1.5x (ratio >= 0.67)";
  row.met = bigUs <= 1.5 * smallUs;
  row.fields = {{"figure", "gateway_scale"},
                {"library_wired", lib ? "1" : "0"},
                {"searches", std::to_string(o.scaleSearches)},
                {"big_computers", std::to_string(o.big)},
                {"small_computers", std::to_string(o.small)},
                {"big_ref_us", fixed(*ref.libraryUs, 1)},
                {"small_ref_us", fixed(ref.referenceUs, 1)}};
  if (lib) {
    row.fields.push_back({"big_lib_us", fixed(bigUs, 1)});
    row.fields.push_back({"small_lib_us", fixed(smallUs, 1)});
  }
  report.add(row);
}

constexpr const char* kUsage =
    "usage: bench-gateway [--figures 7,8] [--calls N] [--rounds N] [--children N] [--big N] "
    "[--small N] [--scale-searches N]\n";

std::optional<GatewayOptions> parse(int argc, char** argv) {
  GatewayOptions o;
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = i + 1 < argc ? argv[i + 1] : "";
    if (name == "--figures") {
      o.figures.clear();
      std::istringstream list(value);
      for (std::string figure; std::getline(list, figure, ',');) {
        o.figures.insert(std::atoi(figure.c_str()));
      }
      continue;
    }
    std::size_t* target = name == "--calls"            ? &o.calls
                          : name == "--rounds"         ? &o.rounds
                          : name == "--children"       ? &o.children
                          : name == "--big"            ? &o.big
                          : name == "--small"          ? &o.small
                          : name == "--scale-searches" ? &o.scaleSearches
                                                       : nullptr;
    const long long number = std::atoll(value.c_str());
    if (target == nullptr || number <= 0) {
      std::cerr << kUsage;
      return std::nullopt;
    }
    *target = static_cast<std::size_t>(number);
  }
  return o;
}

}  // namespace
}  // namespace nvo_bench

int main(int argc, char** argv) {
  using namespace nvo_bench;
  const std::optional<GatewayOptions> options = parse(argc, argv);
  if (!options) {
    return 2;
  }
  // The test server finds the gateway's schema files through the source tree.
  setenv("NVO_SOURCE_DIR", NVO_BENCH_SOURCE_DIR, 0);
  const std::string missing = nvo_test::SlapdServer::missingPieces();
  if (!missing.empty()) {
    std::cerr << "bench-gateway: cannot start a directory: " << missing << "\n";
    return 1;
  }
  Report report("libnvo (MUXClient)");
  try {
    if (options->figures.count(7) != 0) {
      figureRoundTrips(*options, report);
    }
    if (options->figures.count(8) != 0) {
      figureScale(*options, report);
    }
  } catch (const std::exception& e) {
    std::cerr << "bench-gateway: " << e.what() << "\n";
    return 1;
  }
  report.printTable(std::cout);
  report.printMachineLines(std::cout);
  return 0;
}
