#include "tests/faults/fault_fixture.h"

#include <cstdio>
#include <ostream>
#include <utility>

#include <arpa/inet.h>

#include "protocol/tolm_wire.h"

namespace faults {

std::vector<uint8_t> signalRequest(const std::string& event, std::span<const uint8_t> payload,
                                   int32_t staggerType, int32_t staggerParam) {
  std::vector<uint8_t> request = tolm::buildSignalRequest(event, payload, staggerType);
  // staggerParam is body word 2 (packet bytes 20..23); the checksum covers it.
  std::span<uint8_t> body = std::span<uint8_t>(request).subspan(tolm::kHeaderSize);
  tolm::storeWord(body, 8, static_cast<uint32_t>(staggerParam));
  tolm::storeWord(body, 0, tolm::checksum(body.subspan(4)));
  return request;
}

std::vector<uint8_t> registerRequest(const std::string& address, uint16_t port,
                                     const std::string& event) {
  return tolm::buildListenerRequest(tolm::kFuncRegister, ::inet_addr(address.c_str()), htons(port),
                                    event);
}

std::ostream& operator<<(std::ostream& out, const DoneCounts& counts) {
  return out << "[success=" << counts.success << "] [fail=" << counts.fail << "]";
}

void FaultTest::SetUp() {
  if (!nvo_test::inSandbox()) {
    GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (root paths and ports)";
  }
  sandbox_.prepare(
      "net.slp.interfaces = 127.0.0.1\n"
      "net.slp.multicastMaximumWait = 300\n"
      "net.slp.unicastMaximumWait = 1000\n");
}

void FaultTest::TearDown() {
  nvo_test::stopAndRelease(daemon_, 15s);
}

std::string FaultTest::tolmdPath() {
  return nvo_test::tolmdPath();
}

std::vector<std::string> FaultTest::environment() const {
  return sandbox_.environment();
}

void FaultTest::startDaemon(const std::vector<std::string>& wrapper) {
  daemon_ = sandbox_.startTolmd({"-d"}, wrapper);
  const std::optional<uint16_t> port = nvo_test::waitUntilListening(*daemon_, 30s);
  ASSERT_TRUE(port) << "tolmd did not start listening:\n" << daemon_->transcript();
  port_ = *port;
}

void FaultTest::stopDaemon() {
  ASSERT_TRUE(daemon_);
  EXPECT_EQ(daemon_->stop(20s), 0) << daemon_->transcript();
}

std::optional<Answer> FaultTest::send(std::span<const uint8_t> request,
                                      std::chrono::milliseconds timeout) {
  return nvo_test::exchange(port_, request, timeout);
}

std::optional<Answer> FaultTest::registerAt(const std::string& address, uint16_t port,
                                            const std::string& event) {
  return send(registerRequest(address, port, event));
}

std::optional<Answer> FaultTest::signal(const std::string& event, std::span<const uint8_t> payload,
                                        int32_t staggerType, int32_t staggerParam) {
  return send(signalRequest(event, payload, staggerType, staggerParam));
}

std::string FaultTest::exceptionReports() const {
  std::string text;
  for (const std::string& line : daemon_->lines()) {
    if (line.rfind("* ", 0) == 0) {
      text += line + '\n';
    }
  }
  return text;
}

std::vector<DoneCounts> FaultTest::doneLines() const {
  std::vector<DoneCounts> done;
  for (const std::string& line : daemon_->lines()) {
    DoneCounts counts;
    if (line.rfind(kDoneLine, 0) == 0 &&
        std::sscanf(line.c_str(), "Signaler::doSignal done [success=%d] [fail=%d]", &counts.success,
                    &counts.fail) == 2) {
      done.push_back(counts);
    }
  }
  return done;
}

bool FaultTest::waitForDone(std::size_t count, std::chrono::milliseconds timeout) {
  return nvo_test::waitUntil([&] { return daemon_->countLines(kDoneLine) >= count; }, timeout);
}

std::vector<std::string> FaultTest::listingBefore(std::size_t nth) const {
  std::vector<std::string> current;
  std::size_t seen = 0;
  for (const std::string& line : daemon_->lines()) {
    if (std::optional<std::string> record = nvo_test::listedRecord(line)) {
      current.push_back(*std::move(record));
    } else if (line.rfind("Outputting all records in the database", 0) == 0) {
      current.clear();
    } else if (line.find(kListeningLine) != std::string::npos) {
      if (seen++ == nth) {
        return current;
      }
    }
  }
  return {};
}

}  // namespace faults
