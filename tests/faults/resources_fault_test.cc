// Fault tests: the daemon short of descriptors, and hostile bytes. It keeps serving once the
// shortage passes, never drops a healthy listener because of its own shortage, and no
// malformed request crashes it or stops it answering good ones.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include "protocol/tolm_wire.h"
#include "tests/faults/fault_fixture.h"
#include "tests/support/fd_io.h"
#include "tests/support/test_listener.h"

namespace faults {
namespace {

using nvo_test::ListenerOptions;
using nvo_test::PingMode;
using nvo_test::TestListener;

class ResourceFaultTest : public FaultTest {
 protected:
  const std::vector<uint8_t> payload_{7, 7, 7};
};

// The smallest descriptor number `pid` does not use: with its limit set there, the next
// descriptor it asks for is refused.
rlim_t lowestFreeDescriptor(pid_t pid) {
  std::set<long> used;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    used.insert(std::stol(entry.path().filename().string()));
  }
  long free = 0;
  while (used.contains(free)) {
    ++free;
  }
  return static_cast<rlim_t>(free);
}

// The soft descriptor limit of `pid`, from /proc (readable by anyone).
std::optional<rlim_t> softDescriptorLimit(pid_t pid) {
  std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
  for (std::string line; std::getline(limits, line);) {
    if (line.rfind("Max open files", 0) == 0) {
      return static_cast<rlim_t>(std::stoull(line.substr(std::strlen("Max open files"))));
    }
  }
  return std::nullopt;
}

// Sets the soft descriptor limit of `pid`, keeping its hard limit. The daemon runs as
// "nobody" and this sandbox grants no right to change another user's limits, so a child
// process becomes "nobody" and does it.
bool setDescriptorLimit(pid_t pid, rlim_t soft) {
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) {
    return false;
  }
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const pid_t child = ::fork();
  if (child == 0) {
    rlimit limit{};
    const bool done = ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0 &&
                      ::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit) == 0 &&
                      (limit.rlim_cur = soft, ::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr) == 0);
    ::_exit(done ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

TEST_F(ResourceFaultTest, MoreConnectionsThanDescriptorsThenServingResumes) {
#if defined(NVO_SANITIZED)
  // The undefined-behaviour checker needs a descriptor of its own to inspect a thrown
  // exception's type; without one it ends the process. A limit of the checker, not the daemon.
  GTEST_SKIP() << "the sanitizers cannot work without free descriptors";
#endif
  constexpr int kLimit = 24;
  constexpr int kClients = 80;
  startDaemon(
      {"/usr/bin/prlimit", "--nofile=" + std::to_string(kLimit) + ":" + std::to_string(kLimit)});
  TestListener keep({.address = "127.0.3.1"});
  ASSERT_EQ(registerAt(keep.address(), keep.port(), "keep"), answer(tolm::kAnswerRegister, 0));

  // Every registration's connection waits open in the Registry's queue while a slow probe
  // runs, so the connections outnumber the descriptors.
  TestListener slow({.ping = PingMode::kSlow, .answerDelay = 100ms, .address = "127.0.3.2"});
  std::atomic<int> accepted{0}, unreachable{0}, unanswered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      // Beyond the listen queue the kernel may reset a connection (its SYN cookies fail while
      // the queue stays full); a client then tries again, as a real one would.
      std::optional<Answer> result;
      for (int attempt = 0; attempt < 3 && !result; ++attempt) {
        result = nvo_test::exchange(
            port(), registerRequest(slow.address(), slow.port(), "load." + std::to_string(i)), 60s);
      }
      if (!result) {
        ++unanswered;
      } else if (result->result == 0) {
        ++accepted;
      } else if (result->result == tolm::kRcUnreachable) {
        ++unreachable;
      }
    });
  }
  for (std::thread& client : clients) {
    client.join();
  }
  EXPECT_GT(daemon().countLines("TolmDaemon::run - accept failed: "), 0u)
      << "the load never exhausted the descriptors";
  EXPECT_EQ(accepted + unreachable + unanswered, kClients);
  EXPECT_EQ(unanswered, 0) << "every client is answered in the end";

  // The load has passed: everything works as before.
  EXPECT_TRUE(nvo_test::processAlive(daemon().pid()));
  ASSERT_EQ(signal("keep", payload_), answer(tolm::kAnswerSignal, 0));
  EXPECT_TRUE(keep.waitForNotifications(1, 10s)) << daemon().transcript();
  TestListener fresh({.address = "127.0.3.3"});
  EXPECT_EQ(registerAt(fresh.address(), fresh.port(), "keep"), answer(tolm::kAnswerRegister, 0));
  ASSERT_EQ(signal("keep", payload_, 0, 1), answer(tolm::kAnswerSignal, 0));
  EXPECT_TRUE(fresh.waitForNotifications(1, 10s));
  stopDaemon();
}

