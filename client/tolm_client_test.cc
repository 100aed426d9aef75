// TolmClient against a daemon played by the test, found through the project's SLP agent.
// Runs inside the test sandbox (vslpd needs port 427). The process-wide server record is
// looked up once, by the first test, and used by all.
#include "client/tolm_client.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/fake_tolm_daemon.h"
#include "client/slp_test_agent.h"
#include "client/tolm_server_info.h"
#include "protocol/tolm_wire.h"
#include "tests/support/daemon_process.h"

namespace vokra {
namespace {

using testing::FakeReply;
using testing::FakeTolmDaemon;

std::unique_ptr<testing::SlpTestAgent> gAgent;
std::unique_ptr<FakeTolmDaemon> gDaemon;

class TolmClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!nvo_test::inSandbox()) {
      return;
    }
    testing::useFastSlpConfig();
    gAgent = std::make_unique<testing::SlpTestAgent>();
    gAgent->start();
    gDaemon = std::make_unique<FakeTolmDaemon>();
    ASSERT_EQ(testing::registerService(gDaemon->url(), "(public_key=0)"), 0);
  }
  static void TearDownTestSuite() {
    gDaemon.reset();
    gAgent.reset();
  }
  void SetUp() override {
    if (!nvo_test::inSandbox()) {
      GTEST_SKIP() << "needs the test sandbox (SLP agent on port 427)";
    }
    ASSERT_NE(gDaemon, nullptr);
    gDaemon->setReply(FakeReply::kAnswer);
  }

  // Signals and returns the bytes of the request the daemon received.
  static std::vector<uint8_t> lastRequest() {
    const auto requests = gDaemon->requests();
    return requests.empty() ? std::vector<uint8_t>{} : requests.back();
  }

  TolmClient client_;
};

uint32_t wordAt(const std::vector<uint8_t>& bytes, std::size_t offset) {
  return uint32_t{bytes.at(offset)} << 24 | uint32_t{bytes.at(offset + 1)} << 16 |
         uint32_t{bytes.at(offset + 2)} << 8 | uint32_t{bytes.at(offset + 3)};
}

TEST_F(TolmClientTest, FindsTheAdvertisedServer) {
  EXPECT_EQ(client_.getTolmServer(), gDaemon->url());
  const TolmSLPInfo record = TolmServerInfo::shared().copySLPInfo();
  EXPECT_EQ(record.getHost(), "127.0.0.1");
  EXPECT_EQ(record.getPort(), gDaemon->port());
  EXPECT_EQ(record.getPublicKey(), "0");
}

TEST_F(TolmClientTest, SendsTheExactSignalRequest) {
  const uint8_t data[5] = {0x00, 0x7F, 0x80, 0xFF, 0x41};
  ASSERT_EQ(client_.signalEvent("abc", data, 5, 2, 99), 0);
  const std::vector<uint8_t> request = lastRequest();
  ASSERT_EQ(request.size(), 41u);
  EXPECT_EQ(wordAt(request, 0), 0x00010001u);
  EXPECT_EQ(wordAt(request, 4), 0xF0000003u);
  EXPECT_EQ(wordAt(request, 8), 29u);
  uint32_t sum = 0;
  for (std::size_t i = 16; i < request.size(); ++i) {
    sum += request[i];
  }
  EXPECT_EQ(request.size() - 16, 25u);
  EXPECT_EQ(wordAt(request, 12), sum);
  EXPECT_EQ(wordAt(request, 16), 2u);  // staggerType
  EXPECT_EQ(wordAt(request, 20), 0u);  // staggerParam, whatever the fifth argument
  EXPECT_EQ(wordAt(request, 24), 4u);  // nameLength counts the NUL
  EXPECT_EQ(std::string(request.begin() + 28, request.begin() + 32), std::string("abc\0", 4));
  EXPECT_EQ(wordAt(request, 32), 5u);
  EXPECT_EQ(std::vector<uint8_t>(request.begin() + 36, request.end()),
            std::vector<uint8_t>(data, data + 5));
  EXPECT_EQ(request, tolm::buildSignalRequest("abc", data, 2));
}

TEST_F(TolmClientTest, EmptyPayloadAndAnyStaggerTypeAreSent) {
  ASSERT_EQ(client_.signalEvent("event.name", nullptr, 0, -5, 0), 0);
  const std::vector<uint8_t> request = lastRequest();
  ASSERT_EQ(request.size(), 33u + 10u);
  EXPECT_EQ(static_cast<int32_t>(wordAt(request, 16)), -5);
  EXPECT_EQ(wordAt(request, request.size() - 4), 0u);
}

