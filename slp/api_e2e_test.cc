// The C API against a real vslpd on the sandbox's loopback and interfaces.
#include <signal.h>
#include <slp.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>

#include "slp/codec.h"
#include "slp/tcp_exchange.h"
#include "slp/test_support.h"

namespace vslp {
namespace {

using namespace std::chrono_literals;
using testing::DaemonChild;
using testing::TempDir;

struct Collected {
  std::vector<std::string> items;
  std::vector<unsigned short> lifetimes;
  int lastCalls = 0;
  int calls = 0;
  std::vector<SLPError> errors;
  int stopAfter = -1;  // return SLP_FALSE after this many items
};

SLPBoolean collectUrl(SLPHandle, const char* url, unsigned short lifetime, SLPError e, void* c) {
  auto* got = static_cast<Collected*>(c);
  ++got->calls;
  if (e == SLP_LAST_CALL) {
    ++got->lastCalls;
    EXPECT_EQ(url, nullptr);
    return SLP_FALSE;
  }
  if (e != SLP_OK) {
    got->errors.push_back(e);
    return SLP_TRUE;
  }
  got->items.emplace_back(url);
  got->lifetimes.push_back(lifetime);
  return static_cast<int>(got->items.size()) == got->stopAfter ? SLP_FALSE : SLP_TRUE;
}

SLPBoolean collectText(SLPHandle, const char* text, SLPError e, void* c) {
  auto* got = static_cast<Collected*>(c);
  ++got->calls;
  if (e == SLP_LAST_CALL) {
    ++got->lastCalls;
    return SLP_FALSE;
  }
  got->items.emplace_back(text);
  return SLP_TRUE;
}

void storeError(SLPHandle, SLPError e, void* c) {
  *static_cast<SLPError*>(c) = e;
}

class ApiEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::inSandbox()) {
      return;
    }
    dir_ = new TempDir;
    config_ = dir_->write("vslp.conf", testing::testConfig());
    ::setenv("VSLP_CONF", config_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    if (!testing::inSandbox()) {
      GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (own network namespace)";
    }
    ASSERT_EQ(SLPOpen("en", SLP_FALSE, &h_), SLP_OK);
  }
  void TearDown() override {
    if (h_ != nullptr) {
      SLPClose(h_);
    }
  }

  void startDaemon() { daemon_ = std::make_unique<DaemonChild>(config_); }

  SLPError reg(const std::string& url, const std::string& attrs,
               unsigned short lifetime = SLP_LIFETIME_MAXIMUM) {
    SLPError answer = SLP_INTERNAL_SYSTEM_ERROR;
    SLPError r =
        SLPReg(h_, url.c_str(), lifetime, nullptr, attrs.c_str(), SLP_TRUE, storeError, &answer);
    return r != SLP_OK ? r : answer;
  }

  Collected find(const std::string& type, const std::string& filter = "", int stopAfter = -1) {
    Collected got;
    got.stopAfter = stopAfter;
    EXPECT_EQ(SLPFindSrvs(h_, type.c_str(), nullptr, filter.c_str(), collectUrl, &got), SLP_OK);
    return got;
  }

  static TempDir* dir_;
  static std::string config_;
  SLPHandle h_ = nullptr;
  std::unique_ptr<DaemonChild> daemon_;
};

TempDir* ApiEndToEndTest::dir_ = nullptr;
std::string ApiEndToEndTest::config_;

TEST_F(ApiEndToEndTest, RegistersFindsAndDeregisters) {
  startDaemon();
  ASSERT_EQ(reg("service:tolm.x://192.0.2.1:3456", "(public_key=0)"), SLP_OK);
  ASSERT_EQ(reg("service:tolm.x://198.51.100.1:3456", "(public_key=0)"), SLP_OK);
  for (const char* type : {"tolm.x", "service:tolm.x"}) {
    Collected got = find(type);
    EXPECT_EQ(got.items, (std::vector<std::string>{"service:tolm.x://192.0.2.1:3456",
                                                   "service:tolm.x://198.51.100.1:3456"}))
        << type;
    EXPECT_EQ(got.lifetimes, (std::vector<unsigned short>{65535, 65535}));
    EXPECT_EQ(got.lastCalls, 1);
    EXPECT_EQ(got.calls, 3);
  }
  EXPECT_EQ(find("tolm.x", "(public_key=0)").items.size(), 2u);
  EXPECT_EQ(find("tolm.x", "(public_key=1)").items.size(), 0u);

  SLPError answer = SLP_INTERNAL_SYSTEM_ERROR;
  ASSERT_EQ(SLPDereg(h_, "service:tolm.x://192.0.2.1:3456", storeError, &answer), SLP_OK);
  EXPECT_EQ(answer, SLP_OK);
  Collected after = find("tolm.x");
  EXPECT_EQ(after.items, std::vector<std::string>{"service:tolm.x://198.51.100.1:3456"});
  ASSERT_EQ(SLPDereg(h_, "service:tolm.x://192.0.2.1:3456", storeError, &answer), SLP_OK);
  EXPECT_EQ(answer, SLP_INVALID_REGISTRATION) << "deregistering an unknown URL";
}

