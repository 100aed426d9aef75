// bench-gateway: the gateway figures. Each runs against private slapd servers with the
// gateway's schema, indexes and access rules (fixtures loaded with slapadd) and measures the
// library next to LdapReference in the same process, over the same kind of connection, bound
// as the same administrator, in interleaved rounds.
//
//   7  round trips: resolveObject, searchObjects by MAC, createObject, modifyObject (password),
//      enumerateObjects of a container with --children computers
//   8  scale: searchObjects by MAC among --big computers next to among --small
//  10  the five round trips of figure 7 with --big computers in the directory next to --small,
//      each also against the reference on the big directory
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
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_directory.h"
#include "bench/ldap_reference.h"
#include "bench/report.h"
#include "bench/size_options.h"
#include "tests/support/slapd_server.h"
#ifdef NVO_BENCH_HAVE_MUXCLIENT
#include "bench/gateway_client.h"
#endif

namespace nvo_bench {
namespace {

using Clock = std::chrono::steady_clock;

struct GatewayOptions {
  std::set<int> figures{7, 8, 10};
  std::size_t calls = 400;  // per command and side (enumerate: a tenth)
  std::size_t rounds = 8;
  std::size_t children = 1000;
  std::size_t big = 100000;
  std::size_t small = 100;
  std::size_t scaleSearches = 400;
  // Figure 10: four sides share the rounds, so more and shorter ones than figure 7.
  std::size_t scaleCalls = 800;
  std::size_t scaleRounds = 16;
};

constexpr const char* kBase = "o=orvanta";
constexpr const char* kComputers = "ou=bench,o=orvanta";
constexpr const char* kAdds = "ou=adds,o=orvanta";
constexpr const char* kBulk = "ou=bulk,o=orvanta";

std::string mac(std::size_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "02:00:%02zx:%02zx:%02zx:%02zx", (i >> 24) & 0xff,
                (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff);
  return text;
}

// Computer i: ws-i, in ou=bench while i < inBench, in ou=bulk after that.
std::string computerDn(std::size_t i, std::size_t inBench) {
  return "cn=ws-" + std::to_string(i) + "," + (i < inBench ? kComputers : kBulk);
}

// ou=bench with `bench` computers (MACs mac(0) ...), ou=bulk with `bulk` more (the MACs that
// follow), and an empty ou=adds.
std::unique_ptr<nvo_test::SlapdServer> startDirectory(std::size_t bench, std::size_t bulk = 0) {
  std::string ldif;
  ldif.reserve((bench + bulk) * 160 + 512);
  for (const char* unit : {kComputers, kAdds, kBulk}) {
    addUnit(ldif, unit);
  }
  for (std::size_t i = 0; i < bench + bulk; ++i) {
    addComputer(ldif, "ws-" + std::to_string(i), i < bench ? kComputers : kBulk, mac(i));
  }
  return startBenchDirectory(std::move(ldif), bench + bulk);
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

// Runs every side in `rounds` rounds of calls/rounds calls each; the side that goes first
// moves on by one each round. Each side's median round, in microseconds per call; an empty
// call is not run and gives nothing.
std::vector<std::optional<double>> interleaveAll(std::size_t calls, std::size_t rounds,
                                                 const std::vector<const Call*>& sides) {
  const std::size_t perRound = std::max<std::size_t>(1, calls / rounds);
  std::vector<std::vector<double>> times(sides.size());
  for (std::size_t r = 0; r < rounds; ++r) {
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const std::size_t s = (r + k) % sides.size();
      if (*sides[s]) {
        times[s].push_back(timePerCall(r * perRound, perRound, *sides[s]));
      }
    }
  }
  std::vector<std::optional<double>> medians;
  for (const std::vector<double>& t : times) {
    medians.push_back(t.empty() ? std::nullopt : std::optional<double>(median(t)));
  }
  return medians;
}

// The reference and the library (which may be empty) in alternating rounds.
Sides interleave(std::size_t calls, std::size_t rounds, const Call& library,
                 const Call& reference) {
  const auto medians = interleaveAll(calls, rounds, {&reference, &library});
  return {medians[1], *medians[0]};
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

// Resolve and search by MAC spread over the `population` computers of a directory whose first
// `inBench` are in ou=bench (searches below `searchBase`), adds below `adds`, the password of
// `target` set, and ou=bench (`enumerated` children) listed.
struct Population {
  std::string searchBase, adds, target, bench;
  std::size_t population = 0, inBench = 0, enumerated = 0;
};

Commands commandsOf(GatewaySide& c, const Population& p, const std::string& tag,
                    std::size_t macBase) {
  return {[&c, p](std::size_t i) {
            expect(!c.resolve(computerDn((i * 7919) % p.population, p.inBench)).empty(), "resolve");
          },
          [&c, p](std::size_t i) {
            expect(!c.searchByMac(p.searchBase, mac((i * 7919) % p.population)).empty(),
                   "search by MAC");
          },
          [&c, p, tag, macBase](std::size_t i) {
            expect(!c.add(p.adds, tag + std::to_string(i), "pw", mac(macBase + i)).empty(), "add");
          },
          [&c, p](std::size_t i) { c.setPassword(p.target, "pw-" + std::to_string(i)); },
          [&c, p](std::size_t) { expect(c.enumerate(p.bench) == p.enumerated, "enumerate"); }};
}

// The objectIDs a Population needs, found through the reference; ou=bench and ou=bulk are
// listed once, untimed, so that every entry slapadd wrote is mapped into the server before
// anything is timed, as in a server that has been running a while.
Population populationOf(LdapReference& ref, std::size_t inBench, std::size_t bulk,
                        bool searchEverywhere) {
  Population p;
  p.bench = ref.resolve(kComputers);
  p.adds = ref.resolve(kAdds);
  p.searchBase = searchEverywhere ? ref.resolve(kBase) : p.bench;
  p.population = inBench + bulk;
  p.inBench = inBench;
  p.enumerated = inBench;
  p.target = ref.resolve(computerDn(p.population / 2, inBench));
  expect(ref.enumerate(p.bench) == inBench, "the reference misses children");
  expect(ref.enumerate(ref.resolve(kBulk)) == bulk, "the reference misses bulk computers");
  return p;
}

void figureRoundTrips(const GatewayOptions& o, Report& report) {
  auto server = startDirectory(o.children);
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  LdapReference ref(server->uri(), admin.dn, admin.password, kBase);
  const Population p = populationOf(ref, o.children, 0, false);
  const auto r = commandsOf(ref, p, "ref-", 0x20000000);
  Commands l;  // empty calls: the library side is not wired
#ifdef NVO_BENCH_HAVE_MUXCLIENT
  GatewayClient lib(server->uri(), admin.dn, admin.password);
  expect(lib.resolve(kComputers) == p.bench, "resolveObject differs from the reference");
  expect(lib.searchByMac(p.bench, mac(1)) == ref.searchByMac(p.bench, mac(1)),
         "searchObjects differs from the reference");
  expect(lib.enumerate(p.bench) == o.children, "enumerateObjects misses children");
  l = commandsOf(lib, p, "lib-", 0x10000000);
#endif
  const std::size_t few = std::max<std::size_t>(o.rounds, o.calls / 10);
  addRow(report, "resolve", interleave(o.calls, o.rounds, l.resolve, r.resolve), o.calls);
  addRow(report, "search_mac", interleave(o.calls, o.rounds, l.searchMac, r.searchMac), o.calls);
  addRow(report, "add", interleave(o.calls, o.rounds, l.add, r.add), o.calls);
  addRow(report, "modify", interleave(o.calls, o.rounds, l.modify, r.modify), o.calls);
  addRow(report, "enumerate_" + std::to_string(o.children),
         interleave(few, o.rounds, l.enumerate, r.enumerate), few);
}

// One command of figure 10: the library and the reference on the big and the small directory,
// all four in alternating rounds. Two rows: the library's big directory next to its small one
// (goal: at most 1.5 times the time), and next to the reference on the big one.
void addScaleRows(Report& report, const GatewayOptions& o, const std::string& name,
                  std::size_t calls, const Call& libBig, const Call& refBig, const Call& libSmall,
                  const Call& refSmall) {
  const auto m = interleaveAll(calls, o.scaleRounds, {&libBig, &refBig, &libSmall, &refSmall});
  const std::string big = std::to_string(o.big);
  const std::string small = std::to_string(o.small);
  Fields fields = {{"figure", "gateway_scale_" + name},
                   {"calls", std::to_string(calls)},
                   {"big_computers", big},
                   {"small_computers", small},
                   {"big_ref_us", fixed(*m[1], 1)},
                   {"small_ref_us", fixed(*m[3], 1)}};
  const bool wired = m[0].has_value();
  Row scale;
  scale.figure = "10 " + name + ", " + big + " vs " + small + " computers";
  scale.goal = "<= 1.5x (ratio >= 0.67)";
  Row vsRef;
  vsRef.figure = "10 " + name + ", " + big + " computers";
  vsRef.goal = ">= 0.8";
  if (wired) {
    scale.measured = milliseconds(*m[0]) + " per call (" + big + ")";
    // The reference's own growth beside it: what the server's side of the command costs.
    scale.reference = milliseconds(*m[2]) + " per call (" + small +
                      "); the reference's own ratio " + fixed(*m[3] / *m[1], 2);
    scale.ratio = *m[2] / *m[0];
    scale.met = *m[0] <= 1.5 * *m[2];
    vsRef.measured = milliseconds(*m[0]) + " per call";
    vsRef.reference = milliseconds(*m[1]) + " per call";
    vsRef.ratio = *m[1] / *m[0];
    vsRef.met = *vsRef.ratio >= 0.8;
    fields.push_back({"big_lib_us", fixed(*m[0], 1)});
    fields.push_back({"small_lib_us", fixed(*m[2], 1)});
    fields.push_back({"small_ratio", fixed(*m[3] / *m[2], 4)});
    fields.push_back({"ref_ratio", fixed(*vsRef.ratio, 4)});
  } else {
    scale.measured = vsRef.measured = kNotWired;
    scale.reference = milliseconds(*m[3]) + " per call (" + small + ", reference)";
    vsRef.reference = milliseconds(*m[1]) + " per call";
  }
  scale.fields = fields;
  vsRef.fields = {{"figure", "gateway_big_" + name}};
  report.add(scale);
  report.add(vsRef);
}

// Figure 10: the round trips of figure 7 on a directory of --big computers and on one of
// --small, side by side. In both, ou=bench holds the first --small computers (the listed
// container) and ou=bulk the rest; resolve and search by MAC (below the top entry) are spread
// over every computer of the directory.
void figureScaleRoundTrips(const GatewayOptions& o, Report& report) {
  expect(o.big > o.small, "--big must be larger than --small");
  auto smallServer = startDirectory(o.small);
  auto bigServer = startDirectory(o.small, o.big - o.small);
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  LdapReference smallRef(smallServer->uri(), admin.dn, admin.password, kBase);
  LdapReference bigRef(bigServer->uri(), admin.dn, admin.password, kBase);
  const Population smallP = populationOf(smallRef, o.small, 0, true);
  const Population bigP = populationOf(bigRef, o.small, o.big - o.small, true);
  const auto rs = commandsOf(smallRef, smallP, "ref-", 0x20000000);
  const auto rb = commandsOf(bigRef, bigP, "ref-", 0x20000000);
  Commands ls;
  Commands lb;
#ifdef NVO_BENCH_HAVE_MUXCLIENT
  GatewayClient smallLib(smallServer->uri(), admin.dn, admin.password);
  GatewayClient bigLib(bigServer->uri(), admin.dn, admin.password);
  expect(bigLib.searchByMac(bigP.searchBase, mac(o.big - 1)) ==
             bigRef.searchByMac(bigP.searchBase, mac(o.big - 1)),
         "searchObjects differs from the reference");
  ls = commandsOf(smallLib, smallP, "lib-", 0x10000000);
  lb = commandsOf(bigLib, bigP, "lib-", 0x10000000);
#endif
  const std::size_t few = std::max<std::size_t>(o.scaleRounds, o.scaleCalls / 10);
  const std::size_t calls = o.scaleCalls;
  addScaleRows(report, o, "resolve", calls, lb.resolve, rb.resolve, ls.resolve, rs.resolve);
  addScaleRows(report, o, "search_mac", calls, lb.searchMac, rb.searchMac, ls.searchMac,
               rs.searchMac);
  addScaleRows(report, o, "add", calls, lb.add, rb.add, ls.add, rs.add);
  addScaleRows(report, o, "modify", calls, lb.modify, rb.modify, ls.modify, rs.modify);
  addScaleRows(report, o, "enumerate_" + std::to_string(o.small), few, lb.enumerate, rb.enumerate,
               ls.enumerate, rs.enumerate);
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
    "usage: bench-gateway [--figures 7,8,10] [--calls N] [--rounds N] [--children N] [--big N] "
    "[--small N] [--scale-searches N] [--scale-calls N] [--scale-rounds N]\n";

std::optional<GatewayOptions> parse(int argc, char** argv) {
  GatewayOptions o;
  if (!readSizeOptions(argc, argv,
                       {{"--calls", &o.calls},
                        {"--rounds", &o.rounds},
                        {"--children", &o.children},
                        {"--big", &o.big},
                        {"--small", &o.small},
                        {"--scale-searches", &o.scaleSearches},
                        {"--scale-calls", &o.scaleCalls},
                        {"--scale-rounds", &o.scaleRounds}},
                       &o.figures)) {
    std::cerr << kUsage;
    return std::nullopt;
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
    if (options->figures.count(10) != 0) {
      figureScaleRoundTrips(*options, report);
    }
  } catch (const std::exception& e) {
    std::cerr << "bench-gateway: " << e.what() << "\n";
    return 1;
  }
  report.printTable(std::cout);
  report.printMachineLines(std::cout);
  return 0;
}