// A notification that cannot even get a socket (the daemon is out of descriptors) says
// nothing about the listener: its registration must stay.
TEST_F(ResourceFaultTest, RegistrationKeptWhenTheDaemonHasNoSocketForTheNotification) {
#if defined(NVO_SANITIZED)
  GTEST_SKIP() << "the sanitizers cannot work without free descriptors";
#endif
  startDaemon();
  TestListener first({.address = "127.0.4.1"});
  TestListener second({.address = "127.0.4.2"});
  ASSERT_EQ(registerAt(first.address(), first.port(), "short"), answer(tolm::kAnswerRegister, 0));
  ASSERT_EQ(registerAt(second.address(), second.port(), "short"), answer(tolm::kAnswerRegister, 0));

  // Timed stagger: a long pause after the first listener, in which the daemon's descriptor
  // limit drops to what it already uses.
  ASSERT_EQ(signal("short", payload_, tolm::kStaggerTimed, 2000), answer(tolm::kAnswerSignal, 0));
  ASSERT_TRUE(
      nvo_test::waitUntil([&] { return first.notifyCount() + second.notifyCount() == 1; }, 10s));
  const std::optional<rlim_t> original = softDescriptorLimit(daemon().pid());
  ASSERT_TRUE(original);
  ASSERT_TRUE(setDescriptorLimit(daemon().pid(), lowestFreeDescriptor(daemon().pid())));
  const bool refused =
      daemon().waitForLine("* Socket exception caught in Signaler::notifyClient.", 10s).has_value();
  ASSERT_TRUE(setDescriptorLimit(daemon().pid(), *original));
  ASSERT_TRUE(refused) << daemon().transcript();
  // The failure's details follow its first line: wait for them rather than look at once.
  daemon().waitForLine("* What: socket", 10s);
  EXPECT_TRUE(daemon().hasExactLine("* What: socket")) << daemon().transcript();
  ASSERT_TRUE(waitForDone(1, 10s));
  EXPECT_EQ(doneLines()[0], (DoneCounts{1, 1}));

  ASSERT_EQ(signal("short", payload_), answer(tolm::kAnswerSignal, 0));
  ASSERT_TRUE(waitForDone(2, 10s));
  EXPECT_EQ(doneLines()[1], (DoneCounts{2, 0})) << daemon().transcript();
  // The daemon's count says it wrote both notifications; the listeners read them in their
  // own time.
  nvo_test::waitUntil([&] { return first.notifyCount() + second.notifyCount() >= 3; }, 10s);
  EXPECT_EQ(first.notifyCount() + second.notifyCount(), 3u);
  stopDaemon();
}

// Builds malformed requests of every kind from one seeded generator, so a failure can be
// reproduced from the seed in the test's output.
class MalformedRequests {
 public:
  MalformedRequests(uint32_t seed, uint16_t closedPort) : random_(seed), closedPort_(closedPort) {}

  std::vector<uint8_t> next() {
    std::vector<uint8_t> request;
    switch (pick(8)) {
      case 0:  // bytes of no form at all, often shorter than a header
        request = bytes(pick(40));
        break;
      case 1:  // a header announcing a length outside every bound
        request = header(function(), pick(2) ? 4097 + static_cast<int32_t>(pick(100000))
                                             : -1 - static_cast<int32_t>(pick(100000)));
        break;
      case 2: {  // a body shorter than announced
        request = header(function(), static_cast<int32_t>(16 + pick(200)));
        append(request, bytes(pick(16)));
        break;
      }
      case 3:  // a wrong version
        request = tolm::buildSignalRequest("bad", bytes(pick(8)), 0);
        request[3] ^= static_cast<uint8_t>(1 + pick(200));
        break;
      case 4:  // a wrong checksum
        request = tolm::buildSignalRequest("sum", bytes(pick(8)), 0);
        request[12 + pick(4)] ^= static_cast<uint8_t>(1 + pick(200));
        break;
      default:  // a body of random words under a right checksum: counts anywhere
        request = header(function(), 0);
        append(request, bytes(4 + pick(60)));
        break;
    }
    return sealed(std::move(request));
  }

