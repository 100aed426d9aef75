// bench-console: the console figures. tarvik and bench-console-reference (the same directory
// operations over raw libldap, see console_reference_main.cc) each run in a pseudo-terminal of
// their own, against the same private slapd of the gateway's directory model, logged in as the
// administrator through a session file ($NVO_AUTHENTICATION).
//
//  12  start: from spawning the process until its first prompt ("Top : ") has been written,
//      --starts times per side, the two sides alternating; each side's median
//  13  a container of --children computers: "cd" into it (the console lists the children
//      there) until its prompt, and "ls" until every line and the next prompt have been
//      written; --listings rounds, which side goes first alternating; each side's median
//
// Prints the table and one "BENCH ..." line per row (bench/README.md). Asserts nothing but that
// both sides print what the console prints.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "bench/bench_directory.h"
#include "bench/report.h"
#include "bench/size_options.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/slapd_server.h"

namespace nvo_bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Options {
  std::set<int> figures{12, 13};
  std::size_t starts = 20;  // per side
  std::size_t children = 10000;
  std::size_t listings = 8;  // rounds of cd and ls per side
};

constexpr const char* kContainer = "ou=fleet,o=orvanta";

void expect(bool condition, const std::string& what) {
  if (!condition) {
    throw std::runtime_error("bench-console: " + what);
  }
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double microsecondsSince(Clock::time_point begin) {
  return std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
}

// One program in a pseudo-terminal of its own, its output collected as it comes.
class PtyProgram {
 public:
  PtyProgram(const std::string& program, const std::vector<std::string>& environment) {
    std::vector<char*> env;
    for (const std::string& e : environment) {
      env.push_back(const_cast<char*>(e.c_str()));
    }
    env.push_back(nullptr);
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 160;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
      execve(program.c_str(), argv, env.data());
      _exit(127);
    }
    expect(pid_ > 0, std::string("forkpty: ") + std::strerror(errno));
    fcntl(master_, F_SETFD, FD_CLOEXEC);
  }
  PtyProgram(const PtyProgram&) = delete;
  PtyProgram& operator=(const PtyProgram&) = delete;
  ~PtyProgram() {
    // Ctrl-D at the prompt ends both programs; a program that does not end is killed.
    (void)!::write(master_, "\x04", 1);
    const Clock::time_point deadline = Clock::now() + 5s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      readSome(10ms);  // the program may block on a full terminal until it is read
    }
    ::close(master_);
  }

  std::size_t size() const { return output_.size(); }
  const std::string& output() const { return output_; }

  void send(const std::string& text) {
    expect(::write(master_, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
           "cannot write to the terminal");
  }

  // Reads until `text` has appeared at or after `from`; the offset just past it. Throws when
  // the program ends or 60 s pass first.
  std::size_t waitFor(const std::string& text, std::size_t from) {
    const Clock::time_point deadline = Clock::now() + 60s;
    for (;;) {
      const std::size_t found = output_.find(text, from);
      if (found != std::string::npos) {
        return found + text.size();
      }
      if (Clock::now() > deadline) {
        fail("no \"" + text + "\" within 60 s");
      }
      // Only the part that may still hold `text` is searched again.
      from = std::max(from, output_.size() - std::min(output_.size(), text.size()));
      if (!readSome(1s)) {
        fail("the program ended");
      }
    }
  }

 private:
  // Waits at most `timeout` for output and appends what there is; false at the end of it.
  bool readSome(std::chrono::milliseconds timeout) {
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
      return true;
    }
    char buffer[65536];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(
        "bench-console: " + what + "; the output ends with:\n" +
        output_.substr(output_.size() - std::min<std::size_t>(output_.size(), 400)));
  }

  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
};

struct Side {
  std::string program;
  std::vector<double> starts, cds, listings;  // microseconds
};

