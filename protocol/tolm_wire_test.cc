#include "protocol/tolm_wire.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tolm {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

// Hand-assembles a request body field by field; seal() stores the checksum of everything after
// the first word into that word, so bodies with bad counts still pass the checksum test.
class BodyBuilder {
 public:
  BodyBuilder() : bytes_(4, 0) {}
  BodyBuilder& word(uint32_t value) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + 4);
    storeWord(bytes_, at, value);
    return *this;
  }
  BodyBuilder& signedWord(int32_t value) { return word(static_cast<uint32_t>(value)); }
  BodyBuilder& raw(const Bytes& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
  }
  BodyBuilder& text(const std::string& more) { return raw(Bytes(more.begin(), more.end())); }
  BodyBuilder& fill(std::size_t count, uint8_t value) { return raw(Bytes(count, value)); }
  Bytes seal() const {
    Bytes sealed = bytes_;
    storeWord(sealed, 0, checksum(std::span<const uint8_t>(sealed).subspan(4)));
    return sealed;
  }
  Bytes sealWrong() const {
    Bytes sealed = seal();
    sealed[3] ^= 0x01;
    return sealed;
  }

 private:
  Bytes bytes_;
};

// A REGISTER/DEREGISTER body: address 127.0.0.1, port 0x1234 (both as sent), then the count.
BodyBuilder listenerFields(int32_t nameLength) {
  return BodyBuilder().raw({127, 0, 0, 1, 0x12, 0x34}).signedWord(nameLength);
}

std::span<const uint8_t> bodyOf(const Bytes& packet) {
  return std::span<const uint8_t>(packet).subspan(kHeaderSize);
}

Header headerOf(const Bytes& packet) {
  return decodeHeader(std::span<const uint8_t, kHeaderSize>(packet.data(), kHeaderSize));
}

const Bytes kFivePayloadBytes = {1, 2, 3, 4, 5};

TEST(TolmWireTest, SignalRequestIsByteExact) {
  const Bytes expected = {0x00, 0x01, 0x00, 0x01, 0xF0, 0x00,
                          0x00, 0x03, 0x00, 0x00, 0x00, 0x1D,  // header
                          0x00, 0x00, 0x01, 0x40,              // checksum 320
                          0x00, 0x00, 0x00, 0x02,              // staggerType
                          0x00, 0x00, 0x00, 0x00,              // staggerParam
                          0x00, 0x00, 0x00, 0x04,              // nameLength
                          'a',  'b',  'c',  0x00,              // name + NUL
                          0x00, 0x00, 0x00, 0x05,              // dataLength
                          0x01, 0x02, 0x03, 0x04, 0x05};
  const Bytes packet = buildSignalRequest("abc", kFivePayloadBytes, kStaggerSequential);
  EXPECT_EQ(packet, expected);
  ASSERT_EQ(packet.size(), 41u);
  EXPECT_EQ(headerOf(packet).length, 29);
  EXPECT_EQ(bodyOf(packet).size() - 4, 25u);  // bytes covered by the checksum
}

TEST(TolmWireTest, NotifyIsByteExactWithZeroPad) {
  const Bytes expected = {0x00, 0x01, 0x00, 0x01, 0xF0, 0x00,
                          0x00, 0x04, 0x00, 0x00, 0x00, 0x1D,  // header
                          0x00, 0x00, 0x01, 0x84,              // checksum 388
                          0x00, 0x00, 0x00, 0x01,              // staggerType
                          0x00, 0x00, 0x00, 0x04,              // nameLength N+1
                          'x',  'y',  'z',  0x00,              // name + NUL
                          0x00, 0x00, 0x00, 0x05,              // dataLength
                          0x01, 0x02, 0x03, 0x04, 0x05,        // data
                          0x00, 0x00, 0x00, 0x00};             // pad
  const Bytes packet = buildNotify("xyz", kStaggerTimed, kFivePayloadBytes);
  EXPECT_EQ(packet, expected);
  EXPECT_EQ(headerOf(packet).length, 29);
}

