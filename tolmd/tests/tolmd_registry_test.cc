// Registrations end to end: the reachability probe, replacement, deregistration, persistence
// and the restart on SIGHUP.
#include <algorithm>
#include <thread>

#include <arpa/inet.h>

#include "protocol/tolm_wire.h"
#include "tolmd/tests/tolmd_fixture.h"

namespace tolmd_test {
namespace {

using tolm::kAnswerDeregister;
using tolm::kAnswerRegister;
using tolm::kAnswerSignal;

class TolmdRegistryTest : public TolmdTest {
 protected:
  void SetUp() override {
    TolmdTest::SetUp();
    if (!IsSkipped()) {
      startDaemon();
    }
  }
  std::vector<std::string> sortedListing() {
    std::vector<std::string> records = listing();
    std::sort(records.begin(), records.end());
    return records;
  }
  static std::string record(const std::string& event, const nvo_test::TestListener& listener) {
    return "event: " + event + "  address: " + listener.text();
  }
  const std::vector<uint8_t> payload_{42};
};

TEST_F(TolmdRegistryTest, UnreachableListenersGetMinusTwelveAndAreNotStored) {
  const uint16_t closedPort = nvo_test::TestListener::unusedPort("127.0.0.2");
  std::vector<uint8_t> refused =
      listenerRequest(tolm::kFuncRegister, ::htonl(0x7f000002), ::htons(closedPort), "disk.full");
  EXPECT_EQ(send(refused), answer(kAnswerRegister, -12));
  EXPECT_TRUE(
      waitForLines("Client 127.0.0.2:" + std::to_string(closedPort) + " is unreachable", 1));
  EXPECT_TRUE(
      waitForLines("Client 127.0.0.2 - failed to register for event disk.full [cc = -12]", 1));

  nvo_test::TestListener wrongCode(
      {.ping = nvo_test::PingMode::kWrongCode, .address = "127.0.0.3"});
  EXPECT_EQ(registerListener(wrongCode, "disk.full"), answer(kAnswerRegister, -12));
  nvo_test::TestListener closes({.ping = nvo_test::PingMode::kClose, .address = "127.0.0.4"});
  EXPECT_EQ(registerListener(closes, "disk.full"), answer(kAnswerRegister, -12));
  EXPECT_EQ(wrongCode.pingCount(), 1u);
  EXPECT_EQ(closes.pingCount(), 1u);
  EXPECT_EQ(listing(), std::vector<std::string>{});
}

TEST_F(TolmdRegistryTest, OneBatchAnswersEachRequestOnItsOwn) {
  // The slow probe keeps the Registry busy while the next two requests queue up behind it.
  nvo_test::TestListener slow(
      {.ping = nvo_test::PingMode::kSlow, .answerDelay = 600ms, .address = "127.0.0.2"});
  nvo_test::TestListener reachable({.address = "127.0.0.4"});
  const uint16_t closedPort = nvo_test::TestListener::unusedPort("127.0.0.3");
  std::optional<Answer> slowAnswer, unreachableAnswer, reachableAnswer;
  std::thread first([&] { slowAnswer = registerListener(slow, "batch"); });
  ASSERT_TRUE(slow.waitForPings(1, 10s));
  std::thread second([&] {
    unreachableAnswer = send(
        listenerRequest(tolm::kFuncRegister, ::htonl(0x7f000003), ::htons(closedPort), "batch"));
  });
  ASSERT_TRUE(waitForLines("TolmDaemon::run received request from", 2));
  reachableAnswer = registerListener(reachable, "batch");
  first.join();
  second.join();
  EXPECT_EQ(slowAnswer, answer(kAnswerRegister, 0));
  EXPECT_EQ(unreachableAnswer, answer(kAnswerRegister, -12));
  EXPECT_EQ(reachableAnswer, answer(kAnswerRegister, 0));
  EXPECT_EQ(sortedListing(),
            (std::vector<std::string>{record("batch", slow), record("batch", reachable)}));
}

TEST_F(TolmdRegistryTest, SameAddressReplacesTheEarlierPort) {
  nvo_test::TestListener before({.address = "127.0.0.2"});
  nvo_test::TestListener after({.address = "127.0.0.2"});
  nvo_test::TestListener other({.address = "127.0.0.3"});
  EXPECT_EQ(registerListener(before, "cpu.hot"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(other, "cpu.hot"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(after, "cpu.hot"), answer(kAnswerRegister, 0));
  EXPECT_TRUE(waitForLines(
      "Client 127.0.0.2 previously registered for cpu.hot - replacing with new registration", 1));
  EXPECT_TRUE(waitForLines("Registry::processTrans succeeded to reg client 127.0.0.1:", 3));
  EXPECT_EQ(signal("cpu.hot", payload_), answer(kAnswerSignal, 0));
  ASSERT_TRUE(after.waitForNotifications(1, 10s));
  ASSERT_TRUE(other.waitForNotifications(1, 10s));
  ASSERT_TRUE(waitForDeliveries(1));
  EXPECT_EQ(before.notifyCount(), 0u);
  EXPECT_EQ(sortedListing(),
            (std::vector<std::string>{record("cpu.hot", after), record("cpu.hot", other)}));
}

TEST_F(TolmdRegistryTest, DeregistrationRemovesOneListenerOrAllEventsOfAnAddress) {
  nvo_test::TestListener a({.address = "127.0.0.2"});
  nvo_test::TestListener b({.address = "127.0.0.3"});
  for (const char* event : {"e1", "e2", "e3"}) {
    EXPECT_EQ(registerListener(a, event), answer(kAnswerRegister, 0));
    EXPECT_EQ(registerListener(b, event), answer(kAnswerRegister, 0));
  }
  // Wrong port: answered 0, nothing removed.
  EXPECT_EQ(deregister(a.addressNetworkOrder(), ::htons(1), "e1"), answer(kAnswerDeregister, 0));
  EXPECT_EQ(deregister(b.addressNetworkOrder(), b.portNetworkOrder(), "e1"),
            answer(kAnswerDeregister, 0));
  EXPECT_TRUE(
      waitForLines("Registry::processTrans succeeded to dereg client 127.0.0.3 [event = e1]", 1));
  EXPECT_EQ(sortedListing(),
            (std::vector<std::string>{record("e1", a), record("e2", a), record("e2", b),
                                      record("e3", a), record("e3", b)}));
  // An empty name: every event of that address, whatever the port.
  EXPECT_EQ(deregister(a.addressNetworkOrder(), ::htons(9), ""), answer(kAnswerDeregister, 0));
  EXPECT_TRUE(waitForLines(
      "Registry::processTrans succeeded to dereg client 127.0.0.2 [event = *ALL*]", 1));
  EXPECT_EQ(sortedListing(), (std::vector<std::string>{record("e2", b), record("e3", b)}));
}

TEST_F(TolmdRegistryTest, RegistrationsSurviveARestartAndAreListedAtStart) {
  nvo_test::TestListener a({.address = "127.0.0.2"});
  nvo_test::TestListener b({.address = "127.0.0.3"});
  EXPECT_EQ(registerListener(a, "disk.full"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(b, "cpu.hot"), answer(kAnswerRegister, 0));
  stopDaemon();
  startDaemon();
  std::vector<std::string> lines = daemon().lines();
  auto from = std::find(lines.begin(), lines.end(), "Outputting all records in the database");
  ASSERT_NE(from, lines.end());
  EXPECT_EQ(*(from + 1), "Recno: 0  event: cpu.hot  address: " + b.text());
  EXPECT_EQ(*(from + 2), "Recno: 1  event: disk.full  address: " + a.text());
  EXPECT_EQ(signal("disk.full", payload_), answer(kAnswerSignal, 0));
  EXPECT_TRUE(a.waitForNotifications(1, 10s));
}

TEST_F(TolmdRegistryTest, SighupRestartsTheServiceOnTheSamePort) {
  nvo_test::TestListener a({.address = "127.0.0.2"});
  EXPECT_EQ(registerListener(a, "disk.full"), answer(kAnswerRegister, 0));
  const uint16_t before = port();
  const std::size_t from = daemon().lineCount();
  EXPECT_EQ(listing(), std::vector<std::string>{record("disk.full", a)});
  for (const char* line : {"tolmd received SIGHUP", "TolmDaemon::shutdown called",
                           "Signaler::run done", "Registry::run done", "TolmDaemon::run entered",
                           "Registry::run entered", "Signaler::run entered"}) {
    EXPECT_TRUE(daemon().waitForLine(line, 10s, from)) << line;
  }
  EXPECT_EQ(
      daemon().countLines("tolmd listening on all interfaces at port " + std::to_string(before)),
      2u);
  EXPECT_EQ(signal("disk.full", payload_), answer(kAnswerSignal, 0));
  EXPECT_TRUE(a.waitForNotifications(1, 10s));
  nvo_test::TestListener b({.address = "127.0.0.3"});
  EXPECT_EQ(registerListener(b, "disk.full"), answer(kAnswerRegister, 0));
}

}  // namespace
}  // namespace tolmd_test