TEST_F(ApiEndToEndTest, ReportsTheAgentsAnswerThroughTheCallback) {
  startDaemon();
  EXPECT_EQ(reg("service:tolm.x://h:1", "(public_key=0"), SLP_INVALID_REGISTRATION);
  EXPECT_EQ(reg("not a url", ""), SLP_INVALID_REGISTRATION);
  EXPECT_EQ(SLPReg(h_, "service:x://h", 0, nullptr, "", SLP_TRUE, storeError, nullptr),
            SLP_PARAMETER_BAD);
  SLPError answer = SLP_OK;
  EXPECT_EQ(SLPReg(h_, "service:x://h", 10, nullptr, "(a=1)", SLP_FALSE, storeError, &answer),
            SLP_OK);
  EXPECT_EQ(answer, SLP_INVALID_UPDATE) << "update of nothing";
  ASSERT_EQ(reg("service:x://h", "(a=1)"), SLP_OK);
  EXPECT_EQ(SLPReg(h_, "service:x://h", 10, nullptr, "(b=2)", SLP_FALSE, storeError, &answer),
            SLP_OK);
  EXPECT_EQ(answer, SLP_OK);
  Collected attrs;
  ASSERT_EQ(SLPFindAttrs(h_, "service:x://h", nullptr, nullptr, collectText, &attrs), SLP_OK);
  EXPECT_EQ(attrs.items, std::vector<std::string>{"(a=1),(b=2)"});
}

TEST_F(ApiEndToEndTest, FindsAttributesByUrlAndByType) {
  startDaemon();
  ASSERT_EQ(reg("service:tolm.x://192.0.2.1:3456", "(public_key=0),(name=one)"), SLP_OK);
  ASSERT_EQ(reg("service:tolm.x://198.51.100.1:3456", "(public_key=7)"), SLP_OK);
  Collected byUrl;
  ASSERT_EQ(
      SLPFindAttrs(h_, "service:tolm.x://192.0.2.1:3456", "", "public_key", collectText, &byUrl),
      SLP_OK);
  EXPECT_EQ(byUrl.items, std::vector<std::string>{"(public_key=0)"});
  EXPECT_EQ(byUrl.lastCalls, 1);
  Collected byType;
  ASSERT_EQ(SLPFindAttrs(h_, "tolm.x", nullptr, "", collectText, &byType), SLP_OK);
  EXPECT_EQ(byType.items, std::vector<std::string>{"(public_key=0,7),(name=one)"});
  Collected none;
  ASSERT_EQ(SLPFindAttrs(h_, "service:tolm.x://nowhere", nullptr, "", collectText, &none), SLP_OK);
  EXPECT_TRUE(none.items.empty());
  EXPECT_EQ(none.calls, 1) << "only the LAST_CALL call";
  EXPECT_EQ(SLPFindAttrs(h_, "", nullptr, "", collectText, &none), SLP_PARAMETER_BAD);
}

TEST_F(ApiEndToEndTest, FindsServiceTypes) {
  startDaemon();
  ASSERT_EQ(reg("service:tolm.x://a", ""), SLP_OK);
  ASSERT_EQ(reg("service:printer:lpr://p", ""), SLP_OK);
  Collected all;
  ASSERT_EQ(SLPFindSrvTypes(h_, "*", "", collectText, &all), SLP_OK);
  EXPECT_EQ(all.items, std::vector<std::string>{"service:tolm.x,service:printer:lpr"});
  Collected iana;
  ASSERT_EQ(SLPFindSrvTypes(h_, "", "", collectText, &iana), SLP_OK);
  EXPECT_EQ(iana.items, std::vector<std::string>{"service:printer:lpr"});
}

TEST_F(ApiEndToEndTest, CallbackReturningFalseStopsAtTheFirstUrl) {
  startDaemon();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(reg("service:tolm.x://10.0.0." + std::to_string(i) + ":1", ""), SLP_OK);
  }
  auto start = std::chrono::steady_clock::now();
  Collected got = find("tolm.x", "", 1);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(got.items.size(), 1u);
  EXPECT_EQ(got.calls, 1) << "no further call, not even LAST_CALL";
  RecordProperty(
      "first_url_ms",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST_F(ApiEndToEndTest, ShortLifetimesExpire) {
  startDaemon();
  ASSERT_EQ(reg("service:short.x://h:1", "", 1), SLP_OK);
  ASSERT_EQ(reg("service:short.x://h:2", "", SLP_LIFETIME_MAXIMUM), SLP_OK);
  Collected before = find("short.x");
  EXPECT_EQ(before.items.size(), 2u);
  EXPECT_LE(before.lifetimes[0], 1);
  EXPECT_TRUE(testing::eventually([&] { return find("short.x").items.size() == 1; }, 5s));
  EXPECT_EQ(find("short.x").items, std::vector<std::string>{"service:short.x://h:2"});
}

TEST_F(ApiEndToEndTest, ManyRegistrationsOverflowUdpAndArriveWholeOverTcp) {
  startDaemon();
  const int kCount = 300;
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(reg("service:bulk.x://10.1." + std::to_string(i / 250) + "." +
                      std::to_string(i % 250) + ":4000",
                  "(index=" + std::to_string(i) + ")"),
              SLP_OK);
  }
  EXPECT_EQ(find("bulk.x").items.size(), static_cast<size_t>(kCount));
  Message rq{Header{0, 77, "en", {}}, SrvRqst{"", "service:bulk.x", "DEFAULT", "", ""}};
  auto udp = testing::udpExchange(encode(rq), Endpoint{0x7f000001, 427}, 2s);
  ASSERT_TRUE(udp);
  EXPECT_LE(udp->size(), 1400u);
  DecodeResult d = decode(*udp);
  ASSERT_TRUE(d.message) << d.reason;
  EXPECT_NE(d.message->header.flags & kFlagOverflow, 0);
  EXPECT_GT(std::get<SrvRply>(d.message->body).urls.size(), 10u);
}