TEST(TolmWireTest, NotifyOfForwardedNameEndsInTwoNuls) {
  const std::string stored("abc\0", 4);  // a SIGNAL name whose NUL the client counted
  const Bytes packet = buildNotify(stored, 0, {});
  const auto body = bodyOf(packet);
  EXPECT_EQ(headerOf(packet).length, 4 + 0 + 21);
  EXPECT_EQ(loadWord(body, 8), 5u);
  EXPECT_EQ(Bytes(body.begin() + 12, body.begin() + 17), (Bytes{'a', 'b', 'c', 0, 0}));
  EXPECT_TRUE(checksumMatches(body));
}

TEST(TolmWireTest, ChecksumSumsUnsignedBytesAndWraps) {
  struct Case {
    const char* label;
    Bytes bytes;
    uint32_t sum;
  };
  const std::vector<Case> cases = {
      {"empty", {}, 0},
      {"small", {1, 2, 3}, 6},
      {"high bytes are unsigned", {0xFF, 0x80}, 0x17F},
      // 16843010 * 255 = 2^32 + 254.
      {"wraps modulo 2^32", Bytes(16843010, 0xFF), 254},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checksum(c.bytes), c.sum) << c.label;
  }
}

TEST(TolmWireTest, ChecksumMatchesNeedsAWordAndTheRightSum) {
  EXPECT_FALSE(checksumMatches(Bytes{0, 0, 0}));
  EXPECT_TRUE(checksumMatches(Bytes{0, 0, 0, 0}));  // empty remainder sums to 0
  EXPECT_TRUE(checksumMatches(Bytes{0, 0, 1, 0x01, 0xFF, 0x02}));
  EXPECT_FALSE(checksumMatches(Bytes{0, 0, 1, 0x02, 0xFF, 0x02}));
}

TEST(TolmWireTest, HeaderRoundTripsBigEndian) {
  const HeaderBytes bytes = encodeHeader({kProtocolVersion, kFuncSignal, -3});
  EXPECT_EQ(bytes,
            (HeaderBytes{0x00, 0x01, 0x00, 0x01, 0xF0, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF, 0xFD}));
  const Header header = decodeHeader(bytes);
  EXPECT_EQ(header.version, kProtocolVersion);
  EXPECT_EQ(header.function, kFuncSignal);
  EXPECT_EQ(header.length, -3);
}

TEST(TolmWireTest, PingAndAnswersAreTwelveBytes) {
  EXPECT_EQ(buildPing(), (HeaderBytes{0x00, 0x01, 0x00, 0x01, 0xF0, 0x00, 0x00, 0x06, 0, 0, 0, 0}));
  const Header answer = decodeHeader(buildAnswer(kAnswerUnknown, kRcInvalidRequest));
  EXPECT_EQ(answer.version, kProtocolVersion);
  EXPECT_EQ(answer.function, kAnswerUnknown);
  EXPECT_EQ(answer.length, kRcInvalidRequest);
  EXPECT_EQ(decodeHeader(buildAnswer(kAnswerRegister, kRcUnreachable)).length, -12);
}