 private:
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }
  std::vector<uint8_t> bytes(std::size_t n) {
    std::vector<uint8_t> out(n);
    for (auto& b : out)
      b = static_cast<uint8_t>(pick(256));
    return out;
  }
  uint32_t function() {
    static constexpr uint32_t kFunctions[] = {tolm::kFuncRegister, tolm::kFuncDeregister,
                                              tolm::kFuncSignal,   tolm::kFuncNotify,
                                              tolm::kFuncPing,     0xDEADBEEF};
    return kFunctions[pick(6)];
  }
  static std::vector<uint8_t> header(uint32_t function, int32_t length) {
    const tolm::HeaderBytes bytes = tolm::encodeHeader({tolm::kProtocolVersion, function, length});
    return {bytes.begin(), bytes.end()};
  }
  static void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
  }
  // Random-word bodies get their length and checksum right, and a REGISTER that would parse
  // is pointed at a closed loopback port, so its probe fails at once.
  std::vector<uint8_t> sealed(std::vector<uint8_t> request) {
    if (request.size() <= 16 || tolm::loadWord(request, 8) != 0) {
      return request;
    }
    tolm::storeWord(request, 8, static_cast<uint32_t>(request.size() - 12));
    std::span<uint8_t> body = std::span<uint8_t>(request).subspan(12);
    tolm::ListenerRequest parsed;
    if (tolm::loadWord(request, 4) == tolm::kFuncRegister && body.size() >= 14) {
      tolm::storeWord(body, 4, 0x7f000001);  // 127.0.0.1 as bytes on the wire
      body[8] = static_cast<uint8_t>(closedPort_ >> 8);
      body[9] = static_cast<uint8_t>(closedPort_);
    }
    tolm::storeWord(body, 0, tolm::checksum(body.subspan(4)));
    return request;
  }

  std::mt19937 random_;
  uint16_t closedPort_;
};

// Sends `request`, half-closes, and reads what comes back until the daemon closes: nothing or
// one 12-byte answer. False when anything else arrives.
bool sendMalformed(uint16_t port, const std::vector<uint8_t>& request) {
  nvo_test::RawConnection connection(port);
  connection.send(request);  // the daemon may close early on a bad header
  connection.shutdownWrite();
  const std::vector<uint8_t> back = connection.read(64, 15s);
  if (back.empty()) {
    return true;
  }
  return back.size() == 12 && tolm::loadWord(back, 0) == tolm::kProtocolVersion;
}

TEST_F(ResourceFaultTest, TenThousandMalformedRequestsNeitherCrashNorStopTheService) {
  constexpr int kRequests = 10000;
  constexpr int kThreads = 4;
  constexpr int kCheckEvery = 500;
  const uint32_t seed = std::random_device{}();
  RecordProperty("seed", std::to_string(seed));
  startDaemon();
  TestListener listener({.address = "127.0.5.1"});
  ASSERT_EQ(registerAt(listener.address(), listener.port(), "alive"),
            answer(tolm::kAnswerRegister, 0));
  const uint16_t closedPort = TestListener::unusedPort("127.0.0.1");

  std::atomic<int> next{0}, oddAnswers{0}, goodFailures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      MalformedRequests requests(seed + static_cast<uint32_t>(t), closedPort);
      for (int n = next++; n < kRequests; n = next++) {
        if (!sendMalformed(port(), requests.next())) {
          ++oddAnswers;
        }
        if (n % kCheckEvery == 0) {
          auto reply = nvo_test::exchange(port(), signalRequest("check", payload_), 15s);
          if (reply != answer(tolm::kAnswerSignal, 0)) {
            ++goodFailures;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(oddAnswers, 0) << "seed " << seed;
  EXPECT_EQ(goodFailures, 0) << "seed " << seed;
  ASSERT_TRUE(nvo_test::processAlive(daemon().pid())) << "seed " << seed;
  ASSERT_EQ(signal("alive", payload_), answer(tolm::kAnswerSignal, 0)) << "seed " << seed;
  EXPECT_TRUE(listener.waitForNotifications(1, 10s));
  stopDaemon();
}

}  // namespace
}  // namespace faults
