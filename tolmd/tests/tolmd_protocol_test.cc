// Every rejection and answer code of the event protocol, against the real daemon.
#include <cstring>
#include <thread>

#include "protocol/tolm_wire.h"
#include "tolmd/tests/tolmd_fixture.h"

namespace tolmd_test {
namespace {

using tolm::kAnswerBadChecksum;
using tolm::kAnswerDeregister;
using tolm::kAnswerRegister;
using tolm::kAnswerSignal;
using tolm::kAnswerUnknown;

class TolmdProtocolTest : public TolmdTest {
 protected:
  void SetUp() override {
    TolmdTest::SetUp();
    if (!IsSkipped()) {
      startDaemon();
    }
  }

  // A header with `function` and `length`, followed by `body`.
  static std::vector<uint8_t> raw(uint32_t version, uint32_t function, int32_t length,
                                  const std::vector<uint8_t>& body = {}) {
    tolm::HeaderBytes header = tolm::encodeHeader(tolm::Header{version, function, length});
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
  }

  // The request with its length word (bytes 8..11) and checksum set from its actual body.
  static std::vector<uint8_t> sealed(std::vector<uint8_t> request) {
    tolm::storeWord(request, 8, static_cast<uint32_t>(request.size() - tolm::kHeaderSize));
    fixChecksum(request);
    return request;
  }

  // Overwrites the 32-bit word at body offset `offset`, then reseals the checksum.
  static std::vector<uint8_t> withBodyWord(std::vector<uint8_t> request, std::size_t offset,
                                           uint32_t value) {
    tolm::storeWord(request, tolm::kHeaderSize + offset, value);
    fixChecksum(request);
    return request;
  }

