#include "slp/codec.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "slp/wire_buffer.h"

namespace vslp {
namespace {

using Bytes = std::vector<uint8_t>;

AuthBlock sampleAuth() {
  return AuthBlock{2, 0x01020304, "spi-x", {9, 8, 7}};
}

// One message of every kind, with every optional part used somewhere.
std::vector<Message> everyKind() {
  Header h{kFlagMcast, 0x1234, "en", {}};
  Header fresh{kFlagFresh, 7, "de-CH", {Extension{kPidWatchExtension, {0, 0, 0x30, 0x39}}}};
  return {
      {h, SrvRqst{"192.0.2.9,192.0.2.10", "service:tolm.x", "DEFAULT", "(public_key=0)", ""}},
      {Header{kFlagOverflow, 1, "en", {}},
       SrvRply{0,
               {UrlEntry{65535, "service:tolm.x://10.0.0.5:3456", {}},
                UrlEntry{10, "service:printer:lpr://p", {sampleAuth()}}}}},
      {fresh, SrvReg{UrlEntry{300, "service:tolm.x://10.0.0.5:3456", {}},
                     "service:tolm.x",
                     "DEFAULT",
                     "(public_key=0),secure",
                     {sampleAuth()}}},
      {Header{0, 2, "en", {}},
       SrvDeReg{"DEFAULT", UrlEntry{0, "service:tolm.x://10.0.0.5:3456", {}}, "public_key"}},
      {Header{0, 3, "en", {}}, SrvAck{kInvalidRegistration}},
      {h, AttrRqst{"", "service:tolm.x://10.0.0.5:3456", "DEFAULT", "public_key,x*", ""}},
      {Header{0, 4, "en", {}}, AttrRply{0, "(public_key=0)", {sampleAuth()}}},
      {Header{0, 0, "en", {}},
       DaAdvert{0, 99, "service:directory-agent://192.0.2.1", "DEFAULT", "", "", {}}},
      {h, SrvTypeRqst{"", std::nullopt, "DEFAULT"}},
      {h, SrvTypeRqst{"1.2.3.4", std::string("x"), "DEFAULT"}},
      {Header{0, 5, "en", {}}, SrvTypeRply{0, "service:tolm.x,service:nvowsc.x"}},
      {Header{0, 6, "en", {}}, SaAdvert{"service:service-agent://192.0.2.1", "DEFAULT", "", {}}},
  };
}

TEST(CodecTest, EveryMessageKindRoundTrips) {
  for (const Message& m : everyKind()) {
    Bytes bytes = encode(m);
    DecodeResult d = decode(bytes);
    ASSERT_TRUE(d.message) << "function " << int(m.function()) << ": " << d.reason;
    EXPECT_EQ(*d.message, m) << "function " << int(m.function());
    EXPECT_EQ(bytes[1], static_cast<uint8_t>(m.function()));
    EXPECT_EQ(*peekLength(bytes), bytes.size());
  }
}

TEST(CodecTest, EncodesTheRfcLayoutOfAnAck) {
  Bytes bytes = encode(Message{Header{0, 0xabcd, "en", {}}, SrvAck{13}});
  Bytes expected{2, 5, 0, 0, 18, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 2, 'e', 'n', 0, 13};
  EXPECT_EQ(bytes, expected);
}

TEST(CodecTest, ChainsSeveralExtensions) {
  Message m{Header{0, 1, "en", {Extension{0x0001, {1}}, Extension{0x9799, {0, 0, 0, 5}}}},
            SrvAck{0}};
  Bytes bytes = encode(m);
  DecodeResult d = decode(bytes);
  ASSERT_TRUE(d.message) << d.reason;
  EXPECT_EQ(d.message->header.extensions, m.header.extensions);
}

TEST(CodecTest, ReplyMayEndAfterAnErrorCode) {
  // 2 | 2 | len 18 | flags | ext | xid | "en" | error 4: no URL count follows.
  Bytes bytes{2, 2, 0, 0, 18, 0, 0, 0, 0, 0, 0, 9, 0, 2, 'e', 'n', 0, 4};
  DecodeResult d = decode(bytes);
  ASSERT_TRUE(d.message) << d.reason;
  EXPECT_EQ(std::get<SrvRply>(d.message->body).error, 4);
}

struct BadInput {
  const char* name;
  std::function<void(Bytes&)> corrupt;
  uint16_t error;
  bool replyable;
};

void setLength(Bytes& b, size_t n) {
  b[2] = static_cast<uint8_t>(n >> 16);
  b[3] = static_cast<uint8_t>(n >> 8);
  b[4] = static_cast<uint8_t>(n);
}

void setExtOffset(Bytes& b, size_t n) {
  b[7] = static_cast<uint8_t>(n >> 16);
  b[8] = static_cast<uint8_t>(n >> 8);
  b[9] = static_cast<uint8_t>(n);
}

void append(Bytes& b, std::initializer_list<uint8_t> tail) {
  b.insert(b.end(), tail);
  setLength(b, b.size());
}

// A SrvRqst: header (16 bytes with "en"), then PRList "" | type "service:x" | scopes
// "DEFAULT" | predicate "" | SPI "".
Bytes validRequest() {
  return encode(Message{Header{0, 0x4242, "en", {}}, SrvRqst{"", "service:x", "DEFAULT", "", ""}});
}

TEST(CodecTest, RejectsBadInputs) {
  const size_t kTypeLength = 18;  // offset of the service-type length field
  std::vector<BadInput> cases = {
      {"empty", [](Bytes& b) { b.clear(); }, kParseError, false},
      {"shorter than a header", [](Bytes& b) { b.resize(10); }, kParseError, false},
      {"version 1", [](Bytes& b) { b[0] = 1; }, kVerNotSupported, false},
      {"function 0", [](Bytes& b) { b[1] = 0; }, kParseError, false},
      {"function 12", [](Bytes& b) { b[1] = 12; }, kParseError, false},
      {"length over-claims", [](Bytes& b) { setLength(b, b.size() + 1); }, kParseError, false},
      {"length under-claims", [](Bytes& b) { setLength(b, b.size() - 1); }, kParseError, false},
      {"truncated body",
       [](Bytes& b) {
         b.resize(b.size() - 3);
         setLength(b, b.size());
       },
       kParseError, true},
      {"reserved flag bit", [](Bytes& b) { b[6] = 0x01; }, kParseError, true},
      {"language tag over-claims", [](Bytes& b) { b[13] = 200; }, kParseError, false},
      {"empty language tag",
       [](Bytes& b) {
         b.erase(b.begin() + 14, b.begin() + 16);
         b[13] = 0;
         setLength(b, b.size());
       },
       kParseError, false},
      {"bad language tag", [](Bytes& b) { b[14] = '1'; }, kParseError, false},
      {"string over-claims", [](Bytes& b) { b[kTypeLength] = 0xff; }, kParseError, true},
      {"string not UTF-8", [](Bytes& b) { b[kTypeLength + 2] = 0xc0; }, kParseError, true},
      {"extension offset inside the header", [](Bytes& b) { setExtOffset(b, 5); }, kParseError,
       true},
      {"extension offset past the end", [](Bytes& b) { setExtOffset(b, b.size() + 10); },
       kParseError, true},
      {"extension header cut short",
       [](Bytes& b) {
         size_t at = b.size();
         append(b, {0, 1, 0});
         setExtOffset(b, at);
       },
       kParseError, true},
      {"extension offset loops back",
       [](Bytes& b) {
         size_t at = b.size();
         append(b, {0, 1, 0, 0, static_cast<uint8_t>(at)});
         setExtOffset(b, at);
       },
       kParseError, true},
      {"extension offset points at itself plus 2",
       [](Bytes& b) {
         size_t at = b.size();
         append(b, {0, 1, 0, 0, static_cast<uint8_t>(at + 2), 0, 0});
         setExtOffset(b, at);
       },
       kParseError, true},
      {"unknown mandatory extension",
       [](Bytes& b) {
         size_t at = b.size();
         append(b, {0x40, 0x01, 0, 0, 0});
         setExtOffset(b, at);
       },
       kOptionNotUnderstood, true},
  };
  for (const BadInput& c : cases) {
    Bytes b = validRequest();
    c.corrupt(b);
    DecodeResult d = decode(b);
    EXPECT_FALSE(d.message) << c.name;
    EXPECT_EQ(d.error, c.error) << c.name;
    EXPECT_EQ(d.replyable, c.replyable) << c.name;
    if (c.replyable) {
      EXPECT_EQ(d.xid, 0x4242) << c.name;
    }
  }
}

TEST(CodecTest, OptionalUnknownExtensionIsKept) {
  Bytes b = validRequest();
  size_t at = b.size();
  append(b, {0x00, 0x02, 0, 0, 0, 'z'});
  setExtOffset(b, at);
  DecodeResult d = decode(b);
  ASSERT_TRUE(d.message) << d.reason;
  ASSERT_EQ(d.message->header.extensions.size(), 1u);
  EXPECT_EQ(d.message->header.extensions[0].data, Bytes{'z'});
}

TEST(CodecTest, RejectsBadUrlEntriesAndAuthBlocks) {
  Message reply{Header{0, 1, "en", {}}, SrvRply{0, {UrlEntry{5, "service:x://h", {sampleAuth()}}}}};
  Bytes good = encode(reply);
  const size_t entry = 16 + 4;  // header + error + count
  const size_t auth = entry + 1 + 2 + 2 + 13 + 1;

  Bytes reserved = good;
  reserved[entry] = 1;
  EXPECT_FALSE(decode(reserved).message) << "reserved byte";

  Bytes count = good;
  count[18] = 0xff;  // URL count 0xff01 cannot fit
  EXPECT_FALSE(decode(count).message) << "URL count";

  Bytes shortBlock = good;
  shortBlock[auth + 3] = 9;  // block length below its fixed fields
  EXPECT_FALSE(decode(shortBlock).message) << "auth block length";

  Bytes longBlock = good;
  longBlock[auth + 3] = 200;  // block length beyond the message
  EXPECT_FALSE(decode(longBlock).message) << "auth block over-claims";

  Bytes authCount = good;
  authCount[auth - 1] = 40;
  EXPECT_FALSE(decode(authCount).message) << "auth count";
}

TEST(CodecTest, EncodeRefusesFieldsThatDoNotFit) {
  Message m{Header{}, SrvRqst{"", std::string(70000, 'a'), "DEFAULT", "", ""}};
  EXPECT_THROW(encode(m), WireError);
}

}  // namespace
}  // namespace vslp