// One start: spawn until "Top : " is on the terminal.
void timeStart(Side& side, const std::vector<std::string>& environment) {
  const Clock::time_point begin = Clock::now();
  PtyProgram program(side.program, environment);
  const std::size_t end = program.waitFor("Top : ", 0);
  side.starts.push_back(microsecondsSince(begin));
  expect(program.output().find("NVO Debugging Tool \r\n") < end,
         side.program + " printed no banner before its prompt");
}

// Counts the lines "  ws-N" (after a newline or a terminal mode change) between `from` and `to`.
std::size_t childLines(const std::string& output, std::size_t from, std::size_t to) {
  std::size_t count = 0;
  for (std::size_t at = output.find("  ws-", from); at < to; at = output.find("  ws-", at + 1)) {
    ++count;
  }
  return count;
}

// One round of figure 13 on a program standing in ou=orvanta: cd fleet, ls, cd .. (untimed).
void timeListing(Side& side, PtyProgram& program, std::size_t children) {
  std::size_t from = program.size();
  Clock::time_point begin = Clock::now();
  program.send("cd fleet\n");
  program.waitFor("fleet : ", from);
  side.cds.push_back(microsecondsSince(begin));

  from = program.size();
  begin = Clock::now();
  program.send("ls\n");
  const std::size_t end = program.waitFor("fleet : ", from);
  side.listings.push_back(microsecondsSince(begin));
  expect(childLines(program.output(), from, end) == children,
         side.program + "'s ls did not print every child:\n" +
             program.output().substr(from, std::min<std::size_t>(end - from, 600)));

  from = program.size();
  program.send("cd ..\n");
  program.waitFor("orvanta : ", from);
}

Row row(const std::string& figure, const std::string& key, double measuredUs, double referenceUs,
        const Fields& extra) {
  Row r;
  r.figure = figure;
  r.measured = milliseconds(measuredUs);
  r.reference = milliseconds(referenceUs);
  r.ratio = referenceUs / measuredUs;
  r.goal = ">= 0.8";
  r.met = *r.ratio >= 0.8;
  r.fields = {
      {"figure", key}, {"tarvik_us", fixed(measuredUs, 1)}, {"ref_us", fixed(referenceUs, 1)}};
  r.fields.insert(r.fields.end(), extra.begin(), extra.end());
  return r;
}

// The directory of the bin/ folder this program runs from.
std::filesystem::path binDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

