// Delivery of signalled events: the NOTIFY bytes, the stagger modes, duplicate absorption and
// the fate of listeners that cannot be reached.
#include <algorithm>
#include <thread>

#include <arpa/inet.h>

#include "protocol/tolm_wire.h"
#include "tolmd/tests/tolmd_fixture.h"

namespace tolmd_test {
namespace {

using tolm::kAnswerRegister;
using tolm::kAnswerSignal;

class TolmdSignalTest : public TolmdTest {
 protected:
  void SetUp() override {
    TolmdTest::SetUp();
    if (!IsSkipped()) {
      startDaemon();
    }
  }

  // Listeners on 127.0.0.2, 127.0.0.3, ... all registered for `event`.
  std::vector<std::unique_ptr<nvo_test::TestListener>> registeredListeners(
      const std::string& event, int count, nvo_test::ListenerOptions options = {}) {
    std::vector<std::unique_ptr<nvo_test::TestListener>> listeners;
    for (int i = 0; i < count; ++i) {
      options.address = "127.0.0." + std::to_string(2 + i);
      listeners.push_back(std::make_unique<nvo_test::TestListener>(options));
      EXPECT_EQ(registerListener(*listeners.back(), event), answer(kAnswerRegister, 0));
    }
    return listeners;
  }

  // All arrivals of `listeners`, in the order they arrived.
  static std::vector<nvo_test::Arrival> inArrivalOrder(
      const std::vector<std::unique_ptr<nvo_test::TestListener>>& listeners) {
    std::vector<nvo_test::Arrival> all;
    for (const auto& listener : listeners) {
      auto arrivals = listener->arrivals();
      all.insert(all.end(), arrivals.begin(), arrivals.end());
    }
    std::sort(all.begin(), all.end(),
              [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
    return all;
  }

  const std::vector<uint8_t> payload_{'h', 'e', 'l', 'l', 'o'};
};

// The NOTIFY for a 3-character name and a 5-byte payload, written out by hand.
std::vector<uint8_t> expectedNotify(bool countedNul) {
  std::vector<uint8_t> name{'a', 'b', 'c'};
  if (countedNul) {
    name.push_back(0);  // the client's counted NUL is one of the stored name's characters
  }
  const uint8_t n = static_cast<uint8_t>(name.size());
  std::vector<uint8_t> body{0, 0, 0, 0,                // checksum, below
                            0, 0, 0, 0,                // stagger type 0
                            0, 0, 0, uint8_t(n + 1)};  // name length N + 1
  body.insert(body.end(), name.begin(), name.end());
  body.push_back(0);                                   // the NUL the daemon adds
  body.insert(body.end(), {0, 0, 0, 5});               // payload length
  body.insert(body.end(), {'h', 'e', 'l', 'l', 'o'});  // payload
  body.insert(body.end(), {0, 0, 0, 0});               // pad
  uint32_t sum = 0;
  for (std::size_t i = 4; i < body.size(); ++i) {
    sum += body[i];
  }
  body[0] = uint8_t(sum >> 24);
  body[1] = uint8_t(sum >> 16);
  body[2] = uint8_t(sum >> 8);
  body[3] = uint8_t(sum);
  std::vector<uint8_t> packet{0, 1, 0, 1, 0xF0, 0, 0, 4, 0, 0, 0, uint8_t(body.size())};
  packet.insert(packet.end(), body.begin(), body.end());
  return packet;
}

TEST_F(TolmdSignalTest, NotifyCarriesTheNameAsSentAndThePayload) {
  nvo_test::TestListener listener({.address = "127.0.0.2"});
  EXPECT_EQ(registerListener(listener, "abc"), answer(kAnswerRegister, 0));

  EXPECT_EQ(send(signalRequest("abc", payload_, 0, 0, false)), answer(kAnswerSignal, 0));
  ASSERT_TRUE(listener.waitForNotifications(1, 10s));
  EXPECT_EQ(send(signalRequest("abc", payload_, 0, 0, true)), answer(kAnswerSignal, 0));
  ASSERT_TRUE(listener.waitForNotifications(2, 10s));
  ASSERT_TRUE(waitForDeliveries(2));

  std::vector<nvo_test::Arrival> arrivals = listener.arrivals();
  EXPECT_EQ(arrivals[0].packet.size(), 41u);
  EXPECT_EQ(arrivals[0].packet, expectedNotify(false));
  EXPECT_EQ(arrivals[1].packet.size(), 42u) << "length 30: the name field ends in two NULs";
  EXPECT_EQ(arrivals[1].packet, expectedNotify(true));
  EXPECT_EQ(daemon().countLines("Signaler::doSignal done [success=1] [fail=0]"), 2u);
}

TEST_F(TolmdSignalTest, TimedStaggerPausesAfterEveryListener) {
  auto listeners = registeredListeners("timed", 3);
  auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(signal("timed", payload_, tolm::kStaggerTimed, 200), answer(kAnswerSignal, 0));
  ASSERT_TRUE(waitForDeliveries(1));
  auto finished = std::chrono::steady_clock::now();
  std::vector<nvo_test::Arrival> arrivals = inArrivalOrder(listeners);
  ASSERT_EQ(arrivals.size(), 3u);
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    // Measured at the listeners, so allow for when their threads happened to wake.
    EXPECT_GE(arrivals[i].when - arrivals[i - 1].when, 150ms) << "pause before listener " << i;
  }
  EXPECT_GE(finished - sent, 600ms) << "a pause follows each of the three listeners";
  EXPECT_TRUE(
      daemon().hasExactLine("TolmDaemon::doSignal - stagger type is 0x00000001 - default stagger"));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::doSignal done [success=3] [fail=0]"));
}

TEST_F(TolmdSignalTest, SequentialStaggerWaitsForEachAcknowledgement) {
  auto listeners = registeredListeners(
      "seq", 3, {.notify = nvo_test::NotifyMode::kAcknowledge, .answerDelay = 300ms});
  EXPECT_EQ(signal("seq", payload_, tolm::kStaggerSequential, 0), answer(kAnswerSignal, 0));
  ASSERT_TRUE(waitForDeliveries(1));
  std::vector<nvo_test::Arrival> arrivals = inArrivalOrder(listeners);
  ASSERT_EQ(arrivals.size(), 3u);
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    // The next listener is notified only after the previous one acknowledged.
    ASSERT_TRUE(arrivals[i - 1].acknowledged);
    EXPECT_GT(arrivals[i].when, *arrivals[i - 1].acknowledged);
  }
  EXPECT_EQ(daemon().countLines("In Stagger Sequential, waiting for client to respond"), 3u);
  EXPECT_TRUE(daemon().hasExactLine(
      "TolmDaemon::doSignal - stagger type is 0x00000002 - sequential stagger"));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::doSignal done [success=3] [fail=0]"));
}

TEST_F(TolmdSignalTest, SequentialListenerThatClosesFailsButKeepsItsRegistration) {
  nvo_test::TestListener closes(
      {.notify = nvo_test::NotifyMode::kRecordOnly, .address = "127.0.0.2"});
  EXPECT_EQ(registerListener(closes, "seq"), answer(kAnswerRegister, 0));
  EXPECT_EQ(signal("seq", payload_, tolm::kStaggerSequential, 0), answer(kAnswerSignal, 0));
  ASSERT_TRUE(waitForDeliveries(1));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::notifyClient - " + closes.text() +
                                    " failed to respond to sequential signal"));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::doSignal done [success=0] [fail=1]"));
  EXPECT_EQ(listing(), std::vector<std::string>{"event: seq  address: " + closes.text()});
}