  const std::vector<uint8_t> payload_{1, 2, 3, 4, 5};
};

TEST_F(TolmdProtocolTest, SignalIsAnsweredAtOnceEvenWithoutListeners) {
  EXPECT_EQ(signal("nobody.listens", payload_), answer(kAnswerSignal, 0));
  ASSERT_TRUE(waitForDeliveries(1));
  EXPECT_EQ(daemon().countLines("Signaler::doSignal done [success=0] [fail=0]"), 1u);
  EXPECT_TRUE(
      daemon().hasExactLine("TolmDaemon::doSignal - stagger type is 0x00000000 - default stagger"));
}

TEST_F(TolmdProtocolTest, WrongChecksumsAreAnsweredMinusThreeWithTheirCodes) {
  std::vector<uint8_t> signalBytes = signalRequest("x", payload_, 0, 0);
  std::vector<uint8_t> reg = listenerRequest(tolm::kFuncRegister, 0x0100007f, 0x3412, "x");
  std::vector<uint8_t> dereg = listenerRequest(tolm::kFuncDeregister, 0x0100007f, 0x3412, "x");
  for (auto* request : {&signalBytes, &reg, &dereg}) {
    request->back() ^= 0x01;  // the checksum no longer matches
  }
  EXPECT_EQ(send(signalBytes), answer(kAnswerBadChecksum, -3));
  EXPECT_EQ(send(reg), answer(kAnswerRegister, -3));
  EXPECT_EQ(send(dereg), answer(kAnswerDeregister, -3));
  EXPECT_TRUE(waitForLines("(Invalid checksum)", 2));
  EXPECT_TRUE(waitForLines("TolmDaemon::doRegistration - bad packet received from 127.0.0.1:", 1));
  // Each handler's own line, to the letter (the port of the client varies).
  auto lineOf = [&](const std::string& prefix) {
    for (const std::string& line : daemon().lines()) {
      if (line.rfind(prefix, 0) == 0) {
        return line.substr(line.find(' ', prefix.size()));
      }
    }
    return std::string("(none)");
  };
  EXPECT_EQ(lineOf("TolmDaemon::doRegistration - bad packet received from 127.0.0.1:"),
            " (invalid checksum)");
  EXPECT_EQ(lineOf("TolmDaemon::doDeregistration - bad packet received from 127.0.0.1:"),
            " (Invalid checksum)");
  EXPECT_EQ(lineOf("TolmDaemon::doSignal - bad packet received from 127.0.0.1:"),
            " (Invalid checksum)");
}

TEST_F(TolmdProtocolTest, RegisterNameLengthBoundIs1028) {
  nvo_test::TestListener listener;
  std::vector<uint8_t> longest =
      listenerRequest(tolm::kFuncRegister, listener.addressNetworkOrder(),
                      listener.portNetworkOrder(), std::string(1028, 'n'));
  EXPECT_EQ(send(longest), answer(kAnswerRegister, 0));
  std::vector<uint8_t> tooLong =
      listenerRequest(tolm::kFuncRegister, listener.addressNetworkOrder(),
                      listener.portNetworkOrder(), std::string(1029, 'n'));
  EXPECT_EQ(send(tooLong), answer(kAnswerRegister, -3));
  EXPECT_EQ(listener.pingCount(), 1u) << "only the valid request was probed";
}

TEST_F(TolmdProtocolTest, WrongVersionIsAnsweredMinusOneAfterTheBodyIsRead) {
  struct Case {
    uint32_t function;
    uint32_t code;
  } cases[] = {{tolm::kFuncRegister, kAnswerRegister},
               {tolm::kFuncDeregister, kAnswerDeregister},
               {tolm::kFuncSignal, kAnswerSignal},
               {0x12345678, kAnswerUnknown}};
  for (const Case& c : cases) {
    std::vector<uint8_t> request = raw(0x00010002, c.function, 20, std::vector<uint8_t>(20, 0));
    EXPECT_EQ(send(request), answer(c.code, -1)) << std::hex << c.function;
  }
  EXPECT_TRUE(waitForLines("has incompatible version func = Event Signal", 1));
}

TEST_F(TolmdProtocolTest, UnknownFunctionIsReadInFullAndAnsweredMinusFive) {
  for (int32_t length : {0, 100, 4096}) {
    std::vector<uint8_t> request =
        raw(kVersion, 0xF0000005, length, std::vector<uint8_t>(static_cast<size_t>(length), 9));
    EXPECT_EQ(send(request), answer(kAnswerUnknown, -5)) << length;
  }
  EXPECT_TRUE(waitForLines("(func id: -268435451)", 3));
}

TEST_F(TolmdProtocolTest, LengthsOutsideTheBoundsEndTheConversationUnanswered) {
  struct Case {
    uint32_t function;
    int32_t length;
    const char* label;
  } cases[] = {{tolm::kFuncRegister, 10, "Event Registration"},
               {tolm::kFuncDeregister, 10, "Event Deregistration"},
               {tolm::kFuncSignal, 15, "Event Signal"},
               {tolm::kFuncSignal, 4097, "Event Signal"},
               {tolm::kFuncRegister, -1, "Event Registration"},
               {0xF0000009, 4097, "Unknown"},
               {0xF0000009, -20, "Unknown"}};
  const std::string marker = "TolmDaemon::processConnection has packet size > 4K or < MIN on ";
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    std::vector<uint8_t> request = raw(kVersion, c.function, c.length, std::vector<uint8_t>(16));
    EXPECT_EQ(send(request), std::nullopt) << c.label << " " << c.length;
    expected.push_back(marker + c.label + ": Ignoring");
    EXPECT_TRUE(waitForLines(marker, expected.size()));
  }
  std::vector<std::string> logged;
  for (const std::string& line : daemon().lines()) {
    if (line.rfind(marker, 0) == 0) {
      logged.push_back(line);
    }
  }
  EXPECT_EQ(logged, expected);
}

TEST_F(TolmdProtocolTest, ShortHeaderGetsNoAnswer) {
  const std::vector<uint8_t> five{0, 1, 0, 1, 0xF0};
  EXPECT_EQ(send(five), std::nullopt);
  EXPECT_TRUE(
      waitForLines("TolmDaemon::processConnection failed to read request from 127.0.0.1:", 1));
}

TEST_F(TolmdProtocolTest, ShortBodyIsAnsweredMinusThreeWithTheFunctionsCode) {
  struct Case {
    uint32_t function;
    uint32_t code;
  } cases[] = {{tolm::kFuncRegister, kAnswerRegister},
               {tolm::kFuncSignal, kAnswerSignal},
               {0xF00000AA, kAnswerUnknown}};
  for (const Case& c : cases) {
    std::vector<uint8_t> request = raw(kVersion, c.function, 40, std::vector<uint8_t>(25));
    EXPECT_EQ(send(request), answer(c.code, -3)) << std::hex << c.function;
  }
  EXPECT_TRUE(waitForLines("(couldn't read all data) func = Unknown", 1));
}

TEST_F(TolmdProtocolTest, FieldsThatClaimMoreThanTheBodyAreAnsweredMinusThree) {
  nvo_test::TestListener listener;
  const std::vector<uint8_t> reg = listenerRequest(
      tolm::kFuncRegister, listener.addressNetworkOrder(), listener.portNetworkOrder(), "abc");
  const std::vector<uint8_t> dereg = listenerRequest(
      tolm::kFuncDeregister, listener.addressNetworkOrder(), listener.portNetworkOrder(), "abc");
  const std::vector<uint8_t> sig = signalRequest("abc", payload_, 0, 0);
  // Checksums are right, so only the bound checks can catch these.
  EXPECT_EQ(send(withBodyWord(reg, 10, 500)), answer(kAnswerRegister, -3));
  EXPECT_EQ(send(withBodyWord(reg, 10, 0xFFFFFFFF)), answer(kAnswerRegister, -3));
  EXPECT_EQ(send(withBodyWord(dereg, 10, 500)), answer(kAnswerDeregister, -3));
  EXPECT_EQ(send(withBodyWord(dereg, 10, 0x80000000)), answer(kAnswerDeregister, -3));
  EXPECT_EQ(send(withBodyWord(sig, 12, 1000)), answer(kAnswerSignal, -3));  // nameLength
  EXPECT_EQ(send(withBodyWord(sig, 12, 0xFFFFFFF0)), answer(kAnswerSignal, -3));
  EXPECT_EQ(send(withBodyWord(sig, 20, 6)), answer(kAnswerSignal, -3));  // dataLength 5 -> 6
  // REGISTER and DEREGISTER bodies of 11..13 bytes lack part of the fixed fields.
  std::vector<uint8_t> shortReg(reg.begin(), reg.begin() + tolm::kHeaderSize + 12);
  EXPECT_EQ(send(sealed(shortReg)), answer(kAnswerRegister, -3));
  EXPECT_EQ(listener.pingCount(), 0u);
  EXPECT_EQ(daemon().countLines("Signaler::doSignal - signaling"), 0u);
  EXPECT_TRUE(waitForLines("(fields exceed the packet)", 6));
  // Still serving.
  EXPECT_EQ(send(reg), answer(kAnswerRegister, 0));
}

TEST_F(TolmdProtocolTest, RequestSentInPiecesIsReadWhole) {
  const std::vector<uint8_t> request = signalRequest("pieces", payload_, 0, 0);
  nvo_test::RawConnection connection(port());
  const std::size_t cuts[] = {0, 5, 12, 20, request.size()};  // header and body split up
  for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
    ASSERT_TRUE(
        connection.send(std::span<const uint8_t>(request).subspan(cuts[i], cuts[i + 1] - cuts[i])));
    std::this_thread::sleep_for(50ms);
  }
  std::vector<uint8_t> bytes = connection.read(12, 15s);
  ASSERT_EQ(bytes.size(), 12u);
  EXPECT_EQ(tolm::loadWord(bytes, 4), kAnswerSignal);
  EXPECT_EQ(tolm::loadWord(bytes, 8), 0u);
}