TEST(TolmWireTest, FunctionLabelsAndAnswerCodes) {
  struct Case {
    uint32_t function;
    const char* label;
    uint32_t answer;
  };
  const Case cases[] = {
      {kFuncRegister, "Event Registration", kAnswerRegister},
      {kFuncDeregister, "Event Deregistration", kAnswerDeregister},
      {kFuncSignal, "Event Signal", kAnswerSignal},
      {kFuncNotify, "Unknown", kAnswerUnknown},  // daemon-to-listener codes are not requests
      {kFuncPing, "Unknown", kAnswerUnknown},
      {0, "Unknown", kAnswerUnknown},
      {0xF0000005, "Unknown", kAnswerUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(functionLabel(c.function), c.label) << std::hex << c.function;
    EXPECT_EQ(answerCodeFor(c.function), c.answer) << std::hex << c.function;
  }
}

TEST(TolmWireTest, BodyLengthBoundsPerFunction) {
  struct Case {
    uint32_t function;
    int32_t length;
    bool accepted;
  };
  const Case cases[] = {
      {kFuncRegister, 10, false},     {kFuncRegister, 11, true},
      {kFuncRegister, 4096, true},    {kFuncRegister, 4097, false},
      {kFuncRegister, -1, false},     {kFuncRegister, kInt32Min, false},
      {kFuncDeregister, 10, false},   {kFuncDeregister, 11, true},
      {kFuncDeregister, 4097, false}, {kFuncSignal, 15, false},
      {kFuncSignal, 16, true},        {kFuncSignal, 4096, true},
      {kFuncSignal, 4097, false},     {kFuncSignal, -16, false},
      {kFuncPing, 0, true},           {0x12345678, 0, true},
      {0x12345678, 4096, true},       {0x12345678, 4097, false},
      {0x12345678, -1, false},        {0x12345678, kInt32Max, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bodyLengthAcceptable(c.function, c.length), c.accepted)
        << std::hex << c.function << std::dec << " length " << c.length;
  }
}

struct ListenerCase {
  const char* label;
  Bytes body;
  bool isRegister;
  ParseStatus status;
  std::string name;
};

TEST(TolmWireTest, ParseListenerRequestTable) {
  const std::vector<ListenerCase> cases = {
      {"shorter than a checksum", {0, 0, 0}, true, ParseStatus::kTruncated, ""},
      {"length 11: no room for nameLength", BodyBuilder().fill(7, 1).seal(), true,
       ParseStatus::kTruncated, ""},
      {"length 13", BodyBuilder().fill(9, 1).seal(), false, ParseStatus::kTruncated, ""},
      {"empty name", listenerFields(0).seal(), true, ParseStatus::kOk, ""},
      {"deregister all", listenerFields(0).seal(), false, ParseStatus::kOk, ""},
      {"plain name", listenerFields(3).text("evt").seal(), true, ParseStatus::kOk, "evt"},
      {"cut at first NUL", listenerFields(5).raw({'a', 'b', 0, 'c', 'd'}).seal(), true,
       ParseStatus::kOk, "ab"},
      {"trailing bytes ignored", listenerFields(2).text("ok").fill(9, 7).seal(), false,
       ParseStatus::kOk, "ok"},
      {"register name 1028", listenerFields(1028).fill(1028, 'n').seal(), true, ParseStatus::kOk,
       std::string(1028, 'n')},
      {"register name 1029", listenerFields(1029).fill(1029, 'n').seal(), true,
       ParseStatus::kBadName, ""},
      {"deregister name 1029", listenerFields(1029).fill(1029, 'n').seal(), false, ParseStatus::kOk,
       std::string(1029, 'n')},
      {"register negative name", listenerFields(-1).seal(), true, ParseStatus::kBadName, ""},
      {"deregister negative name", listenerFields(-1).seal(), false, ParseStatus::kTruncated, ""},
      {"name beyond body", listenerFields(5).text("abc").seal(), true, ParseStatus::kTruncated, ""},
      {"huge name count", listenerFields(kInt32Max).text("abc").seal(), false,
       ParseStatus::kTruncated, ""},
      {"checksum tested before name", listenerFields(5000).sealWrong(), true,
       ParseStatus::kBadChecksum, ""},
      {"checksum tested before size", BodyBuilder().fill(7, 1).sealWrong(), false,
       ParseStatus::kBadChecksum, ""},
  };
  for (const ListenerCase& c : cases) {
    ListenerRequest out;
    EXPECT_EQ(parseListenerRequest(c.body, c.isRegister, out), c.status) << c.label;
    if (c.status == ParseStatus::kOk) {
      EXPECT_EQ(out.name, c.name) << c.label;
      const uint8_t* address = reinterpret_cast<const uint8_t*>(&out.address);
      EXPECT_EQ(Bytes(address, address + 4), (Bytes{127, 0, 0, 1})) << c.label;
      const uint8_t* port = reinterpret_cast<const uint8_t*>(&out.port);
      EXPECT_EQ(Bytes(port, port + 2), (Bytes{0x12, 0x34})) << c.label;
    }
  }
}

struct SignalCase {
  const char* label;
  Bytes body;
  ParseStatus status;
  std::string name;
  Bytes data;
};

BodyBuilder signalFields(int32_t nameLength) {
  return BodyBuilder().signedWord(kStaggerTimed).word(250).signedWord(nameLength);
}

TEST(TolmWireTest, ParseSignalRequestTable) {
  const std::vector<SignalCase> cases = {
      {"shorter than a checksum", {1, 2}, ParseStatus::kTruncated, "", {}},
      {"length 16: no dataLength", signalFields(0).seal(), ParseStatus::kTruncated, "", {}},
      {"smallest complete", signalFields(0).word(0).seal(), ParseStatus::kOk, "", {}},
      {"counted NUL kept",
       signalFields(4).raw({'a', 'b', 'c', 0}).word(2).raw({9, 8}).seal(),
       ParseStatus::kOk,
       std::string("abc\0", 4),
       {9, 8}},
      {"name beyond body", signalFields(8).text("abcd").seal(), ParseStatus::kTruncated, "", {}},
      {"name fits, dataLength does not",
       signalFields(4).text("abcd").raw({0, 0}).seal(),
       ParseStatus::kTruncated,
       "",
       {}},
      {"negative name", signalFields(-4).word(0).seal(), ParseStatus::kTruncated, "", {}},
      {"huge name count", signalFields(kInt32Max).word(0).seal(), ParseStatus::kTruncated, "", {}},
      {"data beyond body",
       signalFields(1).text("e").word(6).fill(5, 1).seal(),
       ParseStatus::kTruncated,
       "",
       {}},
      {"negative data",
       signalFields(1).text("e").signedWord(-1).seal(),
       ParseStatus::kTruncated,
       "",
       {}},
      {"huge data count",
       signalFields(1).text("e").signedWord(kInt32Max).fill(3, 1).seal(),
       ParseStatus::kTruncated,
       "",
       {}},
      {"bad checksum first", signalFields(-4).sealWrong(), ParseStatus::kBadChecksum, "", {}},
  };
  for (const SignalCase& c : cases) {
    SignalRequest out;
    EXPECT_EQ(parseSignalRequest(c.body, out), c.status) << c.label;
    if (c.status == ParseStatus::kOk) {
      EXPECT_EQ(out.staggerType, kStaggerTimed) << c.label;
      EXPECT_EQ(out.staggerParam, 250) << c.label;
      EXPECT_EQ(out.name, c.name) << c.label;
      EXPECT_EQ(out.data, c.data) << c.label;
    }
  }
}

BodyBuilder notifyFields(int32_t nameLength) {
  return BodyBuilder().signedWord(kStaggerSequential).signedWord(nameLength);
}

TEST(TolmWireTest, ParseNotifyTable) {
  const std::vector<SignalCase> cases = {
      {"shorter than a checksum", {}, ParseStatus::kTruncated, "", {}},
      {"no nameLength", BodyBuilder().word(2).seal(), ParseStatus::kTruncated, "", {}},
      {"no dataLength", notifyFields(2).text("a").seal(), ParseStatus::kTruncated, "", {}},
      {"with pad",
       notifyFields(4).raw({'a', 'b', 0, 0}).word(1).raw({7}).word(0).seal(),
       ParseStatus::kOk,
       "ab",
       {7}},
      {"without pad", notifyFields(2).raw({'a', 0}).word(0).seal(), ParseStatus::kOk, "a", {}},
      {"negative name", notifyFields(-1).word(0).seal(), ParseStatus::kTruncated, "", {}},
      {"data beyond body",
       notifyFields(1).raw({0}).word(9).fill(8, 1).seal(),
       ParseStatus::kTruncated,
       "",
       {}},
      {"negative data",
       notifyFields(1).raw({0}).signedWord(-2).seal(),
       ParseStatus::kTruncated,
       "",
       {}},
      {"bad checksum",
       notifyFields(1).raw({0}).word(0).sealWrong(),
       ParseStatus::kBadChecksum,
       "",
       {}},
  };
  for (const SignalCase& c : cases) {
    Notification out;
    EXPECT_EQ(parseNotify(c.body, out), c.status) << c.label;
    if (c.status == ParseStatus::kOk) {
      EXPECT_EQ(out.staggerType, kStaggerSequential) << c.label;
      EXPECT_EQ(out.name, c.name) << c.label;
      EXPECT_EQ(out.data, c.data) << c.label;
    }
  }
}

TEST(TolmWireTest, SignalRoundTripsIntoNotify) {
  struct Case {
    std::string name;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {"abc", kFivePayloadBytes}, {"", {}}, {"event.name", Bytes(4000, 0xAB)}};
  for (const Case& c : cases) {
    const Bytes request = buildSignalRequest(c.name, c.data, kStaggerSequential);
    const Header header = headerOf(request);
    EXPECT_EQ(header.function, kFuncSignal);
    EXPECT_EQ(request.size(), 33 + c.name.size() + c.data.size());
    ASSERT_EQ(header.length, static_cast<int32_t>(request.size() - kHeaderSize));
    EXPECT_TRUE(bodyLengthAcceptable(header.function, header.length));

    SignalRequest signal;
    ASSERT_EQ(parseSignalRequest(bodyOf(request), signal), ParseStatus::kOk) << c.name;
    EXPECT_EQ(signal.name, c.name + std::string(1, '\0'));
    EXPECT_EQ(signal.data, c.data);
    EXPECT_EQ(signal.staggerType, kStaggerSequential);
    EXPECT_EQ(signal.staggerParam, 0);

    const Bytes notify = buildNotify(signal.name, signal.staggerType, signal.data);
    EXPECT_EQ(headerOf(notify).length,
              static_cast<int32_t>(signal.name.size() + signal.data.size() + 21));
    Notification note;
    ASSERT_EQ(parseNotify(bodyOf(notify), note), ParseStatus::kOk) << c.name;
    EXPECT_EQ(note.name, c.name);
    EXPECT_EQ(note.data, c.data);
    EXPECT_EQ(note.staggerType, kStaggerSequential);
  }
}

TEST(TolmWireTest, ListenerRequestsRoundTrip) {
  const uint32_t address = 0x0100007F;  // 127.0.0.1 as it sits in memory on this host
  const uint16_t port = 0x5000;
  for (uint32_t function : {kFuncRegister, kFuncDeregister}) {
    for (const std::string& name : {std::string(), std::string("evt"), std::string(1028, 'q')}) {
      const Bytes request = buildListenerRequest(function, address, port, name);
      const Header header = headerOf(request);
      EXPECT_EQ(header.function, function);
      EXPECT_EQ(header.length, static_cast<int32_t>(14 + name.size()));
      EXPECT_TRUE(bodyLengthAcceptable(function, header.length));
      ListenerRequest out;
      ASSERT_EQ(parseListenerRequest(bodyOf(request), function == kFuncRegister, out),
                ParseStatus::kOk);
      EXPECT_EQ(out.address, address);
      EXPECT_EQ(out.port, port);
      EXPECT_EQ(out.name, name);
    }
  }
}

}  // namespace
}  // namespace tolm