TEST_F(TolmdSignalTest, OtherStaggerTypesDeliverWithoutPausing) {
  auto listeners = registeredListeners("plain", 2);
  EXPECT_EQ(signal("plain", payload_, 4, 0), answer(kAnswerSignal, 0));
  EXPECT_EQ(signal("plain", payload_, tolm::kStaggerTimed, 0), answer(kAnswerSignal, 0));
  ASSERT_TRUE(waitForDeliveries(2));
  EXPECT_TRUE(
      daemon().hasExactLine("TolmDaemon::doSignal - stagger type is 0x00000004 - time stagger"));
  EXPECT_EQ(daemon().countLines("Signaler::doSignal done [success=2] [fail=0]"), 2u);
  EXPECT_EQ(daemon().countLines("In Stagger Sequential"), 0u);
}

TEST_F(TolmdSignalTest, DuplicatesAreAbsorbedWhileTheSignalerIsBusy) {
  nvo_test::TestListener busy({.notify = nvo_test::NotifyMode::kAcknowledge,
                               .answerDelay = 3000ms,  // the four signals come meanwhile
                               .address = "127.0.0.2"});
  nvo_test::TestListener target({.address = "127.0.0.3"});
  EXPECT_EQ(registerListener(busy, "busy"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(target, "dup"), answer(kAnswerRegister, 0));

  EXPECT_EQ(signal("busy", payload_, tolm::kStaggerSequential, 0), answer(kAnswerSignal, 0));
  ASSERT_TRUE(busy.waitForNotifications(1, 10s));  // the Signaler now waits for the ack
  EXPECT_EQ(signal("dup", payload_, 1, 0), answer(kAnswerSignal, 0));
  EXPECT_EQ(signal("dup", payload_, 1, 0), answer(kAnswerSignal, 0));
  EXPECT_EQ(signal("dup", payload_, 1, 7), answer(kAnswerSignal, 0)) << "another parameter";
  const std::vector<uint8_t> other{'x'};
  EXPECT_EQ(signal("dup", other, 1, 0), answer(kAnswerSignal, 0)) << "another payload";
  EXPECT_EQ(daemon().countLines("Signaler::doSignal done"), 0u) << "all queued while busy";

  ASSERT_TRUE(waitForDeliveries(3));
  EXPECT_EQ(daemon().countLines("Signaler::doSignal done"), 3u);
  // The daemon has written both; the listener reads them in its own time.
  EXPECT_TRUE(target.waitForNotifications(2, 10s));
  std::vector<nvo_test::Arrival> arrivals = target.arrivals();
  ASSERT_EQ(arrivals.size(), 2u);
  std::vector<std::vector<uint8_t>> payloads;
  for (const auto& arrival : arrivals) {
    tolm::Notification notification;
    ASSERT_EQ(tolm::parseNotify(std::span<const uint8_t>(arrival.packet).subspan(12), notification),
              tolm::ParseStatus::kOk);
    payloads.push_back(notification.data);
  }
  EXPECT_EQ(payloads, (std::vector<std::vector<uint8_t>>{payload_, other}));
}

TEST_F(TolmdSignalTest, UnreachableListenerLosesOnlyThatEvent) {
  auto gone =
      std::make_unique<nvo_test::TestListener>(nvo_test::ListenerOptions{.address = "127.0.0.2"});
  const uint16_t port = gone->port();
  nvo_test::TestListener stays({.address = "127.0.0.3"});
  EXPECT_EQ(registerListener(*gone, "lost"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(*gone, "kept"), answer(kAnswerRegister, 0));
  EXPECT_EQ(registerListener(stays, "lost"), answer(kAnswerRegister, 0));
  gone.reset();  // the port now refuses connections

  EXPECT_EQ(signal("lost", payload_), answer(kAnswerSignal, 0));
  ASSERT_TRUE(waitForDeliveries(1));
  EXPECT_TRUE(stays.waitForNotifications(1, 10s));
  EXPECT_TRUE(daemon().hasExactLine("* Note: Removing client from notify list."));
  EXPECT_TRUE(daemon().hasExactLine("* Client: 127.0.0.2:" + std::to_string(port)));
  EXPECT_TRUE(daemon().hasExactLine("* Socket exception caught in Signaler::notifyClient."));
  // The timed connect reports a refusal found during its wait as 110.
  EXPECT_TRUE(daemon().hasExactLine("* Errno: 110"));
  EXPECT_TRUE(daemon().hasExactLine("* What: connect"));
  EXPECT_TRUE(daemon().hasExactLine("* Where: InetSocket::connect"));
  EXPECT_TRUE(daemon().hasExactLine("Signaler::doSignal done [success=1] [fail=1]"));

  // Back on the same port: it still hears "kept", no longer "lost".
  nvo_test::TestListener back({.address = "127.0.0.2", .port = port});
  EXPECT_EQ(signal("lost", payload_), answer(kAnswerSignal, 0));
  EXPECT_EQ(signal("kept", payload_), answer(kAnswerSignal, 0));
  ASSERT_TRUE(back.waitForNotifications(1, 10s));
  ASSERT_TRUE(waitForDeliveries(3));
  EXPECT_EQ(back.notifyCount(), 1u);
  std::vector<uint8_t> packet = back.arrivals()[0].packet;
  tolm::Notification notification;
  ASSERT_EQ(tolm::parseNotify(std::span<const uint8_t>(packet).subspan(12), notification),
            tolm::ParseStatus::kOk);
  EXPECT_EQ(notification.name, "kept");
}

}  // namespace
}  // namespace tolmd_test
