#include "tolmd/tests/tolmd_fixture.h"

#include <signal.h>

#include <utility>

#include "protocol/tolm_wire.h"

namespace tolmd_test {
namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr uint32_t kSignalFunction = 0xF0000003;

// Big-endian, as every word of the protocol.
void putWord(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
  bytes.at(at) = static_cast<uint8_t>(value >> 24);
  bytes.at(at + 1) = static_cast<uint8_t>(value >> 16);
  bytes.at(at + 2) = static_cast<uint8_t>(value >> 8);
  bytes.at(at + 3) = static_cast<uint8_t>(value);
}

void appendWord(std::vector<uint8_t>& bytes, uint32_t value) {
  std::size_t at = bytes.size();
  bytes.resize(at + 4);
  putWord(bytes, at, value);
}

}  // namespace

void fixChecksum(std::vector<uint8_t>& request) {
  uint32_t sum = 0;
  for (std::size_t i = kHeaderSize + 4; i < request.size(); ++i) {
    sum += request[i];
  }
  putWord(request, kHeaderSize, sum);
}

std::vector<uint8_t> signalRequest(const std::string& name, std::span<const uint8_t> payload,
                                   int32_t staggerType, int32_t staggerParam, bool countNul) {
  std::vector<uint8_t> request;
  appendWord(request, kVersion);
  appendWord(request, kSignalFunction);
  appendWord(request, 0);  // length, below
  appendWord(request, 0);  // checksum, below
  appendWord(request, static_cast<uint32_t>(staggerType));
  appendWord(request, static_cast<uint32_t>(staggerParam));
  appendWord(request, static_cast<uint32_t>(name.size() + (countNul ? 1 : 0)));
  request.insert(request.end(), name.begin(), name.end());
  if (countNul) {
    request.push_back(0);
  }
  appendWord(request, static_cast<uint32_t>(payload.size()));
  request.insert(request.end(), payload.begin(), payload.end());
  putWord(request, 8, static_cast<uint32_t>(request.size() - kHeaderSize));
  fixChecksum(request);
  return request;
}

std::vector<uint8_t> listenerRequest(uint32_t function, uint32_t address, uint16_t port,
                                     const std::string& name) {
  return tolm::buildListenerRequest(function, address, port, name);
}

std::string TolmdTest::tolmdPath() {
  return nvo_test::tolmdPath();
}

void TolmdTest::SetUp() {
  if (!nvo_test::inSandbox()) {
    GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (root paths and ports)";
  }
  // Each test starts from a host on which tolmd never ran.
  sandbox_.prepare(
      "net.slp.multicastTimeouts = 100,200\n"
      "net.slp.multicastMaximumWait = 300\n");
}

void TolmdTest::TearDown() {
  nvo_test::stopAndRelease(daemon_, 15s);
  nvo_test::stopAndRelease(slpAgent_, 10s);
}

std::vector<std::string> TolmdTest::environment() const {
  return sandbox_.environment();
}

void TolmdTest::startDaemon(std::vector<std::string> args) {
  daemon_ = sandbox_.startTolmd(args);
  const std::optional<uint16_t> port = nvo_test::waitUntilListening(*daemon_, 20s);
  ASSERT_TRUE(port) << "tolmd did not start listening:\n" << daemon_->transcript();
  port_ = *port;
}

void TolmdTest::stopDaemon() {
  ASSERT_TRUE(daemon_);
  std::optional<int> code = daemon_->stop(20s);
  EXPECT_EQ(code, 0) << daemon_->transcript();
}

void TolmdTest::startSlpAgent() {
  slpAgent_ = sandbox_.startSlpAgent();
  ASSERT_TRUE(nvo_test::waitForSlpAgent(10s)) << "vslpd did not come up:\n"
                                              << slpAgent_->transcript();
}

std::optional<Answer> TolmdTest::send(std::span<const uint8_t> request) {
  return nvo_test::exchange(port_, request);
}

std::optional<Answer> TolmdTest::registerListener(const nvo_test::TestListener& listener,
                                                  const std::string& event) {
  return send(listenerRequest(tolm::kFuncRegister, listener.addressNetworkOrder(),
                              listener.portNetworkOrder(), event));
}

std::optional<Answer> TolmdTest::deregister(uint32_t address, uint16_t port,
                                            const std::string& event) {
  return send(listenerRequest(tolm::kFuncDeregister, address, port, event));
}

std::optional<Answer> TolmdTest::signal(const std::string& event, std::span<const uint8_t> payload,
                                        int32_t staggerType, int32_t staggerParam) {
  return send(signalRequest(event, payload, staggerType, staggerParam));
}

std::vector<std::string> TolmdTest::listing() {
  std::vector<std::string> records;
  std::size_t from = daemon_->lineCount();
  daemon_->sendSignal(SIGHUP);
  std::optional<std::size_t> end = daemon_->waitForLine(nvo_test::kTolmdListeningLine, 20s, from);
  EXPECT_TRUE(end) << "no restart after SIGHUP:\n" << daemon_->transcript();
  if (!end) {
    return records;
  }
  std::vector<std::string> lines = daemon_->lines();
  for (std::size_t i = from; i < *end; ++i) {
    if (std::optional<std::string> record = nvo_test::listedRecord(lines[i])) {
      records.push_back(*std::move(record));
    }
  }
  return records;
}

bool TolmdTest::waitForLines(const std::string& text, std::size_t count,
                             std::chrono::milliseconds timeout) {
  return nvo_test::waitUntil([&] { return daemon_->countLines(text) >= count; }, timeout);
}

bool TolmdTest::waitForDeliveries(std::size_t count, std::chrono::milliseconds timeout) {
  const std::string done = "Signaler::doSignal done";
  if (!waitForLines(done, count, timeout)) {
    return false;
  }
  std::vector<std::string> lines = daemon_->lines();
  std::size_t seen = 0;
  std::size_t index = 0;
  for (; index < lines.size() && seen < count; ++index) {
    seen += lines[index].find(done) != std::string::npos ? 1 : 0;
  }
  return daemon_->waitForLine("Signaler is sleeping...", timeout, index).has_value();
}

}  // namespace tolmd_test