TEST_F(TolmClientTest, ResultIsTheThirdAnswerWordWhateverTheFirstTwo) {
  const struct {
    uint32_t version;
    uint32_t code;
    int32_t result;
  } answers[] = {{0xDEADBEEF, 0x12345678, 0},
                 {tolm::kProtocolVersion, tolm::kAnswerBadChecksum, tolm::kRcBadPacket},
                 {tolm::kProtocolVersion, tolm::kAnswerSignal, tolm::kRcBadVersion},
                 {tolm::kProtocolVersion, tolm::kAnswerUnknown, tolm::kRcInvalidRequest},
                 {0, 0, 123456}};
  for (const auto& a : answers) {
    gDaemon->setReply(FakeReply::kAnswer, tolm::encodeHeader({a.version, a.code, a.result}));
    EXPECT_EQ(client_.signalEvent("e", "x", 1, 0, 0), a.result);
  }
}

TEST_F(TolmClientTest, MissingOrIncompleteAnswersGiveMinus11) {
  for (const FakeReply reply : {FakeReply::kClose, FakeReply::kShort, FakeReply::kPieces}) {
    gDaemon->setReply(reply);
    EXPECT_EQ(client_.signalEvent("e", "x", 1, 0, 0), TolmClient::kNetworkFailure)
        << static_cast<int>(reply);
  }
}

TEST_F(TolmClientTest, OversizedRequestIsSentAndTheClosedConnectionGivesMinus11) {
  const std::vector<uint8_t> payload(5000, 0xAB);
  EXPECT_EQ(client_.signalEvent("big", payload.data(), 5000, 0, 0), TolmClient::kNetworkFailure);
  const std::vector<uint8_t> request = lastRequest();
  ASSERT_GE(request.size(), 12u);
  EXPECT_EQ(wordAt(request, 8), 3u + 5000u + 21u);
}

TEST_F(TolmClientTest, DaemonClosingMidWriteDoesNotKillTheCaller) {
  // Far more than the socket buffers hold: the write is still going when the daemon, having
  // read only the header, closes, so the kernel answers with EPIPE and SIGPIPE.
  const std::vector<uint8_t> payload(std::size_t{16} * 1024 * 1024, 0x5A);
  EXPECT_EQ(client_.signalEvent("huge", payload.data(), static_cast<int>(payload.size()), 0, 0),
            TolmClient::kNetworkFailure);
}

TEST_F(TolmClientTest, LocalRefusalsComeBeforeAnyTraffic) {
  gDaemon->waitForConnections(gDaemon->requests().size());
  const std::size_t before = gDaemon->connectionCount();
  EXPECT_EQ(client_.signalEvent("", "x", 1, 0, 0), TolmClient::kEmptyEventName);
  EXPECT_EQ(client_.signalEvent("e", "x", -1, 0, 0), TolmClient::kNoBuffer);
  EXPECT_EQ(client_.signalEvent("e", nullptr, 3, 0, 0), TolmClient::kNoBuffer);
  EXPECT_EQ(client_.signalEvent("e", "x", 1, 0, 0), 0);
  EXPECT_TRUE(gDaemon->waitForConnections(before + 1));
  EXPECT_EQ(gDaemon->connectionCount(), before + 1);
}

TEST_F(TolmClientTest, ManyThreadsSignalAtOnce) {
  const std::size_t before = gDaemon->requests().size();
  constexpr int kThreads = 8;
  constexpr int kEach = 10;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      TolmClient own;
      const std::string name = "thread." + std::to_string(t);
      for (int i = 0; i < kEach; ++i) {
        failures[t] += own.signalEvent(name, name.data(), static_cast<int>(name.size()), 0, 0) != 0;
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0) << "thread " << t;
  }
  EXPECT_EQ(gDaemon->requests().size(), before + std::size_t{kThreads} * kEach);
}

// Last, because it costs the real 10-second limit once.
TEST_F(TolmClientTest, SilentDaemonGivesMinus11AfterTheTimeLimit) {
  gDaemon->setReply(FakeReply::kSilent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client_.signalEvent("e", "x", 1, 0, 0), TolmClient::kNetworkFailure);
  // A lower bound only: the call must have waited for the answer, not given up at once.
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::seconds(TolmClient::kTimeoutSeconds - 1));
}

}  // namespace
}  // namespace vokra
