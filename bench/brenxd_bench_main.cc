// bench-brenxd: figure 9, workstation enrolment. The real brenxd (in the foreground, logging at
// INFO) next to a minimal reference server in this process that speaks the same request
// protocol and, for each request, does the same directory operations directly through libldap
// (LdapReference): connect and bind as the agent's account, resolve the creation container,
// search the MAC, then add the computer (with its password) or set its password. Both serve one
// connection at a time. One client enrols --workstations new workstations, then the same again
// (repeat enrolments), in rounds that alternate between the two sides; each side's rate is its
// median round, latencies over all its requests. Then --burst workstations connect at once to
// brenxd and each must be answered.
//
// The directory holds --small computers besides (half in each side's container) for figure 9.
// Figure 11 adds a second directory of --big computers: brenxd is switched between the two by
// a changed configuration and SIGHUP, the reference has a server for each, and the four sides
// (brenxd and the reference, on either directory) take turns in the same rounds.
//
// Runs as root inside tests/sandbox/run-in-sandbox (brenxd reads /etc/opt/nvo/brenxd.conf, the
// sandbox's own). Prints the table and one "BENCH ..." line per row (bench/README.md).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

#include "bench/bench_directory.h"
#include "bench/ldap_reference.h"
#include "bench/report.h"
#include "bench/size_options.h"
#include "brenxd/request_codec.h"
#include "brenxd/tools/enrol_answer.h"
#include "tests/support/daemon_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/service_sandbox.h"
#include "tests/support/slapd_server.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kNew = "ou=New,o=orvanta";
constexpr const char* kRefNew = "ou=RefNew,o=orvanta";
constexpr const char* kConfig = "/etc/opt/nvo/brenxd.conf";

struct Options {
  std::size_t workstations = 400;
  std::size_t rounds = 8;
  std::size_t burst = 1000;
  std::size_t small = 100;
  std::size_t big = 100000;  // 0: figure 9 alone
};

// MACs of the computers a directory starts with; those enrolled count from 0.
constexpr std::size_t kPreloadedMacs = 0x1000000;

void expect(bool condition, const std::string& what) {
  if (!condition) {
    throw std::runtime_error("bench-brenxd: " + what);
  }
}

std::string macOf(std::size_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "02:01:%02zx:%02zx:%02zx:%02zx", (i >> 24) & 0xff,
                (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff);
  return text;
}

