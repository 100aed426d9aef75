#include "tolmd/tests/tolmd_fixture.h"

#include <signal.h>

#include <filesystem>
#include <fstream>

#include <arpa/inet.h>

#include "protocol/tolm_wire.h"

namespace tolmd_test {
namespace {

constexpr char kListeningLine[] = "tolmd listening on all interfaces at port ";
constexpr char kSlpConfig[] = "/run/tolmd-test-slp.conf";

void appendWord(std::vector<uint8_t>& bytes, uint32_t value) {
  std::size_t at = bytes.size();
  bytes.resize(at + 4);
  tolm::storeWord(bytes, at, value);
}

}  // namespace

void fixChecksum(std::vector<uint8_t>& request) {
  std::span<uint8_t> body = std::span<uint8_t>(request).subspan(tolm::kHeaderSize);
  tolm::storeWord(body, 0, tolm::checksum(body.subspan(4)));
}

std::vector<uint8_t> signalRequest(const std::string& name, std::span<const uint8_t> payload,
                                   int32_t staggerType, int32_t staggerParam, bool countNul) {
  std::vector<uint8_t> request;
  appendWord(request, kVersion);
  appendWord(request, tolm::kFuncSignal);
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
  tolm::storeWord(request, 8, static_cast<uint32_t>(request.size() - tolm::kHeaderSize));
  fixChecksum(request);
  return request;
}

std::vector<uint8_t> listenerRequest(uint32_t function, uint32_t address, uint16_t port,
                                     const std::string& name) {
  return tolm::buildListenerRequest(function, address, port, name);
}

std::string TolmdTest::tolmdPath() {
  return nvo_test::buildBinary("tolmd");
}

void TolmdTest::SetUp() {
  if (!nvo_test::inSandbox()) {
    GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (root paths and ports)";
  }
  nvo_test::becomeSubreaper();
  // Each test starts from a host on which tolmd never ran.
  std::filesystem::remove_all(kDatabaseDirectory);
  std::filesystem::remove(kPidFile);
  std::ofstream(kSlpConfig, std::ios::trunc) << "net.slp.multicastTimeouts = 100,200\n"
                                             << "net.slp.multicastMaximumWait = 300\n";
}

void TolmdTest::TearDown() {
  if (daemon_) {
    daemon_->stop(15s);
    daemon_.reset();
  }
  if (slpAgent_) {
    slpAgent_->stop(10s);
    slpAgent_.reset();
  }
}

std::vector<std::string> TolmdTest::environment() const {
  return {std::string("VSLP_CONF=") + kSlpConfig};
}

void TolmdTest::startDaemon(std::vector<std::string> args) {
  daemon_ = std::make_unique<nvo_test::DaemonProcess>(tolmdPath(), std::move(args), environment());
  daemon_->start();
  std::optional<std::size_t> line = daemon_->waitForLine(kListeningLine, 20s);
  ASSERT_TRUE(line) << "tolmd did not start listening:\n" << daemon_->transcript();
  std::string text = daemon_->lines()[*line];
  port_ = static_cast<uint16_t>(
      std::stoi(text.substr(text.find(kListeningLine) + std::string(kListeningLine).size())));
}

void TolmdTest::stopDaemon() {
  ASSERT_TRUE(daemon_);
  std::optional<int> code = daemon_->stop(20s);
  EXPECT_EQ(code, 0) << daemon_->transcript();
}

void TolmdTest::startSlpAgent() {
  slpAgent_ = std::make_unique<nvo_test::DaemonProcess>(
      nvo_test::buildBinary("vslpd"), std::vector<std::string>{"-d"}, environment());
  slpAgent_->start();
  bool up = nvo_test::waitUntil(
      [] {
        try {
          nvo_test::RawConnection probe(427);
          return true;
        } catch (const std::exception&) {
          return false;
        }
      },
      10s);
  ASSERT_TRUE(up) << "vslpd did not come up:\n" << slpAgent_->transcript();
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
  std::optional<std::size_t> end = daemon_->waitForLine(kListeningLine, 20s, from);
  EXPECT_TRUE(end) << "no restart after SIGHUP:\n" << daemon_->transcript();
  if (!end) {
    return records;
  }
  std::vector<std::string> lines = daemon_->lines();
  for (std::size_t i = from; i < *end; ++i) {
    std::size_t at = lines[i].find("  event: ");
    if (lines[i].rfind("Recno: ", 0) == 0 && at != std::string::npos) {
      records.push_back(lines[i].substr(at + 2));
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