TEST_F(ApiEndToEndTest, WithoutAnAgentRegistrationFailsAndLookupsFindNothing) {
  SLPError answer = SLP_OK;
  bool called = false;
  auto report = [](SLPHandle, SLPError, void* c) { *static_cast<bool*>(c) = true; };
  EXPECT_EQ(SLPReg(h_, "service:tolm.x://h:1", 65535, nullptr, "", SLP_TRUE, report, &called),
            SLP_NETWORK_INIT_FAILED);
  EXPECT_EQ(SLPDereg(h_, "service:tolm.x://h:1", storeError, &answer), SLP_NETWORK_INIT_FAILED);
  EXPECT_FALSE(called);
  Collected got = find("tolm.x");
  EXPECT_TRUE(got.items.empty());
  EXPECT_EQ(got.lastCalls, 1);
}

TEST_F(ApiEndToEndTest, RegistrationOfAnEndedProcessIsWithdrawn) {
  startDaemon();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SLPHandle h;
    SLPError answer = SLP_INTERNAL_SYSTEM_ERROR;
    if (SLPOpen("en", SLP_FALSE, &h) != SLP_OK ||
        SLPReg(h, "service:mortal.x://h:1", 65535, nullptr, "", SLP_TRUE, storeError, &answer) !=
            SLP_OK ||
        answer != SLP_OK) {
      ::_exit(1);
    }
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "child could not register";
  ::close(ready[0]);
  EXPECT_EQ(find("mortal.x").items.size(), 1u);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(testing::eventually([&] { return find("mortal.x").items.empty(); }, 5s));
}

// Other SLP libraries ask the local agent for known directory agents over TCP before each
// lookup and read until the agent closes the connection; the agent must close it at once
// rather than after its idle timeout (30 s here, above the 5 s such a library waits).
TEST_F(ApiEndToEndTest, AnswersTheDirectoryAgentQuestionOnLoopbackTcpAndCloses) {
  startDaemon();
  Message rq{Header{0, 0x2222, "en", {}},
             SrvRqst{"", "service:directory-agent", "DEFAULT", "", ""}};
  std::vector<uint8_t> request = encode(rq);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  UniqueFd owner(fd);
  timeval bound{4, 0};
  ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(427);
  to.sin_addr.s_addr = htonl(0x7f000001);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::vector<uint8_t> received;
  bool closed = false;
  for (int i = 0; i < 64 && !closed; ++i) {
    uint8_t buf[1024];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ASSERT_GE(n, 0) << "no close within the bound: errno " << errno;
    closed = n == 0;
    received.insert(received.end(), buf, buf + n);
  }
  EXPECT_TRUE(closed);
  DecodeResult d = decode(received);
  ASSERT_TRUE(d.message) << d.reason;
  EXPECT_EQ(d.message->header.xid, 0x2222);
  ASSERT_EQ(d.message->function(), Function::kSrvRply);
  EXPECT_EQ(std::get<SrvRply>(d.message->body).error, kOk);
  EXPECT_TRUE(std::get<SrvRply>(d.message->body).urls.empty());
}

struct Reentry {
  SLPHandle handle;
  SLPError inner = SLP_OK;
};

TEST_F(ApiEndToEndTest, CallbacksCannotReenterTheirHandle) {
  startDaemon();
  ASSERT_EQ(reg("service:tolm.x://h:1", ""), SLP_OK);
  Reentry r{h_};
  auto cb = [](SLPHandle h, const char* url, unsigned short, SLPError e, void* c) -> SLPBoolean {
    if (e == SLP_OK && url != nullptr) {
      static_cast<Reentry*>(c)->inner = SLPFindSrvs(
          h, "tolm.x", nullptr, nullptr,
          [](SLPHandle, const char*, unsigned short, SLPError, void*) { return SLP_TRUE; },
          nullptr);
    }
    return SLP_TRUE;
  };
  ASSERT_EQ(SLPFindSrvs(h_, "tolm.x", nullptr, nullptr, cb, &r), SLP_OK);
  EXPECT_EQ(r.inner, SLP_HANDLE_IN_USE);
}

}  // namespace
}  // namespace vslp