// The reference agent: one listening socket on loopback, one thread serving one connection at a
// time until stopped.
class ReferenceAgent {
 public:
  ReferenceAgent(std::string url, nvo_test::Identity account, std::string container)
      : url_(std::move(url)), account_(std::move(account)), container_(std::move(container)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    expect(fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(fd_, 100) == 0 &&
               ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0,
           "reference listener");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ReferenceAgent() {
    stop_ = true;
    nvo_test::RawConnection wake(port_);
    wake.close();
    thread_.join();
    ::close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  void serve() {
    while (!stop_) {
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        continue;
      }
      answer(client);
      ::close(client);
    }
  }
  static bool readAll(int fd, void* buffer, std::size_t size) {
    auto* at = static_cast<uint8_t*>(buffer);
    while (size > 0) {
      const ssize_t n = ::read(fd, at, size);
      if (n <= 0) {
        return false;
      }
      at += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  static std::optional<std::string> field(int fd) {
    std::array<uint8_t, 4> length{};
    if (!readAll(fd, length.data(), 4)) {
      return std::nullopt;
    }
    const uint32_t size = brenxd::decodeLength(length);
    std::vector<uint8_t> bytes(size);
    if (size > brenxd::kMaxFieldLength || !readAll(fd, bytes.data(), size)) {
      return std::nullopt;
    }
    return brenxd::fieldText(bytes);
  }
  void answer(int fd) {
    std::optional<std::string> host = field(fd);
    std::optional<std::string> mac = field(fd);
    if (!host || !mac) {
      return;
    }
    const std::string name = brenxd::computerName(*host, *mac);
    const std::string password = "ref-" + std::to_string(++count_);
    LdapReference directory(url_, account_.dn, account_.password, "o=orvanta");
    const std::string container = directory.resolve(container_);
    std::string id = directory.searchByMac(container, *mac);
    if (id.empty()) {
      directory.add(container, name, password, *mac);
    } else {
      directory.setPassword(id, password);
    }
    const std::string dn = "cn=" + name + "," + container_;
    const std::vector<uint8_t> reply =
        brenxd::encodeAnswer("<authentication><gateway><url>" + url_ + "</url><authname>" + dn +
                             "</authname><password>" + password + "</password><objectname>" + dn +
                             "</objectname><primaryGateway/></gateway>" + "</authentication>");
    (void)!::write(fd, reply.data(), reply.size());
  }

  std::string url_;
  nvo_test::Identity account_;
  std::string container_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::size_t count_ = 0;
  std::thread thread_;
};

// One enrolment on a new connection; its duration in microseconds.
double enrolOnce(uint16_t port, std::size_t i) {
  const Clock::time_point begin = Clock::now();
  nvo_test::RawConnection connection(port);
  expect(connection.send(brenxd::encodeRequest("ws-" + std::to_string(i), macOf(i))), "send");
  const brenxd::EnrolAnswer answer = brenxd::readAnswer(connection.read(1 << 20, 30s));
  expect(answer.kind == brenxd::EnrolAnswer::Kind::kAnswer,
         "no answer for workstation " + std::to_string(i));
  return std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
}

struct Side {
  std::vector<double> roundRates;  // enrolments per second of each round
  std::vector<double> latencies;   // microseconds
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[static_cast<std::size_t>(p * (values.size() - 1))];
}

double medianRate(std::vector<double> rates) {
  return percentile(std::move(rates), 0.5);
}

void runRound(uint16_t port, std::size_t first, std::size_t count, Side& side) {
  const Clock::time_point begin = Clock::now();
  for (std::size_t i = first; i < first + count; ++i) {
    side.latencies.push_back(enrolOnce(port, i));
  }
  side.roundRates.push_back(static_cast<double>(count) /
                            std::chrono::duration<double>(Clock::now() - begin).count());
}

// One side of an enrolment figure: where it listens, what must happen before each of its rounds
// (brenxd: its configuration switched to the side's directory), its MACs' offset.
struct Target {
  uint16_t port = 0;
  std::function<void()> before;
  std::size_t macBase = 0;
  Side side;
};

// `workstations` enrolments per target in rounds; the target that goes first moves on by one
// each round. MACs are offset per target so that no two share a computer.
void enrolInRounds(const Options& o, std::vector<Target>& targets) {
  const std::size_t perRound = std::max<std::size_t>(1, o.workstations / o.rounds);
  for (std::size_t r = 0; r < o.rounds; ++r) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      Target& t = targets[(r + k) % targets.size()];
      if (t.before) {
        t.before();
      }
      runRound(t.port, t.macBase + r * perRound, perRound, t.side);
    }
  }
}

std::string rateAndLatencies(const Side& side) {
  return perSecond(medianRate(side.roundRates)) + ", p50/p99 " +
         milliseconds(percentile(side.latencies, 0.5)) + " / " +
         milliseconds(percentile(side.latencies, 0.99));
}

// A row of `measured` next to `reference`: figure 9's against the reference agent, figure 11's
// against the reference on the same directory or brenxd on the small one.
void addEnrolmentRow(Report& report, const std::string& figure, const std::string& key,
                     const Side& measured, const Side& reference, bool scale, std::size_t count,
                     const std::string& note = "") {
  const double rate = medianRate(measured.roundRates);
  const double refRate = medianRate(reference.roundRates);
  Row row;
  row.figure = figure;
  row.measured = rateAndLatencies(measured);
  row.reference = rateAndLatencies(reference) + note;
  row.ratio = rate / refRate;
  row.goal = scale ? "<= 1.5x time (ratio >= 0.67)" : ">= 0.8";
  row.met = *row.ratio >= (scale ? 1 / 1.5 : 0.8);
  row.fields = {{"figure", key},
                {"workstations", std::to_string(count)},
                {"rate", fixed(rate, 1)},
                {"ref_rate", fixed(refRate, 1)}};
  report.add(row);
}

// `burst` workstations connect at once (each on its own thread) and must all be answered.
void figureBurst(const Options& o, uint16_t agent, Report& report) {
  std::atomic<std::size_t> answered{0};
  std::vector<std::thread> clients;
  const Clock::time_point begin = Clock::now();
  for (std::size_t i = 0; i < o.burst; ++i) {
    clients.emplace_back([&, i] {
      try {
        enrolOnce(agent, 0x200000 + i);
        ++answered;
      } catch (const std::exception&) {
        // counted as lost below
      }
    });
  }
  for (std::thread& client : clients) {
    client.join();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  Row row;
  row.figure = "9 enrolment, " + std::to_string(o.burst) + " at once";
  row.measured = std::to_string(answered.load()) + " answered in " + fixed(seconds, 1) + " s";
  row.reference = "";
  row.goal = "all answered";
  row.met = answered.load() == o.burst;
  row.fields = {{"figure", "brenxd_burst"},
                {"workstations", std::to_string(o.burst)},
                {"answered", std::to_string(answered.load())},
                {"seconds", fixed(seconds, 2)}};
  report.add(row);
}

std::string config(const std::string& url) {
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  return "<brenxd><authentication><gateway><url>" + url + "</url><authname>" + admin.dn +
         "</authname><password>" + admin.password + "</password><objectname>" + admin.dn +
         "</objectname><primaryGateway/></gateway></authentication><workstationcreation>"
         "<creationLocation>" +
         kNew + "</creationLocation></workstationcreation></brenxd>";
}

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  if (!readSizeOptions(argc, argv,
                       {{"--workstations", &o.workstations},
                        {"--rounds", &o.rounds},
                        {"--burst", &o.burst},
                        {"--small", &o.small},
                        {"--big", &o.big}},
                       nullptr, {"--big"})) {
    return std::nullopt;
  }
  return o;
}

// A directory of the gateway's model with the two creation containers, each holding half of
// `computers` that were there before the bench.
std::unique_ptr<nvo_test::SlapdServer> startDirectory(std::size_t computers) {
  std::string ldif;
  ldif.reserve(computers * 160 + 256);
  addUnit(ldif, kNew);
  addUnit(ldif, kRefNew);
  for (std::size_t i = 0; i < computers; ++i) {
    addComputer(ldif, "pre-" + std::to_string(i), i % 2 == 0 ? kNew : kRefNew,
                macOf(kPreloadedMacs + i));
  }
  return startBenchDirectory(std::move(ldif), computers);
}

void writeConfig(const std::string& url) {
  std::filesystem::create_directories("/etc/opt/nvo");
  std::ofstream(kConfig, std::ios::trunc) << config(url);
  std::filesystem::permissions(kConfig, std::filesystem::perms::owner_read |
                                            std::filesystem::perms::owner_write |
                                            std::filesystem::perms::group_read);
  (void)!::chown(kConfig, 0, 65534);
}

// Children of `container` in the directory at `url`, counted as the administrator.
std::size_t childrenOf(const std::string& url, const std::string& container) {
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  LdapReference directory(url, admin.dn, admin.password, "o=orvanta");
  return directory.enumerate(directory.resolve(container));
}

int run(const Options& o) {
  auto small = startDirectory(o.small);
  std::unique_ptr<nvo_test::SlapdServer> big = o.big > 0 ? startDirectory(o.big) : nullptr;
  writeConfig(small->uri());

  nvo_test::ServiceSandbox sandbox("/run/bench-brenxd-slp.conf");
  sandbox.prepare("net.slp.multicastTimeouts = 100,200\nnet.slp.multicastMaximumWait = 300\n");
  std::unique_ptr<nvo_test::DaemonProcess> slp = sandbox.startSlpAgent();
  expect(nvo_test::waitForSlpAgent(10s), "vslpd did not come up");
  nvo_test::DaemonProcess agent(nvo_test::buildBinary("brenxd"), {"-d", "-l", "INFO"},
                                sandbox.environment());
  agent.start();
  expect(agent.waitForLine("brenxd listening on all network interfaces", 30s).has_value(),
         "brenxd did not start:\n" + agent.transcript());
  uint16_t port = 0;
  for (const std::string& line : agent.lines()) {
    const std::string prefix = "brenxd registered service:nvowsc.x://192.0.2.1:";
    if (line.rfind(prefix, 0) == 0) {
      port = static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));
    }
  }
  expect(port != 0, "no port in brenxd's log");
  ReferenceAgent smallRef(small->uri(), nvo_test::SlapdServer::admin(), kRefNew);
  std::unique_ptr<ReferenceAgent> bigRef =
      big ? std::make_unique<ReferenceAgent>(big->uri(), nvo_test::SlapdServer::admin(), kRefNew)
          : nullptr;

  // brenxd's directory: switched with a changed configuration and SIGHUP; the agent reads it
  // again before it takes the next connection.
  const nvo_test::SlapdServer* current = small.get();
  auto switchTo = [&](const nvo_test::SlapdServer* wanted) {
    if (wanted == current) {
      return;
    }
    writeConfig(wanted->uri());
    const std::size_t from = agent.lineCount();
    agent.sendSignal(SIGHUP);
    expect(agent.waitForLine("Received SIGHUP signal", 30s, from).has_value(),
           "brenxd did not take SIGHUP");
    current = wanted;
  };

  Report report("brenxd");
  for (const std::string what : {"new", "repeat"}) {
    std::vector<Target> targets;
    targets.push_back({port, [&] { switchTo(small.get()); }, 0, {}});
    targets.push_back({smallRef.port(), nullptr, 0x100000, {}});
    if (big) {
      targets.push_back({port, [&] { switchTo(big.get()); }, 0x400000, {}});
      targets.push_back({bigRef->port(), nullptr, 0x500000, {}});
    }
    enrolInRounds(o, targets);
    const std::size_t count = std::max<std::size_t>(1, o.workstations / o.rounds) * o.rounds;
    // Each side enrolled into its own directory, each workstation once.
    expect(childrenOf(small->uri(), kNew) == o.small - o.small / 2 + count &&
               childrenOf(small->uri(), kRefNew) == o.small / 2 + count,
           "the small directory does not hold the enrolled computers");
    if (big) {
      expect(childrenOf(big->uri(), kNew) == o.big - o.big / 2 + count &&
                 childrenOf(big->uri(), kRefNew) == o.big / 2 + count,
             "the big directory does not hold the enrolled computers");
    }
    addEnrolmentRow(report, "9 enrolment, " + what, "brenxd_enrolment_" + what, targets[0].side,
                    targets[1].side, false, count);
    if (big) {
      const std::string sizes = std::to_string(o.big) + " vs " + std::to_string(o.small);
      // The reference agent's own growth beside it: what the directory's side costs.
      const double refScale =
          medianRate(targets[3].side.roundRates) / medianRate(targets[1].side.roundRates);
      addEnrolmentRow(report, "11 enrolment, " + what + ", " + sizes + " computers",
                      "brenxd_scale_" + what, targets[2].side, targets[0].side, true, count,
                      "; the reference's own ratio " + fixed(refScale, 2));
      addEnrolmentRow(report, "11 enrolment, " + what + ", " + std::to_string(o.big) + " computers",
                      "brenxd_big_" + what, targets[2].side, targets[3].side, false, count);
    }
  }
  switchTo(small.get());
  figureBurst(o, port, report);
  report.printTable(std::cout);
  report.printMachineLines(std::cout);
  agent.stop(20s);
  slp->stop(10s);
  return 0;
}

}  // namespace
}  // namespace nvo_bench

int main(int argc, char** argv) {
  const std::optional<nvo_bench::Options> options = nvo_bench::parse(argc, argv);
  if (!options) {
    std::cerr << "usage: bench-brenxd [--workstations N] [--rounds N] [--burst N] [--small N] "
                 "[--big N (0: no figure 11)]\n";
    return 2;
  }
  if (!nvo_test::inSandbox()) {
    std::cerr << "bench-brenxd: run it inside tests/sandbox/run-in-sandbox (scripts/bench does)\n";
    return 2;
  }
  setenv("NVO_SOURCE_DIR", NVO_BENCH_SOURCE_DIR, 0);
  try {
    return nvo_bench::run(*options);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