TEST_F(TolmdProtocolTest, TricklingClientGetsTheConnectionTimeOutInAll) {
  // One body byte every half second would take over half an hour for 4096 bytes; the daemon
  // gives the whole body 10 seconds and answers -3.
  nvo_test::RawConnection connection(port());
  ASSERT_TRUE(connection.send(raw(kVersion, tolm::kFuncSignal, 4096)));
  const auto start = std::chrono::steady_clock::now();
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 60 && bytes.empty(); ++i) {
    const std::vector<uint8_t> one{0};
    connection.send(one);
    bytes = connection.read(12, 500ms);
  }
  ASSERT_EQ(bytes.size(), 12u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9s);
  EXPECT_EQ(tolm::loadWord(bytes, 4), kAnswerSignal);
  EXPECT_EQ(static_cast<int32_t>(tolm::loadWord(bytes, 8)), -3);
  EXPECT_TRUE(waitForLines("(couldn't read all data) func = Event Signal", 1));
}

TEST_F(TolmdProtocolTest, RegisterIsAnsweredOnlyAfterTheProbe) {
  nvo_test::TestListener slow({.ping = nvo_test::PingMode::kSlow, .answerDelay = 300ms});
  EXPECT_EQ(registerListener(slow, "probed"), answer(kAnswerRegister, 0));
  EXPECT_EQ(slow.pingCount(), 1u) << "the answer came after the PING";
}

}  // namespace
}  // namespace tolmd_test
