#include "brenxd/request_codec.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brenxd {
namespace {

TEST(RequestCodecTest, LengthsAreBigEndianBothWays) {
  for (uint32_t value : {0u, 1u, 1023u, 1024u, 0x01020304u, 0xFFFFFFFFu}) {
    const std::array<uint8_t, 4> bytes = encodeLength(value);
    EXPECT_EQ(decodeLength(bytes), value);
  }
  EXPECT_EQ(encodeLength(0x01020304u), (std::array<uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(decodeLength(kRefusal), 0xFFFFFFFFu);
}

TEST(RequestCodecTest, FieldTextEndsAtTheFirstNul) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::string text;
  } cases[] = {
      {{}, ""},
      {{'a', 'b'}, "ab"},
      {{'a', 0, 'b'}, "a"},
      {{0, 'x'}, ""},
      {{'0', 'A', '1', 'B', 0}, "0A1B"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fieldText(c.bytes), c.text);
  }
}

TEST(RequestCodecTest, ComputerNameTurnsDotsIntoDashesAndAppendsTheMac) {
  EXPECT_EQ(computerName("a.b.c", "0A1B"), "a-b-c-0A1B");
  EXPECT_EQ(computerName("", ""), "-");
  EXPECT_EQ(computerName("host", "00:16:3e:0a.1b"), "host-00:16:3e:0a.1b");
  EXPECT_EQ(computerName("..", "m"), "---m");
}

TEST(RequestCodecTest, AnswerIsLengthTextAndNul) {
  const std::string text = "<authentication/>";
  const std::vector<uint8_t> wire = encodeAnswer(text);
  ASSERT_EQ(wire.size(), text.size() + 5);
  EXPECT_EQ(decodeLength(std::span<const uint8_t, 4>(wire.data(), 4)), text.size() + 1);
  EXPECT_EQ(std::string(wire.begin() + 4, wire.end() - 1), text);
  EXPECT_EQ(wire.back(), 0);
}

TEST(RequestCodecTest, RequestHoldsBothFieldsWithTheirLengths) {
  const std::vector<uint8_t> wire = encodeRequest("ws1", "AB");
  const std::vector<uint8_t> expected = {0, 0, 0, 3, 'w', 's', '1', 0, 0, 0, 2, 'A', 'B'};
  EXPECT_EQ(wire, expected);
}

}  // namespace
}  // namespace brenxd