int run(const Options& o) {
  std::string ldif;
  addUnit(ldif, kContainer);
  for (std::size_t i = 0; i < o.children; ++i) {
    addComputer(ldif, "ws-" + std::to_string(i), kContainer);
  }
  const auto server = startBenchDirectory(std::move(ldif), o.children);
  const nvo_test::SlapdServer& directory = *server;
  const nvo_test::Identity admin = nvo_test::SlapdServer::admin();
  nvo_test::ScratchDir scratch("bench-console");
  const std::string session = scratch.write(
      "admin.xml", "<?xml version=\"1.0\"?><authentication><gateway><url>" + directory.uri() +
                       "</url><authname>" + admin.dn + "</authname><password>" + admin.password +
                       "</password><objectname>" + admin.dn +
                       "</objectname><primaryGateway/></gateway></authentication>");
  // The caller's environment without its terminal and readline settings, plus the session.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("TERM=", 0) != 0 && entry.rfind("INPUTRC=", 0) != 0 &&
        entry.rfind("NVO_AUTHENTICATION=", 0) != 0 && entry.rfind("COLUMNS=", 0) != 0 &&
        entry.rfind("LINES=", 0) != 0) {
      environment.push_back(entry);
    }
  }
  environment.push_back("TERM=xterm");
  environment.push_back("INPUTRC=/dev/null");
  environment.push_back("NVO_AUTHENTICATION=" + session);

  const std::filesystem::path bin = binDirectory();
  Side tarvik{(bin / "tarvik").string(), {}, {}, {}};
  Side reference{(bin / "bench-console-reference").string(), {}, {}, {}};
  Report report("tarvik");

  if (o.figures.count(12) != 0) {
    // A third side, for the record: the reference with libnvo and every library it brings
    // loaded and initialised before its main (LD_PRELOAD), as tarvik's process has them.
    std::vector<std::string> preloadEnvironment = environment;
    preloadEnvironment.push_back("LD_PRELOAD=" +
                                 (bin.parent_path() / "lib" / "libnvo.so.1").string());
    Side preloaded{reference.program, {}, {}, {}};
    // One untimed start of each first: the binaries and libraries into the page cache.
    Side warm[] = {tarvik, reference};
    timeStart(warm[0], environment);
    timeStart(warm[1], environment);
    timeStart(warm[1], preloadEnvironment);
    for (std::size_t i = 0; i < o.starts; ++i) {
      timeStart(i % 2 == 0 ? tarvik : reference, environment);
      timeStart(i % 2 == 0 ? reference : tarvik, environment);
      timeStart(preloaded, preloadEnvironment);
    }
    report.add(row("12 console start to first prompt", "console_start", median(tarvik.starts),
                   median(reference.starts), {{"starts", std::to_string(o.starts)}}));
    Row libraries = row("12 reference with libnvo's libraries loaded", "console_start_preloaded",
                        median(preloaded.starts), median(reference.starts),
                        {{"starts", std::to_string(o.starts)}});
    libraries.goal.clear();
    libraries.met.reset();
    report.add(libraries);
  }

  if (o.figures.count(13) != 0) {
    PtyProgram tarvikProgram(tarvik.program, environment);
    PtyProgram referenceProgram(reference.program, environment);
    for (PtyProgram* p : {&tarvikProgram, &referenceProgram}) {
      p->waitFor("Top : ", 0);
      const std::size_t from = p->size();
      p->send("cd orvanta\n");
      p->waitFor("orvanta : ", from);
    }
    // One untimed round each: the server's pages of the container mapped.
    Side warm[] = {tarvik, reference};
    timeListing(warm[0], tarvikProgram, o.children);
    timeListing(warm[1], referenceProgram, o.children);
    for (std::size_t r = 0; r < o.listings; ++r) {
      if (r % 2 == 0) {
        timeListing(tarvik, tarvikProgram, o.children);
        timeListing(reference, referenceProgram, o.children);
      } else {
        timeListing(reference, referenceProgram, o.children);
        timeListing(tarvik, tarvikProgram, o.children);
      }
    }
    const Fields extra = {{"children", std::to_string(o.children)},
                          {"rounds", std::to_string(o.listings)}};
    const std::string n = std::to_string(o.children);
    report.add(row("13 cd into " + n + " children (lists them)", "console_cd", median(tarvik.cds),
                   median(reference.cds), extra));
    report.add(row("13 ls of " + n + " children", "console_ls", median(tarvik.listings),
                   median(reference.listings), extra));
  }
  report.printTable(std::cout);
  report.printMachineLines(std::cout);
  return 0;
}

constexpr const char* kUsage =
    "usage: bench-console [--figures 12,13] [--starts N] [--children N] [--listings N]\n";

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  if (!readSizeOptions(
          argc, argv,
          {{"--starts", &o.starts}, {"--children", &o.children}, {"--listings", &o.listings}},
          &o.figures)) {
    return std::nullopt;
  }
  return o;
}

}  // namespace
}  // namespace nvo_bench

int main(int argc, char** argv) {
  const std::optional<nvo_bench::Options> options = nvo_bench::parse(argc, argv);
  if (!options) {
    std::cerr << nvo_bench::kUsage;
    return 2;
  }
  // The test server finds the gateway's schema files through the source tree.
  setenv("NVO_SOURCE_DIR", NVO_BENCH_SOURCE_DIR, 0);
  const std::string missing = nvo_test::SlapdServer::missingPieces();
  if (!missing.empty()) {
    std::cerr << "bench-console: cannot start a directory: " << missing << "\n";
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  try {
    return nvo_bench::run(*options);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
